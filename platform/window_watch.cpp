#include "platform/window_watch.h"

#include "platform/window_state.h"
#include "platform/window_system.h"

#include <QCoreApplication>
#include <QWidget>
#include <algorithm>
#include <cstdlib>
#include <memory>

namespace lumira::platform {

namespace {

template <typename Reply> using Owned = std::unique_ptr<Reply, decltype(&std::free)>;

template <typename Reply> Owned<Reply> owned(Reply* reply) {
    return Owned<Reply>(reply, &std::free);
}

std::vector<xcb_atom_t> stateAtoms(xcb_connection_t* c, xcb_window_t window) {
    auto reply = owned(xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, x11Atom("_NET_WM_STATE"), XCB_ATOM_ATOM, 0, 64),
        nullptr));
    if (!reply || reply->format != 32)
        return {};
    auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply.get()));
    return {atoms, atoms + xcb_get_property_value_length(reply.get()) / 4};
}

// The child of the root that holds `window`: its window-manager frame, or itself.
xcb_window_t topLevelOf(xcb_connection_t* c, xcb_window_t window) {
    const xcb_window_t root = x11Root();
    for (int depth = 0; depth < 16 && window != XCB_NONE; ++depth) {
        auto tree = owned(xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr));
        if (!tree)
            return XCB_NONE;
        if (tree->parent == root)
            return window;
        window = tree->parent;
    }
    return XCB_NONE;
}

std::optional<QRect> rootRect(xcb_connection_t* c, xcb_window_t window) {
    auto geometry = owned(xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr));
    if (!geometry)
        return std::nullopt;
    return QRect(geometry->x, geometry->y, geometry->width + 2 * geometry->border_width,
                 geometry->height + 2 * geometry->border_width);
}

bool isViewable(xcb_connection_t* c, xcb_window_t window) {
    auto attributes =
        owned(xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr));
    return attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE &&
           attributes->_class == XCB_WINDOW_CLASS_INPUT_OUTPUT;
}

} // namespace

std::optional<WindowFacts> windowFacts(QWidget& window) {
    xcb_connection_t* c = x11Connection();
    if (!hasX11() || !c || !window.testAttribute(Qt::WA_WState_Created))
        return std::nullopt;
    const auto id = xcb_window_t(window.winId());
    auto geometry = owned(xcb_get_geometry_reply(c, xcb_get_geometry(c, id), nullptr));
    auto origin = owned(xcb_translate_coordinates_reply(
        c, xcb_translate_coordinates(c, id, x11Root(), 0, 0), nullptr));
    if (!geometry || !origin)
        return std::nullopt;
    WindowFacts facts;
    facts.client = QRect(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
    facts.viewable = isViewable(c, id);
    const std::vector<xcb_atom_t> states = stateAtoms(c, id);
    const auto has = [&](const char* name) {
        return std::find(states.begin(), states.end(), x11Atom(name)) != states.end();
    };
    facts.minimised = has("_NET_WM_STATE_HIDDEN");
    facts.above = has("_NET_WM_STATE_ABOVE");
    facts.skipTaskbar = has("_NET_WM_STATE_SKIP_TASKBAR");
    return facts;
}

void restoreWindowState(QWidget& window) {
    xcb_connection_t* c = x11Connection();
    if (!hasX11() || !c)
        return;
    xcb_map_window(c, xcb_window_t(window.winId()));
    keepAbove(window);
    markSkipTaskbar(window);
}

void requestGeometry(QWidget& window, const QRect& rect) {
    xcb_connection_t* c = x11Connection();
    if (!hasX11() || !c || !window.testAttribute(Qt::WA_WState_Created))
        return;
    const uint32_t values[] = {uint32_t(rect.x()), uint32_t(rect.y()), uint32_t(rect.width()),
                               uint32_t(rect.height())};
    xcb_configure_window(c, xcb_window_t(window.winId()),
                         XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                             XCB_CONFIG_WINDOW_HEIGHT,
                         values);
    xcb_flush(c);
}

std::vector<StackedWindow> coveringWindows(QWidget& window) {
    xcb_connection_t* c = x11Connection();
    if (!hasX11() || !c || !window.testAttribute(Qt::WA_WState_Created))
        return {};
    const xcb_window_t ours = topLevelOf(c, xcb_window_t(window.winId()));
    const std::optional<QRect> ourFrame = rootRect(c, ours);
    if (ours == XCB_NONE || !ourFrame)
        return {};
    auto tree = owned(xcb_query_tree_reply(c, xcb_query_tree(c, x11Root()), nullptr));
    if (!tree)
        return {};
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    const int count = xcb_query_tree_children_length(tree.get());
    const xcb_window_t* at = std::find(children, children + count, ours); // bottom to top
    std::vector<StackedWindow> covering;
    for (const xcb_window_t* above = at + 1; at != children + count && above < children + count;
         ++above) {
        if (!isViewable(c, *above))
            continue;
        const std::optional<QRect> frame = rootRect(c, *above);
        if (frame && frame->intersects(*ourFrame))
            covering.push_back({*above, *frame});
    }
    return covering;
}

} // namespace lumira::platform

namespace lumira::platform {

WindowEvents::WindowEvents(QWidget& window) : QObject(&window), window_(window) {
    xcb_connection_t* c = x11Connection();
    if (!hasX11() || !c)
        return;
    QCoreApplication::instance()->installNativeEventFilter(this);
    // Added to what Qt already listens to on the root window, never in place of it.
    auto attributes =
        owned(xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, x11Root()), nullptr));
    const uint32_t mask =
        (attributes ? attributes->your_event_mask : 0) | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, x11Root(), XCB_CW_EVENT_MASK, &mask);
    xcb_flush(c);
}

WindowEvents::~WindowEvents() {
    if (QCoreApplication* app = QCoreApplication::instance())
        app->removeNativeEventFilter(this);
}

bool WindowEvents::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t" || !window_.testAttribute(Qt::WA_WState_Created))
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    const auto ours = xcb_window_t(window_.winId());
    const xcb_window_t root = x11Root();
    bool about = false;
    bool others = false;
    switch (event->response_type & 0x7f) {
    case XCB_CONFIGURE_NOTIFY: {
        const auto* configure = reinterpret_cast<const xcb_configure_notify_event_t*>(event);
        about = configure->window == ours;
        others = configure->event == root;
        break;
    }
    case XCB_MAP_NOTIFY:
        others = reinterpret_cast<const xcb_map_notify_event_t*>(event)->event == root;
        break;
    case XCB_UNMAP_NOTIFY:
        about = reinterpret_cast<const xcb_unmap_notify_event_t*>(event)->window == ours;
        break;
    case XCB_REPARENT_NOTIFY:
        about = reinterpret_cast<const xcb_reparent_notify_event_t*>(event)->window == ours;
        break;
    case XCB_PROPERTY_NOTIFY: {
        const auto* property = reinterpret_cast<const xcb_property_notify_event_t*>(event);
        about = property->window == ours && property->atom == x11Atom("_NET_WM_STATE");
        break;
    }
    default:
        break;
    }
    if (about)
        emit changed();
    if (others)
        emit othersChanged();
    return false;
}

} // namespace lumira::platform
