#pragma once

#include "status/status_access.h"

#include <QByteArray>
#include <QObject>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

struct MHD_Daemon;

namespace lumira {
class SignWatch;

// The status server: a status page, the report as JSON and as metrics, a picture of what the
// sign shows, and two commands (reload, a new address), over HTTP on threads of its own, one
// for each connection. Every question about the sign is handed to the window's thread as one
// short task, and a request that gets no answer there within two seconds is answered 503, so
// no client can stall the sign and a busy sign stalls no client for long. The picture is read
// once and encoded off the window's thread, and shared for a second by every client that asks.
class StatusServer final : public QObject {
public:
    // Listens as planned; says so, or why not, in one line.
    StatusServer(SignWatch& watch, const ListenPlan& plan, std::string token,
                 QObject* parent = nullptr);
    ~StatusServer() override;

    // A whole request, as the rules see it, and its answer.
    struct Request {
        std::string method, path, peer, host, authorization, contentType;
        std::string queryUrl; // the url argument of the target, if any
        std::string body;
    };
    struct Reply {
        int status = 200;
        QByteArray body;
        const char* type = "application/json";
        const char* challenge = nullptr; // WWW-Authenticate
    };
    Reply serve(const Request& request);

    // A connection, from when it is accepted until it is closed: it is shut down when its time
    // is up, however slowly its client sends or reads.
    struct Connection {
        int socket = -1;
        std::chrono::steady_clock::time_point deadline;
        std::string body;
    };
    Connection* opened(int socket);
    void closed(Connection* connection);

private:
    // Runs `task` on the window's thread and waits for its result.
    template <typename T> std::optional<T> onWindowThread(std::function<T()> task);
    // The PNG picture, shared for a second.
    QByteArray picture();
    // Shuts down each connection whose time is up, until the server stops.
    void cutLate();

    SignWatch& watch_;
    std::string token_;
    int port_ = 0;
    QString folder_;
    MHD_Daemon* http_ = nullptr;
    std::atomic<bool> stopping_{false};
    QByteArray page_; // the status page

    std::mutex pictureMutex_;
    std::shared_future<QByteArray> picture_;
    std::chrono::steady_clock::time_point pictureMadeAt_;

    std::mutex openMutex_;
    std::condition_variable openChanged_;
    std::set<Connection*> open_;
    std::thread cutter_;
};

} // namespace lumira
