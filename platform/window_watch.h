#pragma once

#include <QRect>
#include <cstdint>
#include <optional>
#include <vector>

class QWidget;

// What the window system says of a top-level window right now (X11, EWMH), for the watch
// that keeps the display window where and as it belongs.
namespace lumira::platform {

struct WindowFacts {
    QRect client;             // client area in root coordinates
    bool viewable = false;    // mapped, with all its ancestors
    bool minimised = false;   // _NET_WM_STATE_HIDDEN
    bool above = false;       // _NET_WM_STATE_ABOVE
    bool skipTaskbar = false; // _NET_WM_STATE_SKIP_TASKBAR
};

// Nothing without X11 or when the window has no native window.
std::optional<WindowFacts> windowFacts(QWidget& window);

// Maps the window again when another client unmapped it, and asks the window manager for the
// above, skip-taskbar and skip-pager states without activating the window.
void restoreWindowState(QWidget& window);

// Asks for the window's client area at `rect` (root coordinates) directly of the window
// system, whatever Qt believes the window's geometry to be.
void requestGeometry(QWidget& window, const QRect& rect);

// A top-level window of another program stacked above ours: its id and frame in root
// coordinates.
struct StackedWindow {
    uint32_t id = 0;
    QRect frame;
};

// Viewable top-level windows above `window` in the stacking order that overlap its frame.
std::vector<StackedWindow> coveringWindows(QWidget& window);

} // namespace lumira::platform

#include <QAbstractNativeEventFilter>
#include <QObject>

namespace lumira::platform {

// Tells at once when the window system moves, resizes, unmaps or reparents a window, or
// changes its _NET_WM_STATE, whoever asked for it; and when any top-level window is mapped,
// moved or restacked (the root's substructure), which may leave it covered.
class WindowEvents final : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT
public:
    explicit WindowEvents(QWidget& window);
    ~WindowEvents() override;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

signals:
    void changed();
    void othersChanged();

private:
    QWidget& window_;
};

} // namespace lumira::platform
