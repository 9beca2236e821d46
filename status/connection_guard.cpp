#include "status/connection_guard.h"

#include "status/received_bytes.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lumira {

namespace {

// Often enough that a client streaming endless headers is cut after a few hundred KiB: the
// library keeps every header line it reads, at many times its size.
constexpr auto kWatchEvery = std::chrono::milliseconds(25);

// The socket inode a descriptor refers to, 0 when it is no socket.
unsigned long socketInode(int fd) {
    char link[64];
    char target[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t length = ::readlink(link, target, sizeof target - 1);
    if (length <= 0)
        return 0;
    target[length] = '\0';
    if (std::strncmp(target, "socket:[", 8) != 0)
        return 0;
    return std::strtoul(target + 8, nullptr, 10);
}

// The local port of a connected TCP socket, 0 for anything else.
int connectedPort(int fd) {
    sockaddr_storage local{};
    sockaddr_storage peer{};
    socklen_t localSize = sizeof local;
    socklen_t peerSize = sizeof peer;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localSize) != 0 ||
        ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerSize) != 0)
        return 0;
    if (local.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in&>(local).sin_port);
    if (local.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6&>(local).sin6_port);
    return 0;
}

} // namespace

ConnectionGuard::ConnectionGuard(int port, int threads, int maxConnections,
                                 std::chrono::milliseconds lifetime, unsigned long long maxBytes)
    : port_(port), maxConnections_(maxConnections), lifetime_(lifetime), maxBytes_(maxBytes) {
    for (int i = 0; i < threads; ++i)
        workers_.emplace_back([this] { work(jobs_); });
    workers_.emplace_back([this] { work(refused_); });
    watcher_ = std::thread([this] { watch(); });
}

ConnectionGuard::~ConnectionGuard() {
    shutdown();
}

int ConnectionGuard::acceptedSocket(unsigned long& inode) const {
    DIR* folder = ::opendir("/proc/self/fd");
    if (!folder)
        return -1;
    const int folderHandle = ::dirfd(folder);
    int found = -1;
    while (const dirent* entry = ::readdir(folder)) {
        const int fd = std::atoi(entry->d_name);
        if (entry->d_name[0] == '.' || fd == folderHandle)
            continue;
        const unsigned long candidate = socketInode(fd);
        if (candidate == 0 || connectedPort(fd) != port_)
            continue;
        if (!known_.count(candidate)) {
            found = fd;
            inode = candidate;
            break;
        }
    }
    ::closedir(folder);
    return found;
}

void ConnectionGuard::enqueue(std::function<void()> serve) {
    std::unique_lock lock(mutex_);
    unsigned long inode = 0;
    const int fd = acceptedSocket(inode);
    // Known until the server has closed it, served or refused: a socket still open but unknown
    // would be taken for the next one accepted, which would then go unguarded.
    if (fd >= 0)
        known_.insert(inode);
    auto job = [this, serve = std::move(serve), inode] {
        serve();
        forget(inode);
    };
    if (fd >= 0 && int(open_.size()) >= maxConnections_) {
        // Too many at once: shut down before a byte is read, and handed to a thread of its own
        // that only lets the server see the end and close it, at once rather than behind the
        // connections being served, so that a crowd knocking again and again holds nothing.
        ::shutdown(fd, SHUT_RDWR);
        refused_.push_back(std::move(job));
    } else {
        Connection connection;
        connection.handle = fd < 0 ? -1 : ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
        connection.inode = inode;
        connection.deadline = std::chrono::steady_clock::now() + lifetime_;
        if (connection.handle >= 0) {
            open_.push_back(connection);
            tick_.notify_one();
        }
        jobs_.push_back(std::move(job));
    }
    ready_.notify_all();
}

void ConnectionGuard::forget(unsigned long inode) {
    std::lock_guard lock(mutex_);
    known_.erase(inode);
    for (auto it = open_.begin(); it != open_.end(); ++it) {
        if (it->inode == inode) {
            ::close(it->handle);
            open_.erase(it);
            return;
        }
    }
}

void ConnectionGuard::work(std::deque<std::function<void()>>& queue) {
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(mutex_);
            ready_.wait(lock, [&] { return stopping_ || !queue.empty(); });
            if (queue.empty())
                return; // stopping, and nothing left to close
            job = std::move(queue.front());
            queue.pop_front();
        }
        job();
    }
}

void ConnectionGuard::watch() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        // Asleep while no connection is open: an idle server costs nothing.
        tick_.wait(lock, [this] { return stopping_ || !open_.empty(); });
        tick_.wait_for(lock, kWatchEvery);
        const auto now = std::chrono::steady_clock::now();
        for (Connection& connection : open_) {
            if (!connection.cut && (stopping_ || now >= connection.deadline ||
                                    receivedBytes(connection.handle) > maxBytes_)) {
                ::shutdown(connection.handle, SHUT_RDWR);
                connection.cut = true;
            }
        }
    }
}

void ConnectionGuard::shutdown() {
    {
        std::lock_guard lock(mutex_);
        if (stopping_)
            return;
        stopping_ = true;
        for (Connection& connection : open_)
            ::shutdown(connection.handle, SHUT_RDWR);
    }
    ready_.notify_all();
    tick_.notify_all();
    for (std::thread& worker : workers_)
        worker.join();
    watcher_.join();
}

} // namespace lumira
