#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <vector>

namespace lumira::platform {

// The checks below signal only processes started by this program (never the program itself),
// on a process handle (pidfd) that cannot come to name another process.

// Ends the page's renderer `pid`, the one the browser engine names, with SIGKILL. False when
// nothing was signalled.
bool endPageRenderer(qint64 pid);

// Ends another renderer of the engine (a frame of another site) with SIGKILL, after checking
// that it runs the engine's `helper` executable and is a renderer: named so on its command
// line, or forked by the engine's zygote. False when nothing was signalled.
bool endRenderer(qint64 pid, const QByteArray& helper);

// The engine's renderer processes started by this program (a page's frames of other sites run
// in renderers of their own), found by walking down the lists of children; those running
// `helper` only, unless it is empty.
std::vector<qint64> ourRenderers(const QByteArray& helper = {});

// The executable a process runs (what /proc/PID/exe names); empty when it cannot be read. The
// page's renderer names the engine's helper this way.
QByteArray executableOf(qint64 pid);

// A process's own memory in MiB: its anonymous and shared-memory pages, not the library pages
// it maps like every process; 0 when it cannot be read.
double ownMemoryMiB(qint64 pid);
// A process's resident memory in MiB, library pages included; 0 when it cannot be read.
double residentMiB(qint64 pid);

// CPU time a process has used, in clock ticks; 0 when it cannot be read.
long long cpuTicks(qint64 pid);

// Whether the browser engine was told to run in a single process (the renderer is then the
// program itself, and must never be ended).
bool engineInSingleProcess();

} // namespace lumira::platform
