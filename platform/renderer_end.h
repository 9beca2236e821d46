#pragma once

#include <QtGlobal>

namespace lumira::platform {

// Ends the page's renderer `pid` with SIGKILL, but only after checking, on a process handle
// (pidfd) that cannot come to name another process, that it is a renderer of the browser
// engine (named so on its command line, or forked by the engine's zygote) started by this
// program, and never this program itself. False when nothing was signalled.
bool endRenderer(qint64 pid);

// Whether the browser engine was told to run in a single process (the renderer is then the
// program itself, and must never be ended).
bool engineInSingleProcess();

} // namespace lumira::platform
