#include "platform/single_instance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QSocketNotifier>
#include <QThread>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace lumira::platform {

namespace {

constexpr int kConnectPauseMs = 20; // the first copy may have bound but not yet listen()ed
constexpr int kKnockTimeoutMs = 1000;
constexpr int kPeerReadMs = 100; // a peer sends its byte right after connecting
constexpr char kAnswer = 1;
constexpr qsizetype kReportMax = 1 << 20;

// Where the copies of one folder meet: a socket in the user's runtime folder, which only the
// user can write, found from the user id (not the environment, so that a copy started by a
// timer and one started from the desktop find each other); where that folder is missing, an
// abstract name, whose holder's and callers' user ids are checked instead.
struct Channel {
    sockaddr_un address{};
    socklen_t length = 0;
    bool inFileSystem = false;
};

Channel channelFor(const QString& key, const QByteArray& runtimeBase) {
    const QByteArray digest =
        QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha256).toHex().left(32);
    const QByteArray uid = QByteArray::number(::getuid());
    const QByteArray runtime = runtimeBase + "/" + uid;
    Channel channel;
    channel.address.sun_family = AF_UNIX;
    struct stat st {};
    const QByteArray path = runtime + "/lumira-" + digest + ".socket";
    if (path.size() < qsizetype(sizeof channel.address.sun_path) &&
        ::lstat(runtime.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid()) {
        std::memcpy(channel.address.sun_path, path.constData(), size_t(path.size()));
        channel.length = socklen_t(offsetof(sockaddr_un, sun_path) + size_t(path.size()) + 1);
        channel.inFileSystem = true;
        return channel;
    }
    // Abstract (leading NUL): nothing in the file system to go stale.
    const QByteArray name = "lumira-" + uid + "-" + digest;
    std::memcpy(channel.address.sun_path + 1, name.constData(), size_t(name.size()));
    channel.length = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + size_t(name.size()));
    return channel;
}

bool peerIsUs(int fd) {
    ucred peer{};
    socklen_t size = sizeof peer;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == ::getuid();
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

enum class Knock { Answered, Silent, NobodyListens, OtherUser };

// The rest of the connection, at most kReportMax bytes, before the deadline.
bool readToEnd(int fd, const QDeadlineTimer& deadline, QByteArray& into) {
    char buffer[4096];
    while (waitFor(fd, POLLIN, deadline)) {
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got == 0)
            return true;
        if (got < 0 && errno != EINTR && errno != EAGAIN)
            return false;
        if (got > 0)
            into.append(buffer, got);
        if (into.size() > kReportMax)
            return false;
    }
    return false;
}

// One attempt: connected, the request sent and the answer read before the deadline; with
// `report`, what follows the answer up to the end of the connection is put there.
Knock knockOnce(const Channel& channel, char request, const QDeadlineTimer& deadline,
                QByteArray* report) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return Knock::Silent;
    Knock result = Knock::Silent;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&channel.address), channel.length) == 0) {
        char answer = 0;
        if (!peerIsUs(fd))
            result = Knock::OtherUser;
        else if (::send(fd, &request, 1, MSG_NOSIGNAL) == 1 && waitFor(fd, POLLIN, deadline) &&
                 ::recv(fd, &answer, 1, 0) == 1 && answer == kAnswer)
            result = !report || readToEnd(fd, deadline, *report) ? Knock::Answered : Knock::Silent;
    } else if (errno == ECONNREFUSED || errno == ENOENT) {
        result = Knock::NobodyListens;
    }
    // EAGAIN: the listen queue is full, the copy holding it is frozen: silent.
    ::close(fd);
    return result;
}

// Knocks until answered or the deadline; an abstract name may be bound a moment before it is
// listened on, so nobody listening is tried again there.
Knock knock(const Channel& channel, char request, int timeoutMs, QByteArray* report = nullptr) {
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        if (report)
            report->clear();
        const Knock result = knockOnce(channel, request, deadline, report);
        if (result != Knock::NobodyListens || channel.inFileSystem ||
            deadline.remainingTime() <= kConnectPauseMs)
            return result;
        QThread::msleep(kConnectPauseMs);
    }
}

int bindTo(const Channel& channel) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&channel.address), channel.length) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

} // namespace

bool SingleInstance::ask(const QString& key, Request request, int timeoutMs,
                         const QByteArray& runtimeBase) {
    return knock(channelFor(key, runtimeBase), char(request), timeoutMs) == Knock::Answered;
}

std::optional<QByteArray> SingleInstance::askForReport(const QString& key, int timeoutMs,
                                                       const QByteArray& runtimeBase) {
    QByteArray report;
    if (knock(channelFor(key, runtimeBase), char(Request::Report), timeoutMs, &report) !=
        Knock::Answered)
        return std::nullopt;
    return report;
}

SingleInstance::SingleInstance(const QString& key, const QByteArray& runtimeBase, QObject* parent)
    : QObject(parent) {
    const Channel channel = channelFor(key, runtimeBase);
    int fd = bindTo(channel);
    if (fd < 0 && errno == EADDRINUSE) {
        switch (knock(channel, char(Request::ComeForward), kKnockTimeoutMs)) {
        case Knock::Answered:
        case Knock::Silent: // a copy that is frozen still holds the folder
            first_ = false;
            return;
        case Knock::OtherUser:
            std::fputs("lumira: another user holds this folder's one-copy name; this copy runs "
                       "all the same\n",
                       stderr);
            return;
        case Knock::NobodyListens:
            if (!channel.inFileSystem) {
                first_ = false;
                return;
            }
            // The socket of a copy that was killed: taken over.
            ::unlink(channel.address.sun_path);
            fd = bindTo(channel);
            break;
        }
    }
    if (fd < 0)
        return; // nothing to tell two copies apart, so this one runs
    ::listen(fd, 4);
    listener_ = fd;
    path_ = channel.inFileSystem ? QByteArray(channel.address.sun_path) : QByteArray();
    notifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &SingleInstance::acceptAll);
}

SingleInstance::~SingleInstance() {
    if (listener_ < 0)
        return;
    ::close(listener_);
    if (!path_.isEmpty())
        ::unlink(path_.constData());
}

void SingleInstance::acceptAll() {
    bool comeForward = false;
    bool openSettings = false;
    for (int peer; (peer = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
        if (!peerIsUs(peer)) { // another user's process is not answered
            ::close(peer);
            continue;
        }
        const timeval wait{0, kPeerReadMs * 1000};
        ::setsockopt(peer, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        ::setsockopt(peer, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
        char request = 0;
        const bool read = ::recv(peer, &request, 1, 0) == 1;
        QByteArray answer(1, kAnswer);
        if (read && request == char(Request::OpenSettings))
            openSettings = true;
        else if (read && request == char(Request::Report))
            answer += report_ ? report_() : QByteArray();
        else
            comeForward = true; // also a peer that said nothing
        // A report of a few KiB fits the socket's buffer; the send timeout bounds the rest.
        [[maybe_unused]] const ssize_t sent =
            ::send(peer, answer.constData(), size_t(answer.size()), MSG_NOSIGNAL);
        ::close(peer);
    }
    if (comeForward)
        emit activationRequested();
    if (openSettings)
        emit settingsRequested();
}

} // namespace lumira::platform
