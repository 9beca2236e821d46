#pragma once

#include <QMargins>

class QWidget;

// Window-manager state of a top-level window (EWMH on X11).
namespace lumira::platform {

// Adds or removes the always-above state on the window, then raises and activates it.
// Never moves or resizes it.
void setAbove(QWidget& window, bool above);

// Adds the always-above state without raising or activating the window.
void keepAbove(QWidget& window);

// Raises the window and asks the window manager to give it the focus.
void raiseAndActivate(QWidget& window);

// Keeps the window off the taskbar and the pager; call before it is first shown.
void markSkipTaskbar(QWidget& window);

// The frame the window manager will put around the (not yet shown) window: title bar and
// borders, as it reports them in _NET_FRAME_EXTENTS. No margins without a window manager
// that answers within a tenth of a second.
QMargins frameExtents(QWidget& window);

} // namespace lumira::platform
