#pragma once

namespace lumira {

// What the page watch allows before it acts; from section Options of lumira.ini.
struct WatchLimits {
    int loadTimeoutSeconds = 30; // a main-frame load that neither ends nor fails
    int hangTimeoutSeconds = 15; // a renderer that answers no script
    int memoryLimitMiB = 1024;   // a renderer that stays above it ...
    int memoryGraceSeconds = 10; // ... for this long
};

// Decides, at each check (about once a second), whether the page's renderer has to be ended:
// it has answered nothing for the hang timeout, or its resident memory has stayed above the
// limit for the grace time. Times are seconds on a monotonic clock.
class RendererHealth {
public:
    enum class Verdict { Healthy, Hung, TooBig };

    explicit RendererHealth(WatchLimits limits) : limits_(limits) {}

    // A new renderer, or a new page in it: both clocks start again at `now`.
    void restart(double now);
    // The renderer answered a ping.
    void answered(double now) { lastAnswer_ = now; }
    // One check with the renderer's resident memory in MiB.
    Verdict check(double now, double residentMiB);

private:
    WatchLimits limits_;
    double lastAnswer_ = 0;
    double overLimitSince_ = -1; // -1: at or under the limit
};

} // namespace lumira
