#include "platform/window_events.h"

#include "platform/x11_reply.h"

#include <QSocketNotifier>

namespace lumira::platform {

WindowEvents::WindowEvents(xcb_window_t window, QObject* parent)
    : QObject(parent), window_(window) {
    connection_ = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection_)) {
        xcb_disconnect(connection_);
        connection_ = nullptr;
        return;
    }
    root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
    state_ = internAtom(connection_, "_NET_WM_STATE");
    desktop_ = internAtom(connection_, "_NET_WM_DESKTOP");
    // Each client has its own event mask on a window, so these leave Qt's untouched.
    const uint32_t rootMask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &rootMask);
    const uint32_t windowMask = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(connection_, window_, XCB_CW_EVENT_MASK, &windowMask);
    xcb_flush(connection_);
    notifier_ =
        new QSocketNotifier(xcb_get_file_descriptor(connection_), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &WindowEvents::readEvents);
}

WindowEvents::~WindowEvents() {
    if (connection_)
        xcb_disconnect(connection_);
}

void WindowEvents::readEvents() {
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
        handle(event);
        std::free(event);
    }
    if (xcb_connection_has_error(connection_))
        notifier_->setEnabled(false); // the X server is gone; the program ends with it
}

void WindowEvents::readQueued() {
    if (!connection_)
        return;
    while (xcb_generic_event_t* event = xcb_poll_for_queued_event(connection_)) {
        handle(event);
        std::free(event);
    }
}

void WindowEvents::handle(const xcb_generic_event_t* event) {
    bool about = false;
    bool others = false;
    switch (event->response_type & 0x7f) {
    case XCB_CONFIGURE_NOTIFY: {
        const auto* configure = reinterpret_cast<const xcb_configure_notify_event_t*>(event);
        about = configure->window == window_;
        others = configure->event == root_;
        break;
    }
    case XCB_MAP_NOTIFY:
        others = reinterpret_cast<const xcb_map_notify_event_t*>(event)->event == root_;
        break;
    case XCB_UNMAP_NOTIFY:
        about = reinterpret_cast<const xcb_unmap_notify_event_t*>(event)->window == window_;
        break;
    case XCB_REPARENT_NOTIFY:
        about = reinterpret_cast<const xcb_reparent_notify_event_t*>(event)->window == window_;
        break;
    case XCB_PROPERTY_NOTIFY: {
        const auto* property = reinterpret_cast<const xcb_property_notify_event_t*>(event);
        about =
            property->window == window_ && (property->atom == state_ || property->atom == desktop_);
        break;
    }
    default: // errors of the watch's own requests, client messages to the root: not ours
        break;
    }
    if (about)
        emit changed();
    if (others)
        emit othersChanged();
}

} // namespace lumira::platform
