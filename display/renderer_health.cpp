#include "display/renderer_health.h"

namespace lumira {

namespace {
constexpr double kIdlePingSeconds = 10;
} // namespace

void RendererHealth::restart() {
    lastPing_ = -1e9;
    pendingSince_ = -1;
    overLimitSince_ = -1;
}

bool RendererHealth::shouldPing(double now, bool busy) const {
    return pendingSince_ < 0 && (busy || now - lastPing_ >= kIdlePingSeconds);
}

void RendererHealth::pinged(double now, double busySince) {
    lastPing_ = now;
    if (pendingSince_ < 0)
        pendingSince_ = busySince;
}

void RendererHealth::answered() {
    pendingSince_ = -1;
}

RendererHealth::Verdict RendererHealth::check(double now, double ownMiB) {
    if (pendingSince_ >= 0 && now - pendingSince_ >= limits_.hangTimeoutSeconds)
        return Verdict::Hung;
    if (ownMiB <= limits_.memoryLimitMiB) {
        overLimitSince_ = -1;
        return Verdict::Healthy;
    }
    if (ownMiB > 2.0 * limits_.memoryLimitMiB)
        return Verdict::TooBig; // growing this fast, it would push the PC into swap first
    if (overLimitSince_ < 0)
        overLimitSince_ = now;
    return now - overLimitSince_ >= limits_.memoryGraceSeconds ? Verdict::TooBig : Verdict::Healthy;
}

} // namespace lumira
