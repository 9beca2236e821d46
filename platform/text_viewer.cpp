#include "platform/text_viewer.h"

#include <QFile>
#include <QStandardPaths>
#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace lumira::platform {

namespace {

std::function<void(const QString&)>& launcher() {
    static std::function<void(const QString&)> current;
    return current;
}

// Closes every descriptor from 3 up. Runs between fork() and exec() of a program with many
// threads, so it only makes system calls: nothing that allocates or takes a lock.
void closeFromThree(int highestToTry) {
#ifdef SYS_close_range
    if (::syscall(SYS_close_range, 3U, ~0U, 0U) == 0)
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
                    if (fd >= 3 && fd != folder && entry->d_name[0] != '.') {
                        ::close(fd);
                        closedSome = true;
                    }
                }
            }
        }
        ::close(folder);
        return;
    }
    for (int fd = 3; fd <= highestToTry; ++fd) // no /proc either: every number there may be
        ::close(fd);
}

} // namespace

bool startDetachedProgram(const QString& program, const QStringList& arguments) {
    const QString found = program.contains('/') ? program : QStandardPaths::findExecutable(program);
    if (found.isEmpty() || ::access(QFile::encodeName(found).constData(), X_OK) != 0)
        return false;
    // Everything the child needs is made here: after fork() it may not allocate.
    const QByteArray path = QFile::encodeName(found);
    std::vector<QByteArray> words{QFile::encodeName(program)};
    for (const QString& argument : arguments)
        words.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    struct rlimit limit {};
    const int highest = ::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < 65536
                            ? int(limit.rlim_cur) - 1
                            : 65535;

    const pid_t middle = ::fork();
    if (middle < 0)
        return false;
    if (middle == 0) {
        // The middle process starts the program and ends at once, so the program belongs to
        // the system's reaper from its first moment.
        const pid_t child = ::fork();
        if (child != 0)
            ::_exit(child < 0 ? 1 : 0);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        struct sigaction byDefault {};
        byDefault.sa_handler = SIG_DFL;
        ::sigaction(SIGPIPE, &byDefault, nullptr);
        closeFromThree(highest);
        ::execve(path.constData(), argv.data(), environ);
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(middle, &status, 0) < 0) {
        if (errno != EINTR)
            return true; // reaped elsewhere: its outcome is unknown, the start went ahead
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void openInTextViewer(const QString& path) {
    if (launcher()) {
        launcher()(path);
        return;
    }
    startDetachedProgram(QStringLiteral("xdg-open"), {path});
}

void setTextViewerLauncher(std::function<void(const QString& path)> replacement) {
    launcher() = std::move(replacement);
}

} // namespace lumira::platform
