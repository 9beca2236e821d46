#pragma once

#include <chrono>
#include <functional>

namespace harness {

// Checks `condition` until it holds or `timeout` passes, processing Qt events (when a
// QCoreApplication exists) and sleeping `interval` between checks. Returns the last result.
bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout,
               std::chrono::milliseconds interval = std::chrono::milliseconds(5));

// Keeps processing Qt events for `duration`; for checks that something does NOT happen.
void pumpEventsFor(std::chrono::milliseconds duration);

} // namespace harness
