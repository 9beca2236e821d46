#include "platform/end_signals.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lumira::platform {

namespace {
int wakeFds[2] = {-1, -1};

void onSignal(int) {
    const int saved = errno; // the interrupted code may be about to read it
    const char byte = 1;
    [[maybe_unused]] ssize_t written = ::write(wakeFds[0], &byte, 1);
    errno = saved;
}

// A hang-up that was ignored when the program started (nohup) stays ignored.
bool ignoredAtStart(int signal) {
    struct sigaction current {};
    return ::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}
} // namespace

EndSignals::EndSignals(QObject* parent) : QObject(parent) {
    if (wakeFds[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, wakeFds) != 0)
        return;
    for (int fd : wakeFds)
        ::fcntl(fd, F_SETFL, O_NONBLOCK);
    auto* notifier = new QSocketNotifier(wakeFds[1], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        while (::read(wakeFds[1], bytes, sizeof bytes) > 0) {
        }
        emit endRequested();
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        if (signal != SIGHUP || !ignoredAtStart(signal))
            ::sigaction(signal, &action, nullptr);
    }
}

} // namespace lumira::platform
