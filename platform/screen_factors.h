#pragma once

#include <optional>

namespace lumira::platform {

// Logical dots per inch of the primary screen, horizontally and vertically.
struct ScreenDpi {
    double x = 96.0;
    double y = 96.0;
};

// Nothing when there is no screen or it reports no usable DPI.
std::optional<ScreenDpi> primaryScreenDpi();

} // namespace lumira::platform
