#pragma once

#include "status/status_access.h"

#include <QByteArray>
#include <QObject>
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace httplib {
class Server;
}

namespace lumira {
class SignWatch;

// The status server: a status page, the report as JSON and as metrics, a picture of what the
// sign shows, and two commands (reload, a new address), over HTTP on threads of its own. Every
// question about the sign is handed to the window's thread as one short task, and a request
// that gets no answer there within two seconds is answered 503, so no client can stall the
// sign and a busy sign stalls no client for long. The picture is read once and encoded off
// the window's thread, and shared for a second by every client that asks.
class StatusServer final : public QObject {
public:
    // Listens as planned; says so, or why not, in one line.
    StatusServer(SignWatch& watch, const ListenPlan& plan, std::string token,
                 QObject* parent = nullptr);
    ~StatusServer() override;

private:
    void route();
    // Runs `task` on the window's thread and waits for its result.
    template <typename T> std::optional<T> onWindowThread(std::function<T()> task);
    // The PNG picture, shared for a second.
    QByteArray picture();

    SignWatch& watch_;
    std::string token_;
    int port_ = 0;
    std::unique_ptr<httplib::Server> http_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    QByteArray page_; // the status page

    std::mutex pictureMutex_;
    std::shared_future<QByteArray> picture_;
    std::chrono::steady_clock::time_point pictureMadeAt_;
};

} // namespace lumira
