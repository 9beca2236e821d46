#include "platform/runtime_folder.h"

#include <cstdlib>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace lumira::platform {

void ensureRuntimeFolder() {
    const char* current = std::getenv("XDG_RUNTIME_DIR");
    if (current && *current)
        return;
    const passwd* user = ::getpwuid(::geteuid());
    if (!user || !user->pw_name)
        return;
    const char* temp = std::getenv("TMPDIR");
    const std::string folder =
        std::string(temp && *temp ? temp : "/tmp") + "/runtime-" + user->pw_name;
    ::mkdir(folder.c_str(), 0700);
    struct stat st {};
    // Only a folder that is ours and private; anything else is left to Qt to complain about.
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() ||
        (st.st_mode & 0777) != 0700)
        return;
    ::setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
}

} // namespace lumira::platform
