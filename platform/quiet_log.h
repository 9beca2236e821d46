#pragma once

namespace lumira::platform {

// Keeps window-system chatter that says nothing to an operator out of the program's output:
// Qt's note on client messages it does not handle (the window manager's own). Everything else
// Qt or the engine reports still goes out as before.
void dropWindowSystemChatter();

} // namespace lumira::platform
