#include "platform/single_instance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QSocketNotifier>
#include <QThread>
#include <QtEndian>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace lumira::platform {

namespace {

constexpr int kConnectPauseMs = 20; // the first copy may have bound but not yet listen()ed
constexpr int kKnockTimeoutMs = 1000;
constexpr int kPeerReadMs = 100; // a peer sends its byte right after connecting
constexpr char kAnswer = 1;
constexpr qsizetype kLongest = SingleInstance::kLongest;

bool takesPayload(char request) {
    return request == char(SingleInstance::Request::TakeAddress);
}

// What goes to the copy: the request's byte and, where it takes one, the payload's length and
// the payload.
QByteArray message(SingleInstance::Request request, const QByteArray& payload = {}) {
    QByteArray bytes(1, char(request));
    if (takesPayload(char(request))) {
        const quint32 length = qToBigEndian(quint32(payload.size()));
        bytes.append(reinterpret_cast<const char*>(&length), sizeof length);
        bytes += payload;
    }
    return bytes;
}

// A file descriptor closed with its owner.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    ~Fd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_ = -1;
};

QByteArray errorText(int error) {
    return QByteArray(std::strerror(error));
}

// Opens the folder `path` one component at a time, following no symbolic link. Every folder on
// the way belongs to root or the user and only its owner can change its entries (or it is
// sticky, as /tmp is), so no other user can swap what comes after; the last is the user's with
// mode 0700. Components past the first `mustExist` bytes are made, mode 0700, where missing.
// An invalid Fd, with `why` set, when that fails.
Fd openPrivateFolder(const QByteArray& path, qsizetype mustExist, QByteArray& why) {
    why = path + ": ";
    if (!path.startsWith('/')) {
        why += "not an absolute path";
        return {};
    }
    Fd folder(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat st {};
    for (qsizetype start = 1; start < path.size();) {
        qsizetype end = path.indexOf('/', start);
        if (end < 0)
            end = path.size();
        const QByteArray name = path.mid(start, end - start);
        start = end + 1;
        if (name.isEmpty() || name == ".")
            continue;
        if (name == "..") {
            why += "\"..\" on the way";
            return {};
        }
        constexpr int kFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
        Fd next(::openat(folder.get(), name.constData(), kFlags));
        if (next.get() < 0 && errno == ENOENT && end > mustExist &&
            (::mkdirat(folder.get(), name.constData(), 0700) == 0 || errno == EEXIST))
            next = Fd(::openat(folder.get(), name.constData(), kFlags));
        if (next.get() < 0) {
            const int error = errno;
            const bool link =
                ::fstatat(folder.get(), name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISLNK(st.st_mode);
            why += name + ": " + (link ? QByteArray("a symbolic link") : errorText(error));
            return {};
        }
        folder = std::move(next);
        if (::fstat(folder.get(), &st) != 0) {
            why += errorText(errno);
            return {};
        }
        if ((st.st_uid != ::getuid() && st.st_uid != 0) ||
            ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (st.st_mode & S_ISVTX) == 0)) {
            why += name + ": another user can change it";
            return {};
        }
    }
    if (st.st_uid != ::getuid() || (st.st_mode & 07777) != 0700) {
        why += "not the user's own with mode 0700";
        return {};
    }
    return folder;
}

// A folder where the copies of one program folder meet, and their socket's address there.
struct Place {
    Fd folder;
    QByteArray socketName; // in the folder, as is the lock file
    QByteArray lockName;
    sockaddr_un address{};
    socklen_t length = 0;
};

// Where the copies of `key` meet, in the order a first copy takes them: the user's runtime
// folder, then ~/.cache/lumira, each where it is private to the user. With `make`, the cache
// folder is made when it is the only place. Empty, with `why` set, when there is no place.
std::vector<Place> placesFor(const QString& key, const QByteArray& runtimeBase, QByteArray home,
                             bool make, QByteArray& why) {
    const QByteArray name =
        "lumira-" +
        QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha256).toHex().left(32);
    if (home.isEmpty()) {
        const passwd* user = ::getpwuid(::getuid());
        home = user && user->pw_dir ? QByteArray(user->pw_dir) : QByteArray();
    }
    std::vector<Place> places;
    const auto add = [&](const QByteArray& path, qsizetype mustExist) {
        Place place;
        place.folder = openPrivateFolder(path, mustExist, why);
        if (place.folder.get() < 0)
            return;
        const QByteArray socket = path + "/" + name + ".socket";
        if (socket.size() >= qsizetype(sizeof place.address.sun_path)) {
            why = socket + ": too long a path for a socket";
            return;
        }
        place.socketName = name + ".socket";
        place.lockName = name + ".lock";
        place.address.sun_family = AF_UNIX;
        std::memcpy(place.address.sun_path, socket.constData(), size_t(socket.size()));
        place.length = socklen_t(offsetof(sockaddr_un, sun_path) + size_t(socket.size()) + 1);
        places.push_back(std::move(place));
    };
    const QByteArray runtime = runtimeBase + "/" + QByteArray::number(::getuid());
    add(runtime, runtime.size());
    if (home.isEmpty()) {
        why = "the user has no home folder";
        return places;
    }
    const QByteArray cache = home + "/.cache/lumira";
    add(cache, make && places.empty() ? home.size() : cache.size());
    return places;
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

// Exactly `size` bytes into `into`, before the deadline.
bool receive(int fd, char* into, size_t size, const QDeadlineTimer& deadline) {
    while (size > 0) {
        if (!waitFor(fd, POLLIN, deadline))
            return false;
        const ssize_t got = ::recv(fd, into, size, MSG_DONTWAIT);
        if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN))
            return false;
        if (got > 0) {
            into += got;
            size -= size_t(got);
        }
    }
    return true;
}

