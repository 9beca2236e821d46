// What the sign's rectangle shows, sampled against a loopback server of the test's own.
#pragma once

#include "tests/e2e/lumira_under_test.h"
#include "tests/harness/http_server.h"
#include "tests/harness/process_tree.h"

#include <csignal>

namespace e2e {

inline constexpr uint32_t kGreen = 0x00ff00;
inline constexpr uint32_t kBlue = 0x0000ff;
inline constexpr uint32_t kBlack = 0x000000;
inline constexpr uint32_t kRed = 0xff0000;
// Inside the default rectangle, 320x240 at 100,100.
inline constexpr int kSampleX = 200;
inline constexpr int kSampleY = 200;

inline std::string iniWithOptions(const QString& url, const std::string& options) {
    return "[Main]\r\nURL=" + url.toStdString() + "\r\n[Options]\r\n" + options;
}

inline Samples sampleSign(LumiraUnderTest& lumira, std::chrono::milliseconds duration,
                          const std::function<bool(uint32_t rgb)>& stopAt = {}) {
    return lumira.sample(kSampleX, kSampleY, duration, stopAt);
}

inline Samples sampleUntil(LumiraUnderTest& lumira, uint32_t rgb,
                           std::chrono::milliseconds timeout) {
    return sampleSign(lumira, timeout, [rgb](uint32_t seen) { return seen == rgb; });
}

// Ends every renderer of the program, as a crash would; the retry loads the page again.
inline void killRenderers(LumiraUnderTest& lumira) {
    for (pid_t pid : harness::rendererProcesses(pid_t(lumira.program.pid())))
        ::kill(pid, SIGKILL);
}

inline size_t requestsFor(const harness::LoopbackHttpServer& server, const std::string& path) {
    size_t count = 0;
    for (const auto& request : server.requests())
        count += request.path == path;
    return count;
}

} // namespace e2e
