#include "platform/single_instance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QSocketNotifier>
#include <QThread>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace lumira::platform {

namespace {

constexpr int kConnectPauseMs = 20; // the first copy may have bound but not yet listen()ed
constexpr int kKnockTimeoutMs = 1000;
constexpr int kPeerReadMs = 100; // a peer sends its byte right after connecting
constexpr char kAnswer = 1;

// An abstract socket address (leading NUL): nothing in the file system to go stale.
socklen_t addressFor(const QString& key, sockaddr_un& address) {
    const QByteArray digest =
        QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha256).toHex().left(32);
    const QByteArray name = "lumira-" + QByteArray::number(::getuid()) + "-" + digest;
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.constData(), size_t(name.size()));
    return socklen_t(offsetof(sockaddr_un, sun_path) + 1 + size_t(name.size()));
}

bool waitFor(int fd, short events, const QDeadlineTimer& deadline) {
    pollfd entry{fd, events, 0};
    for (;;) {
        const int left = int(deadline.remainingTime());
        if (left <= 0)
            return false;
        const int ready = ::poll(&entry, 1, left);
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            return false;
    }
}

// One attempt: connected, the request sent and the answer read before the deadline. `busy`:
// nobody listens yet, or the listen queue is full (a copy that is frozen or just starting).
bool askOnce(const sockaddr_un& address, socklen_t length, char request,
             const QDeadlineTimer& deadline, bool& busy) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return false;
    bool answered = false;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0) {
        char answer = 0;
        answered = ::send(fd, &request, 1, MSG_NOSIGNAL) == 1 && waitFor(fd, POLLIN, deadline) &&
                   ::recv(fd, &answer, 1, 0) == 1 && answer == kAnswer;
    } else {
        busy = errno == ECONNREFUSED || errno == EAGAIN;
    }
    ::close(fd);
    return answered;
}

} // namespace

bool SingleInstance::ask(const QString& key, Request request, int timeoutMs) {
    sockaddr_un address{};
    const socklen_t length = addressFor(key, address);
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        bool busy = false;
        if (askOnce(address, length, char(request), deadline, busy))
            return true;
        if (!busy || deadline.remainingTime() <= kConnectPauseMs)
            return false;
        QThread::msleep(kConnectPauseMs);
    }
}

SingleInstance::SingleInstance(const QString& key, QObject* parent) : QObject(parent) {
    sockaddr_un address{};
    const socklen_t length = addressFor(key, address);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        // Any other failure leaves nothing to tell two copies apart, so this one runs.
        first_ = errno != EADDRINUSE;
        ::close(fd);
        if (!first_)
            ask(key, Request::ComeForward, kKnockTimeoutMs);
        return;
    }
    ::listen(fd, 4);
    listener_ = fd;
    notifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &SingleInstance::acceptAll);
}

SingleInstance::~SingleInstance() {
    if (listener_ >= 0)
        ::close(listener_);
}

void SingleInstance::acceptAll() {
    bool comeForward = false;
    bool openSettings = false;
    for (int peer; (peer = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
        const timeval wait{0, kPeerReadMs * 1000};
        ::setsockopt(peer, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        ::setsockopt(peer, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
        char request = 0;
        const bool read = ::recv(peer, &request, 1, 0) == 1;
        if (read && request == char(Request::OpenSettings))
            openSettings = true;
        else
            comeForward = true; // also a peer that said nothing
        [[maybe_unused]] const ssize_t sent = ::send(peer, &kAnswer, 1, MSG_NOSIGNAL);
        ::close(peer);
    }
    if (comeForward)
        emit activationRequested();
    if (openSettings)
        emit settingsRequested();
}

} // namespace lumira::platform