// All of `bytes`, before the deadline.
bool sendAll(int fd, const QByteArray& bytes, const QDeadlineTimer& deadline) {
    for (qsizetype sent = 0; sent < bytes.size();) {
        const ssize_t put = ::send(fd, bytes.constData() + sent, size_t(bytes.size() - sent),
                                   MSG_NOSIGNAL | MSG_DONTWAIT);
        if (put > 0)
            sent += put;
        else if ((put < 0 && errno != EINTR && errno != EAGAIN) || !waitFor(fd, POLLOUT, deadline))
            return false;
    }
    return true;
}

// The rest of the connection, at most kLongest bytes, before the deadline.
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
        if (into.size() > kLongest)
            return false;
    }
    return false;
}

// One attempt: connected, the request sent and the answer read before the deadline; with
// `reply`, what follows the answer up to the end of the connection is put there.
Knock knockOnce(const Place& place, const QByteArray& request, const QDeadlineTimer& deadline,
                QByteArray* reply) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return Knock::Silent;
    Knock result = Knock::Silent;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&place.address), place.length) == 0) {
        char answer = 0;
        if (!peerIsUs(fd))
            result = Knock::OtherUser;
        else if (sendAll(fd, request, deadline) && waitFor(fd, POLLIN, deadline) &&
                 ::recv(fd, &answer, 1, 0) == 1 && answer == kAnswer)
            result = !reply || readToEnd(fd, deadline, *reply) ? Knock::Answered : Knock::Silent;
    } else if (errno == ECONNREFUSED || errno == ENOENT) {
        result = Knock::NobodyListens;
    }
    // EAGAIN: the listen queue is full, the copy holding it is frozen: silent.
    ::close(fd);
    return result;
}

// Knocks until answered or the deadline. With `untilListening`, nobody listening is tried
// again: the copy holding the lock may have bound its socket but not yet listened on it.
Knock knock(const Place& place, const QByteArray& request, int timeoutMs, bool untilListening,
            QByteArray* reply = nullptr) {
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        if (reply)
            reply->clear();
        const Knock result = knockOnce(place, request, deadline, reply);
        if (result != Knock::NobodyListens || !untilListening ||
            deadline.remainingTime() <= kConnectPauseMs)
            return result;
        QThread::msleep(kConnectPauseMs);
    }
}

// Knocks at each place in turn until one answers.
bool knockAnywhere(const QString& key, const QByteArray& request, int timeoutMs,
                   const QByteArray& runtimeBase, const QByteArray& home,
                   QByteArray* reply = nullptr) {
    QByteArray why;
    const QDeadlineTimer deadline(timeoutMs);
    for (const Place& place : placesFor(key, runtimeBase, home, false, why))
        if (knock(place, request, int(deadline.remainingTime()), false, reply) == Knock::Answered)
            return true;
    return false;
}

} // namespace

