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
// a ping (a trivial script) has waited for its answer for the hang timeout, or the renderer's
// own memory has stayed above the limit for the grace time or passed twice the limit. A renderer is
// pinged when it is busy, the way a script in an endless loop keeps it, and otherwise only every
// ten seconds, so an idle sign costs next to nothing. Times are seconds on a monotonic clock.
class RendererHealth {
public:
    enum class Verdict { Healthy, Hung, TooBig };

    explicit RendererHealth(WatchLimits limits) : limits_(limits) {}

    // A new renderer, or a new page in it: nothing is pending, the clocks start again and the
    // next check pings.
    void restart();
    // Whether to send a ping now; `busy`: the renderer kept a core busy since the last check.
    bool shouldPing(double now, bool busy) const;
    // A ping was sent at `now`; the renderer has not been seen free since `busySince` (the
    // previous check, or the page's start), which is when its silence is counted from.
    void pinged(double now, double busySince);
    void answered();
    // One check with the renderer's own memory in MiB (the largest renderer's, for a page
    // with frames in renderers of their own).
    Verdict check(double now, double ownMiB);
    // The last check found the memory above the limit: checks come more often.
    bool aboveLimit() const { return overLimitSince_ >= 0; }

private:
    WatchLimits limits_;
    double lastPing_ = -1e9;
    double pendingSince_ = -1;   // -1: no ping waits for its answer
    double overLimitSince_ = -1; // -1: at or under the limit
};

} // namespace lumira
