#include "ui/screen_twips.h"

#include "platform/screen_factors.h"

namespace lumira {

TwipsFactors screenTwipsPerPixel() {
    const auto dpi = platform::primaryScreenDpi();
    if (!dpi)
        return {};
    return {float(1440.0 / dpi->x), float(1440.0 / dpi->y)};
}

} // namespace lumira
