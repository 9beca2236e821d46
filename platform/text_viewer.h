#pragma once

#include <QString>
#include <functional>

namespace lumira::platform {

// Starts the desktop's text viewer on a file, without waiting and without looking at the
// outcome; a missing viewer changes nothing.
void openInTextViewer(const QString& path);

// Tests put a stand-in here; an empty function restores the desktop's viewer.
void setTextViewerLauncher(std::function<void(const QString& path)> launcher);

} // namespace lumira::platform
