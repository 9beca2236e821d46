#include "platform/window_facts.h"

#include "platform/x11_reply.h"

#include <algorithm>
#include <array>

namespace lumira::platform {

namespace {

constexpr uint32_t kAdd = 1;
constexpr uint32_t kSourcePager = 2; // a request the window manager honours without question
constexpr uint32_t kStackAbove = 0;

xcb_window_t rootOf(xcb_connection_t* c) {
    return xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
}

std::vector<xcb_atom_t> atomList(xcb_connection_t* c, xcb_window_t window, const char* name) {
    auto reply = owned(xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, internAtom(c, name), XCB_ATOM_ATOM, 0, 4096), nullptr));
    if (!reply || reply->format != 32)
        return {};
    auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply.get()));
    return {atoms, atoms + xcb_get_property_value_length(reply.get()) / 4};
}

bool contains(const std::vector<xcb_atom_t>& atoms, xcb_atom_t atom) {
    return std::find(atoms.begin(), atoms.end(), atom) != atoms.end();
}

std::optional<uint32_t> cardinal(xcb_connection_t* c, xcb_window_t window, const char* name) {
    auto reply = owned(xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, internAtom(c, name), XCB_ATOM_CARDINAL, 0, 1), nullptr));
    if (!reply || reply->format != 32 || xcb_get_property_value_length(reply.get()) != 4)
        return std::nullopt;
    return *static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
}

void addState(xcb_connection_t* c, xcb_window_t window, const char* first, const char* second) {
    sendToRoot(c, window, internAtom(c, "_NET_WM_STATE"),
               {kAdd, internAtom(c, first), second ? internAtom(c, second) : 0, kSourcePager, 0});
}

std::optional<QRect> rootRect(xcb_connection_t* c, xcb_window_t window) {
    auto geometry = owned(xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr));
    if (!geometry)
        return std::nullopt;
    return QRect(geometry->x, geometry->y, geometry->width + 2 * geometry->border_width,
                 geometry->height + 2 * geometry->border_width);
}

// The client window inside a top-level frame: the one that carries WM_STATE.
xcb_window_t clientOf(xcb_connection_t* c, xcb_window_t frame, int depth = 0) {
    auto state = owned(xcb_get_property_reply(
        c,
        xcb_get_property(c, 0, frame, internAtom(c, "WM_STATE"), XCB_GET_PROPERTY_TYPE_ANY, 0, 0),
        nullptr));
    if (state && state->type != XCB_ATOM_NONE)
        return frame;
    if (depth >= 3)
        return XCB_NONE;
    auto tree = owned(xcb_query_tree_reply(c, xcb_query_tree(c, frame), nullptr));
    if (!tree)
        return XCB_NONE;
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    for (int i = xcb_query_tree_children_length(tree.get()) - 1; i >= 0; --i)
        if (xcb_window_t client = clientOf(c, children[i], depth + 1); client != XCB_NONE)
            return client;
    return XCB_NONE;
}

// Windows the desktop keeps in layers above every program's: no program can top them.
bool inDesktopLayer(xcb_connection_t* c, xcb_window_t frame, bool overrideRedirect) {
    if (overrideRedirect)
        return true; // menus, tooltips, notices drawn without the window manager
    const xcb_window_t client = clientOf(c, frame);
    if (client == XCB_NONE)
        return false;
    static const char* const kDesktopTypes[] = {
        "_NET_WM_WINDOW_TYPE_DOCK",          "_NET_WM_WINDOW_TYPE_NOTIFICATION",
        "_NET_WM_WINDOW_TYPE_TOOLTIP",       "_NET_WM_WINDOW_TYPE_POPUP_MENU",
        "_NET_WM_WINDOW_TYPE_DROPDOWN_MENU", "_NET_WM_WINDOW_TYPE_COMBO",
        "_NET_WM_WINDOW_TYPE_DND",           "_KDE_NET_WM_WINDOW_TYPE_ON_SCREEN_DISPLAY",
    };
    const std::vector<xcb_atom_t> types = atomList(c, client, "_NET_WM_WINDOW_TYPE");
    return std::any_of(std::begin(kDesktopTypes), std::end(kDesktopTypes),
                       [&](const char* type) { return contains(types, internAtom(c, type)); });
}

} // namespace

