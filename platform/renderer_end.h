#pragma once

#include <QtGlobal>
#include <vector>

namespace lumira::platform {

// Ends the page's renderer `pid` with SIGKILL, but only after checking, on a process handle
// (pidfd) that cannot come to name another process, that it is a renderer of the browser
// engine (named so on its command line, or forked by the engine's zygote) started by this
// program, and never this program itself. False when nothing was signalled.
bool endRenderer(qint64 pid);

// The browser engine's renderer processes started by this program (a page's frames of other
// sites run in renderers of their own), found by walking down the lists of children.
std::vector<qint64> ourRenderers();

// A process's own memory in MiB: its anonymous and shared-memory pages, not the library pages
// it maps like every process; 0 when it cannot be read.
double ownMemoryMiB(qint64 pid);
// A process's resident memory in MiB, library pages included; 0 when it cannot be read.
double residentMiB(qint64 pid);

// Whether the browser engine was told to run in a single process (the renderer is then the
// program itself, and must never be ended).
bool engineInSingleProcess();

} // namespace lumira::platform
