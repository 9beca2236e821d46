#pragma once

#include <QString>
#include <QStringList>
#include <functional>

namespace lumira::platform {

// Starts the desktop's text viewer on a file, without waiting and without looking at the
// outcome; a missing viewer changes nothing.
void openInTextViewer(const QString& path);

// Tests put a stand-in here; an empty function restores the desktop's viewer.
void setTextViewerLauncher(std::function<void(const QString& path)> launcher);

// Starts `program` (looked up on PATH unless it holds a '/') with `arguments`, each one
// argument of its own (no shell), and does not wait for it. The program inherits standard
// input, output and error and no other descriptor of this one (no connection of the status
// server, no memory the browser engine shares), with no signal blocked, and is left to the
// system, never a zombie of ours. False when it is not found or could not be started.
bool startDetachedProgram(const QString& program, const QStringList& arguments);

} // namespace lumira::platform
