#include "platform/window_state.h"

#include "platform/window_system.h"
#include "platform/x11_reply.h"

#include <QThread>
#include <QWidget>
#include <algorithm>
#include <array>
#include <cstdlib>
#include <optional>

namespace lumira::platform {

namespace {

constexpr uint32_t kRemove = 0;
constexpr uint32_t kAdd = 1;
constexpr uint32_t kSourcePager = 2; // a request the window manager honours without question
constexpr int kFrameExtentsWaitMs = 100;
constexpr int kFrameExtentsPollMs = 2;

// A window that is not mapped yet carries its state in its own property, which the window
// manager reads when it maps the window.
void changeStateProperty(xcb_connection_t* c, xcb_window_t window, xcb_atom_t atom, bool add) {
    const xcb_atom_t state = x11Atom("_NET_WM_STATE");
    auto cookie = xcb_get_property(c, 0, window, state, XCB_ATOM_ATOM, 0, 32);
    xcb_get_property_reply_t* reply = xcb_get_property_reply(c, cookie, nullptr);
    std::array<xcb_atom_t, 33> current{};
    size_t count = 0;
    if (reply && reply->format == 32) {
        auto* values = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply));
        const size_t stored = std::min<size_t>(xcb_get_property_value_length(reply) / 4, 32);
        for (size_t i = 0; i < stored; ++i)
            if (values[i] != atom)
                current[count++] = values[i];
    }
    std::free(reply);
    if (add)
        current[count++] = atom;
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, state, XCB_ATOM_ATOM, 32, uint32_t(count),
                        current.data());
}

void changeState(QWidget& window, xcb_atom_t atom, bool add) {
    xcb_connection_t* c = x11Connection();
    if (!hasX11() || !c)
        return;
    const auto id = xcb_window_t(window.winId());
    if (window.isVisible())
        sendToRoot(c, id, x11Atom("_NET_WM_STATE"), {add ? kAdd : kRemove, atom, 0, kSourcePager});
    else
        changeStateProperty(c, id, atom, add);
    xcb_flush(c);
}

std::optional<QMargins> readFrameExtents(xcb_connection_t* c, xcb_window_t window) {
    auto cookie =
        xcb_get_property(c, 0, window, x11Atom("_NET_FRAME_EXTENTS"), XCB_ATOM_CARDINAL, 0, 4);
    xcb_get_property_reply_t* reply = xcb_get_property_reply(c, cookie, nullptr);
    std::optional<QMargins> extents;
    if (reply && reply->format == 32 && xcb_get_property_value_length(reply) == 16) {
        auto* v = static_cast<const uint32_t*>(xcb_get_property_value(reply));
        extents = QMargins(int(v[0]), int(v[2]), int(v[1]), int(v[3])); // left right top bottom
    }
    std::free(reply);
    return extents;
}

} // namespace

void raiseAndActivate(QWidget& window) {
    window.raise();
    xcb_connection_t* c = x11Connection();
    if (!hasX11() || !c || !window.isVisible()) {
        window.activateWindow();
        return;
    }
    sendToRoot(c, xcb_window_t(window.winId()), x11Atom("_NET_ACTIVE_WINDOW"),
               {kSourcePager, XCB_CURRENT_TIME, 0, 0});
    xcb_flush(c);
}

void setAbove(QWidget& window, bool above) {
    changeState(window, x11Atom("_NET_WM_STATE_ABOVE"), above);
    raiseAndActivate(window);
}

QMargins frameExtents(QWidget& window) {
    xcb_connection_t* c = x11Connection();
    if (!hasX11() || !c)
        return {};
    const auto id = xcb_window_t(window.winId());
    if (auto known = readFrameExtents(c, id))
        return *known;
    const xcb_atom_t request = x11Atom("_NET_REQUEST_FRAME_EXTENTS");
    if (!windowManagerSupports(c, request))
        return {};
    sendToRoot(c, id, request, {0, 0, 0, 0});
    xcb_flush(c);
    for (int waited = 0; waited < kFrameExtentsWaitMs; waited += kFrameExtentsPollMs) {
        if (auto extents = readFrameExtents(c, id))
            return *extents;
        QThread::msleep(kFrameExtentsPollMs);
    }
    return {};
}

void keepAbove(QWidget& window) {
    changeState(window, x11Atom("_NET_WM_STATE_ABOVE"), true);
}

void markSkipTaskbar(QWidget& window) {
    changeState(window, x11Atom("_NET_WM_STATE_SKIP_TASKBAR"), true);
    changeState(window, x11Atom("_NET_WM_STATE_SKIP_PAGER"), true);
}

} // namespace lumira::platform
