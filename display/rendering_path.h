#pragma once

#include <string>

namespace lumira {

// The Rendering option of lumira.ini: let the program decide, or force one path.
enum class RenderingOption { Auto, Gpu, Software };

// How the engine draws pages: on the GPU through Qt Quick's OpenGL scene graph, or without a
// GPU process through Qt Quick's software scene graph.
struct RenderingPath {
    bool software = false;
    std::string reason; // for the one line the program prints
};

// With `Auto`, software unless OpenGL is hardware-accelerated: no context at all, or a
// software rasteriser (llvmpipe, softpipe, swrast and the like), counts as no.
RenderingPath chooseRenderingPath(RenderingOption option, bool contextMade,
                                  const std::string& renderer);

// "auto", "gpu" or "software", in any letter case and with blanks around; anything else is
// `Auto`.
RenderingOption parseRenderingOption(const std::string& text);

} // namespace lumira
