#pragma once

#include "common/twips.h"

namespace lumira {

// Twips per pixel of the primary screen: 1440 / its logical DPI, horizontally and vertically
// (15 when the screen reports no DPI).
TwipsFactors screenTwipsPerPixel();

} // namespace lumira
