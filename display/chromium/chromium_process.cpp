#include "display/chromium/chromium_process.h"

#include "platform/child_start.h"

#include <QSocketNotifier>
#include <QString>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace lumira::chromium {

namespace {
constexpr int kReadChunk = 1 << 20;
constexpr int kEndWaitMs = 3000;

// A descriptor that becomes readable when the process ends; -1 on kernels before 5.3.
int processFd(pid_t pid) {
#ifdef SYS_pidfd_open
    return int(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    return -1;
#endif
}

QString howItEnded(int status) {
    if (WIFSIGNALED(status))
        return QStringLiteral("signal %1").arg(WTERMSIG(status));
    return QStringLiteral("exit %1").arg(WEXITSTATUS(status));
}
} // namespace

ChromiumProcess::ChromiumProcess(QObject* parent) : QObject(parent) {}

ChromiumProcess::~ChromiumProcess() {
    end(kEndWaitMs);
}

bool ChromiumProcess::start(const QByteArray& executable, const QList<QByteArray>& arguments) {
    int commands[2];
    int replies[2];
    if (::pipe2(commands, O_CLOEXEC) != 0)
        return false;
    if (::pipe2(replies, O_CLOEXEC) != 0) {
        ::close(commands[0]);
        ::close(commands[1]);
        return false;
    }
    // Everything the child needs is made here: after fork() it may not allocate.
    std::vector<QByteArray> words{executable};
    for (const QByteArray& argument : arguments)
        words.push_back(argument);
    std::vector<char*> argv;
    for (QByteArray& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    const int highest = platform::highestDescriptor();
    const int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    const pid_t parent = ::getpid();

    const pid_t child = ::fork();
    if (child == 0) {
        ::setpgid(0, 0);
        // A sign killed outright takes its browser with it.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        // Chromium's own log lines would fill the sign's journal; the sign says what matters.
        if (devNull >= 0) {
            ::dup2(devNull, STDIN_FILENO);
            ::dup2(devNull, STDOUT_FILENO);
            ::dup2(devNull, STDERR_FILENO);
        }
        // Descriptors 3 and 4 are the pipe's ends, as --remote-debugging-pipe expects.
        const int in = ::fcntl(commands[0], F_DUPFD, 10);
        const int out = ::fcntl(replies[1], F_DUPFD, 10);
        if (in < 0 || out < 0 || ::dup2(in, 3) != 3 || ::dup2(out, 4) != 4)
            ::_exit(127);
        platform::prepareChildForExec(5, highest);
        ::execve(executable.constData(), argv.data(), environ);
        ::_exit(127);
    }
    if (devNull >= 0)
        ::close(devNull);
    ::close(commands[0]);
    ::close(replies[1]);
    if (child < 0) {
        ::close(commands[1]);
        ::close(replies[0]);
        return false;
    }
    pid_ = child;
    toChromium_ = commands[1];
    fromChromium_ = replies[0];
    ::fcntl(toChromium_, F_SETFL, ::fcntl(toChromium_, F_GETFL) | O_NONBLOCK);
    ::fcntl(fromChromium_, F_SETFL, ::fcntl(fromChromium_, F_GETFL) | O_NONBLOCK);
    readable_ = new QSocketNotifier(fromChromium_, QSocketNotifier::Read, this);
    connect(readable_, &QSocketNotifier::activated, this, &ChromiumProcess::readMessages);
    writable_ = new QSocketNotifier(toChromium_, QSocketNotifier::Write, this);
    writable_->setEnabled(false);
    connect(writable_, &QSocketNotifier::activated, this, &ChromiumProcess::writePending);
    pidFd_ = processFd(child);
    if (pidFd_ >= 0) {
        ::fcntl(pidFd_, F_SETFD, FD_CLOEXEC);
        exited_ = new QSocketNotifier(pidFd_, QSocketNotifier::Read, this);
        connect(exited_, &QSocketNotifier::activated, this, &ChromiumProcess::reap);
    }
    return true;
}

void ChromiumProcess::send(const QJsonObject& message) {
    if (toChromium_ < 0)
        return;
    outgoing_ += PipeFraming::frame(message);
    writePending();
}

void ChromiumProcess::writePending() {
    while (!outgoing_.isEmpty()) {
        const ssize_t written =
            ::write(toChromium_, outgoing_.constData(), size_t(outgoing_.size()));
        if (written > 0) {
            outgoing_.remove(0, written);
            continue;
        }
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0 && errno == EAGAIN)
            break;
        outgoing_.clear(); // the pipe is closed: the end is reported by the read side
        break;
    }
    if (writable_)
        writable_->setEnabled(!outgoing_.isEmpty());
}

void ChromiumProcess::readMessages() {
    QByteArray chunk(kReadChunk, Qt::Uninitialized);
    for (;;) {
        const ssize_t got = ::read(fromChromium_, chunk.data(), size_t(chunk.size()));
        if (got > 0) {
            for (const QJsonObject& message : framing_.take(chunk.left(got)))
                emit received(message);
            if (fromChromium_ < 0)
                return; // a handler ended the process
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && errno == EAGAIN)
            return;
        // The pipe closed: Chromium ended or dropped us; either way it is started again.
        closePipes();
        reap();
        if (pid_ > 0) {
            end(kEndWaitMs);
            emit ended(QStringLiteral("pipe closed"));
        }
        return;
    }
}

void ChromiumProcess::reap() {
    if (pid_ <= 0)
        return;
    int status = 0;
    const pid_t done = ::waitpid(pid_t(pid_), &status, WNOHANG);
    if (done != pid_t(pid_))
        return;
    const qint64 group = pid_;
    pid_ = 0;
    ::kill(-pid_t(group), SIGKILL); // what is left of its processes
    closePipes();
    emit ended(howItEnded(status));
}

void ChromiumProcess::end(int graceMs) {
    closePipes();
    if (pid_ <= 0)
        return;
    const auto group = pid_t(pid_);
    pid_ = 0;
    ::kill(-group, SIGTERM);
    int status = 0;
    for (int waited = 0; waited < graceMs; waited += 10) {
        if (::waitpid(group, &status, WNOHANG) == group) {
            ::kill(-group, SIGKILL);
            return;
        }
        ::usleep(10000);
    }
    ::kill(-group, SIGKILL);
    ::waitpid(group, &status, 0);
}

void ChromiumProcess::closePipes() {
    // Called from the notifiers' own signals: they go once those have returned.
    for (QSocketNotifier* notifier : {readable_, writable_, exited_}) {
        if (notifier) {
            notifier->setEnabled(false);
            notifier->deleteLater();
        }
    }
    readable_ = writable_ = exited_ = nullptr;
    for (int* fd : {&toChromium_, &fromChromium_, &pidFd_}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    outgoing_.clear();
}

} // namespace lumira::chromium
