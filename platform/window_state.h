#pragma once

class QWidget;

// Window-manager state of a top-level window (EWMH on X11).
namespace lumira::platform {

// Adds or removes the always-above state on the window, then raises and activates it.
// Never moves or resizes it.
void setAbove(QWidget& window, bool above);

// Keeps the window off the taskbar and the pager; call before it is first shown.
void markSkipTaskbar(QWidget& window);

} // namespace lumira::platform
