#pragma once

#include <string>

namespace lumira::platform {

// What the display offers for OpenGL: whether a context could be made and, if so, the name
// of its renderer (GL_RENDERER), e.g. "llvmpipe (LLVM 15.0.6, 256 bits)".
struct OpenGlInfo {
    bool contextMade = false;
    std::string renderer;
};

// Makes a small offscreen context on the display and asks it. Takes a few tens of milliseconds;
// the answer is kept, so later calls return at once. The context stays as the one the browser
// engine's views share with: call it before the engine's module is loaded.
const OpenGlInfo& probeOpenGl();

} // namespace lumira::platform
