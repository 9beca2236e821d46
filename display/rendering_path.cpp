#include "display/rendering_path.h"

#include "common/blanks.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

namespace lumira {

namespace {

std::string lowered(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return out;
}

// Renderer names of OpenGL implementations that draw on the CPU.
bool isSoftwareRasteriser(const std::string& renderer) {
    static constexpr std::array kNames{"llvmpipe", "softpipe",   "swrast", "software rasterizer",
                                       "lavapipe", "swiftshader"};
    const std::string name = lowered(renderer);
    return std::any_of(kNames.begin(), kNames.end(),
                       [&](const char* known) { return name.find(known) != name.npos; });
}

} // namespace

RenderingPath chooseRenderingPath(RenderingOption option, bool contextMade,
                                  const std::string& renderer) {
    switch (option) {
    case RenderingOption::Gpu:
        return {false, "Rendering=gpu in lumira.ini"};
    case RenderingOption::Software:
        return {true, "Rendering=software in lumira.ini"};
    case RenderingOption::Auto:
        break;
    }
    if (!contextMade)
        return {true, "the display offers no OpenGL"};
    if (renderer.empty() || isSoftwareRasteriser(renderer))
        return {true, "OpenGL is not hardware-accelerated (renderer: " +
                          (renderer.empty() ? std::string("unknown") : renderer) + ")"};
    return {false, "OpenGL is hardware-accelerated (renderer: " + renderer + ")"};
}

RenderingOption parseRenderingOption(const std::string& text) {
    const std::string value = lowered(trimBlanks(text));
    if (value == "gpu")
        return RenderingOption::Gpu;
    if (value == "software")
        return RenderingOption::Software;
    return RenderingOption::Auto;
}

} // namespace lumira
