#pragma once

#include "display/rendering_path.h"

namespace lumira {

// Settles how the browser engine will run, before the application object exists: its
// sandbox (off only under root, where the engine refuses it, with one line on stderr) and
// its start-up banner kept out of the program's output (QT_LOGGING_RULES still rules).
void prepareEngineProcess();

// Chooses how the engine will draw, before it starts: without hardware-accelerated OpenGL
// (or with Rendering=software) it runs without its GPU process and Qt Quick draws with its
// software scene graph; otherwise nothing changes. Says which in one line on stderr.
void prepareEngineDrawing(RenderingOption option);
// What prepareEngineDrawing chose: pages drawn in software, without a GPU process.
bool pagesDrawnInSoftware();

} // namespace lumira
