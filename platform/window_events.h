#pragma once

#include <QObject>
#include <xcb/xcb.h>

class QSocketNotifier;

namespace lumira::platform {

// A connection of the program's own to the X server that tells at once when the window system
// moves, resizes, unmaps or reparents a window, or changes its state or workspace, whoever
// asked for it; and when any top-level window is mapped, moved or restacked (the root's
// substructure), which may leave it covered. Nothing it selects reaches Qt's connection.
class WindowEvents final : public QObject {
    Q_OBJECT
public:
    WindowEvents(xcb_window_t window, QObject* parent);
    ~WindowEvents() override;

    // Null when the X server could not be reached.
    xcb_connection_t* connection() const { return connection_; }
    // Handles events that arrived while replies were read on the connection.
    void readQueued();

signals:
    void changed();
    void othersChanged();

private:
    void readEvents();
    void handle(const xcb_generic_event_t* event);

    xcb_connection_t* connection_ = nullptr;
    xcb_window_t window_;
    xcb_window_t root_ = XCB_NONE;
    xcb_atom_t state_ = XCB_NONE;
    xcb_atom_t desktop_ = XCB_NONE;
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace lumira::platform
