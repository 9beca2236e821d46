#include "platform/single_instance.h"

#include <QCryptographicHash>
#include <QSocketNotifier>
#include <QThread>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace lumira::platform {

namespace {

constexpr int kConnectTries = 50; // the first copy may have bound but not yet listen()ed
constexpr int kConnectPauseMs = 20;

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

// Tells the copy that listens at `address` to come forward.
void knock(const sockaddr_un& address, socklen_t length) {
    for (int attempt = 0; attempt < kConnectTries; ++attempt) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return;
        const bool reached =
            ::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0;
        if (reached) {
            const char byte = 1;
            [[maybe_unused]] const ssize_t sent = ::send(fd, &byte, 1, MSG_NOSIGNAL);
        }
        ::close(fd);
        if (reached)
            return;
        QThread::msleep(kConnectPauseMs);
    }
}

} // namespace

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
            knock(address, length);
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
    bool knocked = false;
    for (int peer; (peer = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
        ::close(peer);
        knocked = true;
    }
    if (knocked)
        emit activationRequested();
}

} // namespace lumira::platform
