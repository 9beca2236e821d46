#include "wait.h"

#include <QCoreApplication>
#include <thread>

namespace harness {

namespace {
void processPendingEvents() {
    if (QCoreApplication::instance() != nullptr) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}
} // namespace

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout,
               std::chrono::milliseconds interval) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        processPendingEvents();
        if (condition()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(interval);
    }
}

void pumpEventsFor(std::chrono::milliseconds duration) {
    waitUntil([] { return false; }, duration);
}

} // namespace harness
