#pragma once

#include <string>

namespace lumira::platform {

// The X display the program is to use: the one given with `-display NAME` (or `--display`)
// on the command line, else $DISPLAY; empty when neither names one.
std::string chosenDisplay(int argc, char** argv);

// Whether an X server accepts a connection at `name` within `timeoutMs` (a remote display
// that does not answer would otherwise hold the start for minutes).
bool displayAnswers(const std::string& name, int timeoutMs);

// Whether the desktop session is a Wayland one (the program then runs on XWayland).
bool inWaylandSession();

} // namespace lumira::platform
