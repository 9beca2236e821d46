#include "common/safe_file.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace lumira {

namespace detail {
std::function<bool(const std::string&)> beforeReplaceHook;
}

namespace {

constexpr mode_t kNewFileMode = 0600;

// Whether `target` is still what the caller read: the same file as `old`, or, without `old`,
// still missing. A symbolic link never is.
bool unchangedSince(const std::string& target, const struct stat* old) {
    struct stat now {};
    if (lstat(target.c_str(), &now) != 0)
        return !old && errno == ENOENT;
    return old && S_ISREG(now.st_mode) && now.st_dev == old->st_dev && now.st_ino == old->st_ino;
}

// Temporary files of `name` that an earlier write left when the program was killed or the
// power went between creating and renaming them.
void removeLeftovers(const std::string& folder, const std::string& prefix) {
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return;
    while (const dirent* entry = readdir(dir)) {
        const std::string_view found = entry->d_name;
        if (found.size() == prefix.size() + 6 && found.starts_with(prefix))
            unlinkat(dirfd(dir), entry->d_name, 0);
    }
    closedir(dir);
}

} // namespace

bool readRegularFile(const std::string& path, std::string& out, Links links, struct stat* found) {
    // Non-blocking, so that a FIFO without a writer does not hold the program at open().
    const int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    const int fd = open(path.c_str(), links == Links::Refuse ? flags | O_NOFOLLOW : flags);
    if (fd < 0)
        return false;
    struct stat st {};
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (found)
        *found = st;
    char buffer[65536];
    while (ok) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n == 0)
            break;
        if (n > 0)
            out.append(buffer, size_t(n));
        else
            ok = errno == EINTR;
    }
    close(fd);
    return ok;
}

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data.remove_prefix(size_t(n));
    }
    return true;
}

bool isWritable(const std::string& path, const struct stat& st) {
    return (st.st_mode & 0222) != 0 && access(path.c_str(), W_OK) == 0;
}

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == path.npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

void replaceFile(const std::string& target, const std::string& content, const struct stat* old) {
    const std::string folder = folderOf(target);
    const std::string name = target.substr(target.rfind('/') + 1);
    std::string prefix(1, '.');
    prefix.append(name, 0, 100).push_back('.');
    removeLeftovers(folder, prefix);
    std::string temp = folder + "/" + prefix + "XXXXXX";
    const int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return;
    bool ok = writeAll(fd, content);
    if (ok && old && fchown(fd, old->st_uid, old->st_gid) != 0) {
        // Not permitted for ordinary users on others' files; the folder owner's file is fine.
    }
    ok = ok && fchmod(fd, old ? old->st_mode & 07777 : kNewFileMode) == 0;
    ok = ok && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (ok && detail::beforeReplaceHook)
        ok = detail::beforeReplaceHook(temp);
    // rename() replaces a link rather than following it, but whatever took the file's place
    // since it was read is left alone: its owner did not ask for this content.
    ok = ok && unchangedSince(target, old);
    if (!ok || rename(temp.c_str(), target.c_str()) != 0) {
        unlink(temp.c_str());
        return;
    }
    const int dirFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        fsync(dirFd); // make the rename itself durable; best effort
        close(dirFd);
    }
}

} // namespace lumira
