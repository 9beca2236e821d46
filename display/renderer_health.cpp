#include "display/renderer_health.h"

namespace lumira {

void RendererHealth::restart(double now) {
    lastAnswer_ = now;
    overLimitSince_ = -1;
}

RendererHealth::Verdict RendererHealth::check(double now, double residentMiB) {
    if (now - lastAnswer_ >= limits_.hangTimeoutSeconds)
        return Verdict::Hung;
    if (residentMiB <= limits_.memoryLimitMiB) {
        overLimitSince_ = -1;
        return Verdict::Healthy;
    }
    if (overLimitSince_ < 0)
        overLimitSince_ = now;
    return now - overLimitSince_ >= limits_.memoryGraceSeconds ? Verdict::TooBig : Verdict::Healthy;
}

} // namespace lumira