bool SingleInstance::ask(const QString& key, Request request, int timeoutMs,
                         const QByteArray& runtimeBase, const QByteArray& home) {
    return knockAnywhere(key, message(request), timeoutMs, runtimeBase, home);
}

std::optional<QByteArray> SingleInstance::askFor(const QString& key, Request request,
                                                 const QByteArray& payload, int timeoutMs,
                                                 const QByteArray& runtimeBase,
                                                 const QByteArray& home) {
    QByteArray reply;
    if (payload.size() > kLongest ||
        !knockAnywhere(key, message(request, payload), timeoutMs, runtimeBase, home, &reply))
        return std::nullopt;
    return reply;
}

SingleInstance::SingleInstance(const QString& key, const QByteArray& runtimeBase,
                               const QByteArray& home, QObject* parent)
    : QObject(parent) {
    QByteArray why;
    const std::vector<Place> places = placesFor(key, runtimeBase, home, true, why);
    const auto unguarded = [](const QByteArray& reason) {
        std::fprintf(stderr,
                     "lumira: no one-copy socket in a folder only this user can reach (%s); "
                     "this copy runs without the one-copy guard\n",
                     reason.constData());
    };
    if (places.empty()) {
        unguarded(why);
        return;
    }
    const Place& own = places.front();
    Fd lock(::openat(own.folder.get(), own.lockName.constData(),
                     O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (lock.get() < 0) {
        unguarded(own.lockName + ": " + errorText(errno));
        return;
    }
    if (::flock(lock.get(), LOCK_EX | LOCK_NB) != 0) {
        // Another copy holds the folder: it answers, is starting or is frozen.
        if (knock(own, message(Request::ComeForward), kKnockTimeoutMs, true) == Knock::OtherUser)
            std::fputs("lumira: another user holds this folder's one-copy socket; this copy "
                       "runs all the same\n",
                       stderr);
        else
            first_ = false;
        return;
    }
    // A copy that took the other place (the runtime folder was missing when it started).
    for (size_t i = 1; i < places.size(); ++i) {
        const Knock there = knock(places[i], message(Request::ComeForward), kKnockTimeoutMs, false);
        if (there == Knock::Answered || there == Knock::Silent) {
            first_ = false;
            return;
        }
    }
    // Holding the lock, any socket here is a killed copy's: taken over.
    ::unlinkat(own.folder.get(), own.socketName.constData(), 0);
    Fd listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (listener.get() < 0 ||
        ::bind(listener.get(), reinterpret_cast<const sockaddr*>(&own.address), own.length) != 0 ||
        ::listen(listener.get(), 4) != 0) {
        unguarded(QByteArray(own.address.sun_path) + ": " + errorText(errno));
        return;
    }
    listener_ = listener.release();
    lock_ = lock.release();
    path_ = QByteArray(own.address.sun_path);
    notifier_ = new QSocketNotifier(listener_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &SingleInstance::acceptAll);
}

SingleInstance::~SingleInstance() {
    if (listener_ < 0)
        return;
    ::close(listener_);
    ::unlink(path_.constData());
    ::close(lock_); // after the socket is gone, so the next copy's socket is never removed
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
        ::setsockopt(peer, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
        // The peer sends its whole request right after connecting.
        const QDeadlineTimer deadline(kPeerReadMs);
        char request = 0;
        const bool read = receive(peer, &request, 1, deadline);
        QByteArray payload;
        if (read && takesPayload(request)) {
            quint32 length = 0;
            bool whole = receive(peer, reinterpret_cast<char*>(&length), sizeof length, deadline);
            length = qFromBigEndian(length);
            if (whole && length <= quint32(kLongest)) {
                payload.resize(qsizetype(length));
                whole = receive(peer, payload.data(), length, deadline);
            } else {
                whole = false;
            }
            if (!whole) { // cut short or too long: not answered, nothing done
                ::close(peer);
                continue;
            }
        }
        QByteArray answer(1, kAnswer);
        if (!read || request == char(Request::ComeForward))
            comeForward = true; // also a peer that said nothing
        else if (request == char(Request::OpenSettings))
            openSettings = true;
        else if (const auto reply = replies_.find(Request(request)); reply != replies_.end())
            answer += reply->second(payload);
        // A reply of a few KiB fits the socket's buffer; the send timeout bounds the rest.
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
