#pragma once

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace lumira {

// Runs the status server's connections on a few threads of its own, so that no client can
// hold the server or fill the program's memory: at most `maxConnections` at once (one beyond
// them is closed at once), and none open longer than `lifetime`, however slowly it sends or
// reads, nor after it has sent more than `maxBytes` (its socket is shut down, which ends a
// blocked read or write). The server hands over each connection it accepts right
// after accepting it; the guard finds that socket among the process's descriptors by its local
// port and keeps a duplicate of it, so that it can shut it down without racing the server's
// own close.
class ConnectionGuard final : public httplib::TaskQueue {
public:
    ConnectionGuard(int port, int threads, int maxConnections, std::chrono::milliseconds lifetime,
                    unsigned long long maxBytes);
    ~ConnectionGuard() override;

    void enqueue(std::function<void()> serve) override;
    void shutdown() override;

private:
    struct Connection {
        int handle = -1; // our duplicate of the server's socket
        unsigned long inode = 0;
        std::chrono::steady_clock::time_point deadline;
        bool cut = false;
    };

    // The socket accepted last: connected, on our port, not yet known. -1 when none is found.
    int acceptedSocket(unsigned long& inode) const;
    // Serves the connections of `queue` until stopped.
    void work(std::deque<std::function<void()>>& queue);
    void watch();
    void forget(unsigned long inode);

    int port_;
    int maxConnections_;
    std::chrono::milliseconds lifetime_;
    unsigned long long maxBytes_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::condition_variable tick_;
    std::deque<std::function<void()>> jobs_;    // connections to serve
    std::deque<std::function<void()>> refused_; // connections beyond the limit, to close
    std::vector<Connection> open_;
    std::set<unsigned long> known_; // the sockets of open_ and refused_, until closed
    bool stopping_ = false;
    std::vector<std::thread> workers_;
    std::thread watcher_;
};

} // namespace lumira
