#pragma once

class QApplication;

namespace lumira {

// What must be settled before the application object exists: one device pixel per screen
// pixel, the X11 platform even in a Wayland session, a quiet runtime folder and the browser
// engine's settings. False when no display can be had (it has said so on stderr).
bool prepareProcess(int argc, char** argv);

// Shows the welcome window and runs the program until it ends; returns the exit status.
int runProgram(QApplication& app);

} // namespace lumira
