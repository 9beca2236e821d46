#pragma once

#include <QRect>
#include <cstdint>
#include <optional>
#include <vector>
#include <xcb/xcb.h>

// What the window system says of a top-level window right now (X11, EWMH), and the requests
// that put it back, for the watch that keeps the display window where and as it belongs.
// Every call takes the watch's own connection, never Qt's.
namespace lumira::platform {

constexpr uint32_t kAllWorkspaces = 0xFFFFFFFF;

struct WindowFacts {
    QRect client;                // client area in root coordinates
    bool viewable = false;       // mapped, with all its ancestors
    bool minimised = false;      // _NET_WM_STATE_HIDDEN
    bool above = false;          // _NET_WM_STATE_ABOVE
    bool skipTaskbar = false;    // _NET_WM_STATE_SKIP_TASKBAR
    bool onAllWorkspaces = true; // _NET_WM_DESKTOP is all of them (or the manager has none)
};

// Nothing when the window is gone.
std::optional<WindowFacts> windowFacts(xcb_connection_t* c, xcb_window_t window);

// Maps the window again when another client unmapped it (and asks for it to be shown when it
// was minimised), and asks the window manager for the above, skip-taskbar, skip-pager and
// all-workspaces states.
void restoreWindowState(xcb_connection_t* c, xcb_window_t window, const WindowFacts& facts);

// Asks for the window's client area at `rect` (root coordinates) directly of the window
// system, whatever Qt believes the window's geometry to be.
void requestGeometry(xcb_connection_t* c, xcb_window_t window, const QRect& rect);

// A top-level window stacked above ours that overlaps it. `desktopLayer`: a panel, notice,
// on-screen display, menu or tooltip, which the desktop keeps above every program.
struct CoveringWindow {
    xcb_window_t id = XCB_NONE;
    bool desktopLayer = false;
};

// Viewable top-level windows above `window` in the stacking order that overlap its frame; the
// top-level window of `laidOver` (a window meant to lie over it) is not counted.
std::vector<CoveringWindow> coveringWindows(xcb_connection_t* c, xcb_window_t window,
                                            xcb_window_t laidOver = XCB_NONE);

// The top-level window (a window manager's frame, or the window itself) that holds `window`.
xcb_window_t topLevelOf(xcb_connection_t* c, xcb_window_t window);

// Puts the window on top of its layer: the way a pager asks (EWMH _NET_RESTACK_WINDOW, which
// managers honour without the focus) where the manager lists it, otherwise a plain raise.
void raiseToTop(xcb_connection_t* c, xcb_window_t window);

} // namespace lumira::platform
