#include "display/chromium/profile_lock.h"

#include <QCryptographicHash>
#include <QFile>
#include <cerrno>
#include <charconv>
#include <climits>
#include <pwd.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace lumira::chromium {

namespace {

// The target of the link at `path`; empty, with `error` set, when it cannot be read (EINVAL:
// something that is no link stands there).
std::string readLink(const QByteArray& path, int& error) {
    std::string target(PATH_MAX, '\0');
    const ssize_t length = ::readlink(path.constData(), target.data(), target.size());
    error = length < 0 ? errno : 0;
    target.resize(length > 0 ? size_t(length) : 0);
    return target;
}

std::string hostName() {
    char name[HOST_NAME_MAX + 1] = {};
    return ::gethostname(name, sizeof name - 1) == 0 ? std::string(name) : std::string();
}

QByteArray cacheHome() {
    const QByteArray xdg = qgetenv("XDG_CACHE_HOME");
    if (xdg.startsWith('/'))
        return xdg;
    const passwd* user = ::getpwuid(::getuid());
    return user && user->pw_dir && user->pw_dir[0] == '/' ? QByteArray(user->pw_dir) + "/.cache"
                                                          : QByteArray();
}

// Makes every missing folder of the absolute `path` with mode 0700.
void makeFolders(const QByteArray& path) {
    for (qsizetype end = path.indexOf('/', 1);; end = path.indexOf('/', end + 1)) {
        const QByteArray part = end < 0 ? path : path.left(end);
        if (!part.isEmpty())
            ::mkdir(part.constData(), 0700); // an existing folder stays as it is
        if (end < 0)
            return;
    }
}

} // namespace

LockState judgeProfileLock(const std::string& target, const std::string& host,
                           const std::function<bool(long pid)>& running) {
    if (target.empty())
        return LockState::Free;
    const size_t dash = target.rfind('-');
    if (host.empty() || dash == std::string::npos ||
        std::string_view(target).substr(0, dash) != host)
        return LockState::Held;
    const std::string_view digits = std::string_view(target).substr(dash + 1);
    long pid = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), pid);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() || pid <= 0)
        return LockState::Stale;
    return running(pid) ? LockState::Held : LockState::Stale;
}

bool chromiumRuns(long pid) {
    if (pid <= 0 || pid > INT_MAX)
        return false;
    const QByteArray exe = "/proc/" + QByteArray::number(qlonglong(pid)) + "/exe";
    int error = 0;
    std::string target = readLink(exe, error);
    if (target.empty()) // gone (or a zombie), or another user's process, which is left alone
        return error == EACCES || error == EPERM;
    constexpr std::string_view kDeleted = " (deleted)";
    if (target.ends_with(kDeleted))
        target.resize(target.size() - kDeleted.size());
    return target.substr(target.rfind('/') + 1).starts_with("chromium");
}

QString profileFolder(const QString& programFolder) {
    const QByteArray cache = cacheHome();
    if (cache.isEmpty())
        return {};
    const QByteArray hash =
        QCryptographicHash::hash(programFolder.toUtf8(), QCryptographicHash::Sha256).toHex();
    const QByteArray folder = cache + "/lumira/chromium-" + hash.left(16);
    makeFolders(folder);
    struct stat st {};
    if (::lstat(folder.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
        return {};
    if ((st.st_mode & 077) != 0 && ::chmod(folder.constData(), 0700) != 0)
        return {};
    return QString::fromUtf8(folder);
}

bool clearStaleProfileLock(const QString& profile) {
    const QByteArray base = QFile::encodeName(profile) + "/Singleton";
    int error = 0;
    const std::string target = readLink(base + "Lock", error);
    if (error == ENOENT)
        return true;
    // Something that is no link was made by no Chromium; a link that cannot be read is left.
    if (error != EINVAL &&
        (error != 0 || judgeProfileLock(target, hostName(), chromiumRuns) != LockState::Stale))
        return false;
    for (const char* name : {"Lock", "Socket", "Cookie"})
        if (::unlink((base + name).constData()) != 0 && errno != ENOENT)
            return false;
    return true;
}

} // namespace lumira::chromium
