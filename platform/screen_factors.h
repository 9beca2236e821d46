#pragma once

#include "common/twips.h"

namespace lumira::platform {

// Twips per pixel of the primary screen: 1440 / its logical DPI, horizontally and vertically.
TwipsFactors screenTwipsPerPixel();

} // namespace lumira::platform
