#include "platform/window_state.h"

#include "platform/window_system.h"

#include <QWidget>
#include <algorithm>
#include <array>
#include <cstdlib>

namespace lumira::platform {

namespace {

constexpr uint32_t kRemove = 0;
constexpr uint32_t kAdd = 1;
constexpr uint32_t kSourcePager = 2; // a request the window manager honours without question

// The atoms these requests use, looked up once: raising the settings window runs on every
// 5 ms tick while Shift+F12 is held.
struct Atoms {
    xcb_atom_t state = x11Atom("_NET_WM_STATE");
    xcb_atom_t above = x11Atom("_NET_WM_STATE_ABOVE");
    xcb_atom_t skipTaskbar = x11Atom("_NET_WM_STATE_SKIP_TASKBAR");
    xcb_atom_t skipPager = x11Atom("_NET_WM_STATE_SKIP_PAGER");
    xcb_atom_t activeWindow = x11Atom("_NET_ACTIVE_WINDOW");
};

const Atoms& atoms() {
    static const Atoms resolved;
    return resolved;
}

void sendToRoot(xcb_connection_t* c, xcb_window_t window, xcb_atom_t type,
                std::array<uint32_t, 4> data) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = type;
    std::copy(data.begin(), data.end(), event.data.data32);
    xcb_send_event(c, 0, x11Root(),
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
}

// A window that is not mapped yet carries its state in its own property, which the window
// manager reads when it maps the window.
void changeStateProperty(xcb_connection_t* c, xcb_window_t window, xcb_atom_t atom, bool add) {
    const xcb_atom_t state = atoms().state;
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
        sendToRoot(c, id, atoms().state, {add ? kAdd : kRemove, atom, 0, kSourcePager});
    else
        changeStateProperty(c, id, atom, add);
    xcb_flush(c);
}

void raiseAndActivate(QWidget& window) {
    window.raise();
    xcb_connection_t* c = x11Connection();
    if (!hasX11() || !c || !window.isVisible()) {
        window.activateWindow();
        return;
    }
    sendToRoot(c, xcb_window_t(window.winId()), atoms().activeWindow,
               {kSourcePager, XCB_CURRENT_TIME, 0, 0});
    xcb_flush(c);
}

} // namespace

void setAbove(QWidget& window, bool above) {
    changeState(window, atoms().above, above);
    raiseAndActivate(window);
}

void markSkipTaskbar(QWidget& window) {
    changeState(window, atoms().skipTaskbar, true);
    changeState(window, atoms().skipPager, true);
}

} // namespace lumira::platform