xcb_window_t topLevelOf(xcb_connection_t* c, xcb_window_t window) {
    const xcb_window_t root = rootOf(c);
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

std::optional<WindowFacts> windowFacts(xcb_connection_t* c, xcb_window_t window) {
    if (!c)
        return std::nullopt;
    auto geometry = owned(xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr));
    auto origin = owned(xcb_translate_coordinates_reply(
        c, xcb_translate_coordinates(c, window, rootOf(c), 0, 0), nullptr));
    auto attributes =
        owned(xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr));
    if (!geometry || !origin || !attributes)
        return std::nullopt;
    WindowFacts facts;
    facts.client = QRect(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
    facts.viewable = attributes->map_state == XCB_MAP_STATE_VIEWABLE;
    const std::vector<xcb_atom_t> states = atomList(c, window, "_NET_WM_STATE");
    facts.minimised = contains(states, internAtom(c, "_NET_WM_STATE_HIDDEN"));
    facts.above = contains(states, internAtom(c, "_NET_WM_STATE_ABOVE"));
    facts.skipTaskbar = contains(states, internAtom(c, "_NET_WM_STATE_SKIP_TASKBAR"));
    const std::optional<uint32_t> desktop = cardinal(c, window, "_NET_WM_DESKTOP");
    facts.onAllWorkspaces = !desktop || *desktop == kAllWorkspaces;
    return facts;
}

void restoreWindowState(xcb_connection_t* c, xcb_window_t window, const WindowFacts& facts) {
    if (!c)
        return;
    if (!facts.viewable || facts.minimised) {
        xcb_map_window(c, window);
        // A minimised window comes back the way a taskbar brings it back.
        if (facts.minimised)
            sendToRoot(c, window, internAtom(c, "_NET_ACTIVE_WINDOW"),
                       {kSourcePager, XCB_CURRENT_TIME, 0, 0, 0});
    }
    addState(c, window, "_NET_WM_STATE_ABOVE", "_NET_WM_STATE_SKIP_TASKBAR");
    addState(c, window, "_NET_WM_STATE_SKIP_PAGER", "_NET_WM_STATE_STICKY");
    if (!facts.onAllWorkspaces)
        sendToRoot(c, window, internAtom(c, "_NET_WM_DESKTOP"),
                   {kAllWorkspaces, kSourcePager, 0, 0, 0});
    xcb_flush(c);
}

void requestGeometry(xcb_connection_t* c, xcb_window_t window, const QRect& rect) {
    if (!c)
        return;
    const uint32_t values[] = {uint32_t(rect.x()), uint32_t(rect.y()), uint32_t(rect.width()),
                               uint32_t(rect.height())};
    xcb_configure_window(c, window,
                         XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                             XCB_CONFIG_WINDOW_HEIGHT,
                         values);
    xcb_flush(c);
}

std::vector<CoveringWindow> coveringWindows(xcb_connection_t* c, xcb_window_t window,
                                            xcb_window_t laidOver) {
    if (!c)
        return {};
    const xcb_window_t ours = topLevelOf(c, window);
    const std::optional<QRect> ourFrame = rootRect(c, ours);
    if (ours == XCB_NONE || !ourFrame)
        return {};
    auto tree = owned(xcb_query_tree_reply(c, xcb_query_tree(c, rootOf(c)), nullptr));
    if (!tree)
        return {};
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    const int count = xcb_query_tree_children_length(tree.get());
    const xcb_window_t* at = std::find(children, children + count, ours); // bottom to top
    const xcb_window_t skipped = laidOver == XCB_NONE ? XCB_NONE : topLevelOf(c, laidOver);
    std::vector<CoveringWindow> covering;
    for (const xcb_window_t* above = at + 1; at != children + count && above < children + count;
         ++above) {
        if (*above == skipped)
            continue;
        auto attributes = owned(
            xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, *above), nullptr));
        if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE ||
            attributes->_class != XCB_WINDOW_CLASS_INPUT_OUTPUT)
            continue;
        const std::optional<QRect> frame = rootRect(c, *above);
        if (frame && frame->intersects(*ourFrame))
            covering.push_back({*above, inDesktopLayer(c, *above, attributes->override_redirect)});
    }
    return covering;
}

void raiseToTop(xcb_connection_t* c, xcb_window_t window) {
    if (!c)
        return;
    if (windowManagerSupports(c, internAtom(c, "_NET_RESTACK_WINDOW"))) {
        sendToRoot(c, window, internAtom(c, "_NET_RESTACK_WINDOW"),
                   {kSourcePager, XCB_NONE, kStackAbove, 0, 0});
    } else {
        const uint32_t above = XCB_STACK_MODE_ABOVE;
        xcb_configure_window(c, window, XCB_CONFIG_WINDOW_STACK_MODE, &above);
    }
    xcb_flush(c);
}

} // namespace lumira::platform
