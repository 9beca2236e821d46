#include "platform/window_state.h"

#include "platform/window_system.h"

#include <QWidget>
#include <cstdlib>
#include <vector>

namespace lumira::platform {

namespace {

constexpr uint32_t kRemove = 0;
constexpr uint32_t kAdd = 1;
constexpr uint32_t kSourcePager = 2; // a request the window manager honours without question

void sendToRoot(xcb_connection_t* c, xcb_window_t window, xcb_atom_t type,
                std::initializer_list<uint32_t> data) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = type;
    int i = 0;
    for (uint32_t value : data)
        event.data.data32[i++] = value;
    xcb_send_event(c, 0, x11Root(),
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
}

// A window that is not mapped yet carries its state in its own property, which the window
// manager reads when it maps the window.
void changeStateProperty(xcb_connection_t* c, xcb_window_t window,
                         const std::vector<xcb_atom_t>& atoms, bool add) {
    const xcb_atom_t state = x11Atom("_NET_WM_STATE");
    auto cookie = xcb_get_property(c, 0, window, state, XCB_ATOM_ATOM, 0, 64);
    xcb_get_property_reply_t* reply = xcb_get_property_reply(c, cookie, nullptr);
    std::vector<xcb_atom_t> current;
    if (reply && reply->format == 32) {
        auto* values = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply));
        current.assign(values, values + xcb_get_property_value_length(reply) / 4);
    }
    std::free(reply);
    for (xcb_atom_t atom : atoms) {
        std::erase(current, atom);
        if (add)
            current.push_back(atom);
    }
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, state, XCB_ATOM_ATOM, 32,
                        uint32_t(current.size()), current.data());
}

void changeState(QWidget& window, std::initializer_list<const char*> names, bool add) {
    xcb_connection_t* c = x11Connection();
    if (!hasX11() || !c)
        return;
    const auto id = xcb_window_t(window.winId());
    std::vector<xcb_atom_t> atoms;
    for (const char* name : names)
        atoms.push_back(x11Atom(name));
    if (window.isVisible()) {
        for (xcb_atom_t atom : atoms)
            sendToRoot(c, id, x11Atom("_NET_WM_STATE"),
                       {add ? kAdd : kRemove, atom, 0, kSourcePager});
    } else {
        changeStateProperty(c, id, atoms, add);
    }
    xcb_flush(c);
}

void raiseAndActivate(QWidget& window) {
    window.raise();
    xcb_connection_t* c = x11Connection();
    if (!hasX11() || !c || !window.isVisible()) {
        window.activateWindow();
        return;
    }
    sendToRoot(c, xcb_window_t(window.winId()), x11Atom("_NET_ACTIVE_WINDOW"),
               {kSourcePager, XCB_CURRENT_TIME, 0});
    xcb_flush(c);
}

} // namespace

void setAbove(QWidget& window, bool above) {
    changeState(window, {"_NET_WM_STATE_ABOVE"}, above);
    raiseAndActivate(window);
}

void markSkipTaskbar(QWidget& window) {
    changeState(window, {"_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"}, true);
}

} // namespace lumira::platform
