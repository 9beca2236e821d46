#include "platform/child_start.h"

#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace lumira::platform {

namespace {

void closeFrom(int first, int highestToTry) {
#ifdef SYS_close_range
    if (::syscall(SYS_close_range, unsigned(first), ~0U, 0U) == 0)
        return;
#endif
    // Kernels before 5.9: the entries of /proc/self/fd, read into a buffer on the stack, until
    // a pass finds nothing left to close.
    const int folder = ::open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        for (bool closedSome = true; closedSome;) {
            closedSome = false;
            ::lseek(folder, 0, SEEK_SET);
            alignas(dirent64) char buffer[4096];
            for (ssize_t n; (n = ::getdents64(folder, buffer, sizeof buffer)) > 0;) {
                for (ssize_t at = 0; at < n;) {
                    const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
                    at += entry->d_reclen;
                    int fd = 0;
                    for (const char* c = entry->d_name; *c >= '0' && *c <= '9'; ++c)
                        fd = fd * 10 + (*c - '0');
                    if (fd >= first && fd != folder && entry->d_name[0] != '.') {
                        ::close(fd);
                        closedSome = true;
                    }
                }
            }
        }
        ::close(folder);
        return;
    }
    for (int fd = first; fd <= highestToTry; ++fd) // no /proc either: every number there may be
        ::close(fd);
}

} // namespace

int highestDescriptor() {
    struct rlimit limit {};
    return ::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < 65536
               ? int(limit.rlim_cur) - 1
               : 65535;
}

void prepareChildForExec(int first, int highestToTry) {
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    ::sigaction(SIGPIPE, &byDefault, nullptr);
    closeFrom(first, highestToTry);
}

} // namespace lumira::platform
