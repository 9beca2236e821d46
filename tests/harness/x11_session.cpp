#include "x11_session.h"

#include "wait.h"

#include <QImage>
#include <QString>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <xcb/screensaver.h>
#include <xcb/xtest.h>

namespace harness {

namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <typename T> using XcbPtr = std::unique_ptr<T, FreeDeleter>;

// Takes a reply, dropping any error so it does not pile up in the event queue.
template <typename Reply, typename Cookie, typename Fn>
XcbPtr<Reply> replyOf(xcb_connection_t* conn, Fn fn, Cookie cookie) {
    xcb_generic_error_t* error = nullptr;
    XcbPtr<Reply> reply(fn(conn, cookie, &error));
    std::free(error);
    return reply;
}

constexpr uint32_t kNoKeysym = 0;
constexpr xcb_window_t kNoWindow = XCB_WINDOW_NONE;
constexpr xcb_atom_t kNoAtom = XCB_ATOM_NONE;

// Names of the non-printing keys the tests use; printable ASCII maps to its own code.
uint32_t keysymFromName(const std::string& name) {
    static const std::unordered_map<std::string, uint32_t> table = {
        {"Shift_L", 0xffe1},   {"Shift_R", 0xffe2}, {"Control_L", 0xffe3}, {"Control_R", 0xffe4},
        {"Alt_L", 0xffe9},     {"Alt_R", 0xffea},   {"Super_L", 0xffeb},   {"Return", 0xff0d},
        {"BackSpace", 0xff08}, {"Tab", 0xff09},     {"Escape", 0xff1b},    {"Left", 0xff51},
        {"Up", 0xff52},        {"Right", 0xff53},   {"Down", 0xff54},      {"Page_Up", 0xff55},
        {"Page_Down", 0xff56}, {"Home", 0xff50},    {"End", 0xff57},       {"Insert", 0xff63},
        {"Delete", 0xffff},    {"space", 0x20},     {"minus", 0x2d},       {"period", 0x2e},
        {"comma", 0x2c},       {"slash", 0x2f},     {"KP_Enter", 0xff8d},
    };
    if (auto it = table.find(name); it != table.end()) {
        return it->second;
    }
    if (name.size() == 1 && name[0] >= 0x20 && name[0] < 0x7f) {
        return static_cast<unsigned char>(name[0]);
    }
    if (name.size() >= 2 && name[0] == 'F') { // F1 .. F35
        char* end = nullptr;
        const long n = std::strtol(name.c_str() + 1, &end, 10);
        if (*end == '\0' && n >= 1 && n <= 35) {
            return 0xffbe + static_cast<uint32_t>(n - 1);
        }
    }
    return kNoKeysym;
}

std::string latin1ToUtf8(const std::string& latin1) {
    return QString::fromLatin1(latin1.data(), static_cast<qsizetype>(latin1.size())).toStdString();
}

// Scales the bits of `value` selected by `mask` to 0..255.
uint32_t channel(uint32_t value, uint32_t mask) {
    if (mask == 0) {
        return 0;
    }
    const uint32_t bits = (value & mask) >> std::countr_zero(mask);
    const uint32_t max = mask >> std::countr_zero(mask);
    return bits * 255 / max;
}

uint32_t unchannel(uint32_t value8, uint32_t mask) {
    if (mask == 0) {
        return 0;
    }
    const uint32_t max = mask >> std::countr_zero(mask);
    return ((value8 * max + 127) / 255) << std::countr_zero(mask);
}

} // namespace

X11Session::X11Session() {
    int screenNumber = 0;
    conn_ = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(conn_)) {
        xcb_disconnect(conn_);
        const char* display = std::getenv("DISPLAY");
        throw std::runtime_error(std::string("cannot connect to X display ") +
                                 (display ? display : "(DISPLAY unset)"));
    }
    const xcb_setup_t* setup = xcb_get_setup(conn_);
    auto it = xcb_setup_roots_iterator(setup);
    for (int i = 0; i < screenNumber && it.rem > 0; ++i) {
        xcb_screen_next(&it);
    }
    screen_ = it.data;

    format_.lsbFirst = setup->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST;
    for (auto f = xcb_setup_pixmap_formats_iterator(setup); f.rem > 0; xcb_format_next(&f)) {
        if (f.data->depth == screen_->root_depth) {
            format_.bitsPerPixel = f.data->bits_per_pixel;
            format_.scanlinePad = f.data->scanline_pad;
        }
    }
    for (auto d = xcb_screen_allowed_depths_iterator(screen_); d.rem > 0; xcb_depth_next(&d)) {
        for (auto v = xcb_depth_visuals_iterator(d.data); v.rem > 0; xcb_visualtype_next(&v)) {
            if (v.data->visual_id == screen_->root_visual) {
                format_.redMask = v.data->red_mask;
                format_.greenMask = v.data->green_mask;
                format_.blueMask = v.data->blue_mask;
            }
        }
    }

    const xcb_query_extension_reply_t* xtest = xcb_get_extension_data(conn_, &xcb_test_id);
    if (xtest == nullptr || !xtest->present) {
        xcb_disconnect(conn_);
        throw std::runtime_error("the X server lacks the XTEST extension");
    }
    keysyms_ = xcb_key_symbols_alloc(conn_);
}

X11Session::~X11Session() {
    for (xcb_keycode_t key : heldKeys_) { // never leave a modifier stuck for the next test
        fakeInput(XCB_KEY_RELEASE, key);
    }
    for (xcb_window_t window : ownWindows_) {
        xcb_destroy_window(conn_, window);
    }
    xcb_flush(conn_);
    xcb_key_symbols_free(keysyms_);
    xcb_disconnect(conn_);
}

void X11Session::sync() {
    xcb_flush(conn_);
    std::free(xcb_get_input_focus_reply(conn_, xcb_get_input_focus(conn_), nullptr));
    // This connection selects no events; drop whatever arrives (errors, MappingNotify).
    while (xcb_generic_event_t* event = xcb_poll_for_event(conn_)) {
        std::free(event);
    }
}

xcb_atom_t X11Session::atom(const std::string& name) {
    if (auto it = atoms_.find(name); it != atoms_.end()) {
        return it->second;
    }
    auto cookie = xcb_intern_atom(conn_, 0, static_cast<uint16_t>(name.size()), name.c_str());
    auto reply = replyOf<xcb_intern_atom_reply_t>(conn_, xcb_intern_atom_reply, cookie);
    const xcb_atom_t result = reply ? reply->atom : kNoAtom;
    atoms_[name] = result;
    return result;
}

std::string X11Session::atomName(xcb_atom_t a) {
    auto reply = replyOf<xcb_get_atom_name_reply_t>(conn_, xcb_get_atom_name_reply,
                                                    xcb_get_atom_name(conn_, a));
    if (!reply) {
        return {};
    }
    return std::string(xcb_get_atom_name_name(reply.get()),
                       static_cast<size_t>(xcb_get_atom_name_name_length(reply.get())));
}

std::optional<std::string> X11Session::property(xcb_window_t window, xcb_atom_t prop,
                                                xcb_atom_t* type) {
    auto cookie = xcb_get_property(conn_, 0, window, prop, XCB_GET_PROPERTY_TYPE_ANY, 0, 1 << 20);
    auto reply = replyOf<xcb_get_property_reply_t>(conn_, xcb_get_property_reply, cookie);
    if (!reply || reply->type == XCB_ATOM_NONE) {
        return std::nullopt;
    }
    if (type != nullptr) {
        *type = reply->type;
    }
    const auto* data = static_cast<const char*>(xcb_get_property_value(reply.get()));
    return std::string(data, static_cast<size_t>(xcb_get_property_value_length(reply.get())));
}

std::vector<uint32_t> X11Session::property32(xcb_window_t window, const std::string& name) {
    const auto bytes = property(window, atom(name));
    std::vector<uint32_t> values(bytes ? bytes->size() / 4 : 0);
    if (!values.empty()) {
        std::memcpy(values.data(), bytes->data(), values.size() * 4);
    }
    return values;
}

std::vector<xcb_window_t> X11Session::children(xcb_window_t window) {
    auto reply =
        replyOf<xcb_query_tree_reply_t>(conn_, xcb_query_tree_reply, xcb_query_tree(conn_, window));
    if (!reply) {
        return {};
    }
    const xcb_window_t* first = xcb_query_tree_children(reply.get());
    return {first, first + xcb_query_tree_children_length(reply.get())};
}

// Managed clients carry WM_STATE (the window manager's frames sit between them and the root);
// a titled window without a managed client below it is an unmanaged top-level window.
void X11Session::collectClients(xcb_window_t parent, int depth, std::vector<xcb_window_t>& out) {
    for (xcb_window_t child : children(parent)) {
        if (property(child, atom("WM_STATE"))) {
            out.push_back(child);
            continue;
        }
        const size_t before = out.size();
        if (depth < 4) {
            collectClients(child, depth + 1, out);
        }
        if (out.size() == before && depth == 0 && !windowTitle(child).empty()) {
            out.push_back(child);
        }
    }
}

std::string X11Session::windowTitle(xcb_window_t window) {
    if (auto netName = property(window, atom("_NET_WM_NAME"))) {
        return *netName;
    }
    xcb_atom_t type = XCB_ATOM_NONE;
    auto name = property(window, XCB_ATOM_WM_NAME, &type);
    if (!name) {
        return {};
    }
    return type == XCB_ATOM_STRING ? latin1ToUtf8(*name) : *name;
}

bool X11Session::isViewable(xcb_window_t window) {
    auto reply = replyOf<xcb_get_window_attributes_reply_t>(
        conn_, xcb_get_window_attributes_reply, xcb_get_window_attributes(conn_, window));
    return reply && reply->map_state == XCB_MAP_STATE_VIEWABLE;
}

std::vector<xcb_window_t> X11Session::findClientWindows(const std::string& title) {
    std::vector<xcb_window_t> all;
    collectClients(root(), 0, all);
    std::vector<xcb_window_t> matching;
    for (xcb_window_t window : all) {
        // Chromium's window of a sign carries the page's own title ("Lumira" for the start
        // page, as the welcome window): a title names one of the program's windows, never it.
        const auto wmClass = property(window, XCB_ATOM_WM_CLASS);
        if (wmClass && wmClass->find("Chromium-browser") != std::string::npos)
            continue;
        xcb_atom_t type = XCB_ATOM_NONE;
        auto wmName = property(window, XCB_ATOM_WM_NAME, &type);
        const bool wmNameMatches =
            wmName && (type == XCB_ATOM_STRING ? latin1ToUtf8(*wmName) : *wmName) == title;
        if ((wmNameMatches || property(window, atom("_NET_WM_NAME")) == title) &&
            isViewable(window)) {
            matching.push_back(window);
        }
    }
    return matching;
}

std::optional<xcb_window_t> X11Session::waitForWindow(const std::string& title,
                                                      std::chrono::milliseconds timeout) {
    std::vector<xcb_window_t> found;
    if (!waitUntil([&] { return !(found = findClientWindows(title)).empty(); }, timeout,
                   std::chrono::milliseconds(10))) {
        return std::nullopt;
    }
    return found.front();
}

bool X11Session::waitForNoWindow(const std::string& title, std::chrono::milliseconds timeout) {
    return waitUntil([&] { return findClientWindows(title).empty(); }, timeout,
                     std::chrono::milliseconds(10));
}

Rect X11Session::rootGeometry(xcb_window_t window) {
    auto geometry = replyOf<xcb_get_geometry_reply_t>(conn_, xcb_get_geometry_reply,
                                                      xcb_get_geometry(conn_, window));
    auto origin = replyOf<xcb_translate_coordinates_reply_t>(
        conn_, xcb_translate_coordinates_reply,
        xcb_translate_coordinates(conn_, window, root(), 0, 0));
    if (!geometry || !origin) {
        return {};
    }
    return {origin->dst_x, origin->dst_y, geometry->width, geometry->height};
}

Rect X11Session::frameGeometry(xcb_window_t window) {
    Rect frame = rootGeometry(window);
    const std::vector<uint32_t> extents = property32(window, "_NET_FRAME_EXTENTS");
    if (extents.size() == 4) { // left, right, top, bottom
        frame.x -= int(extents[0]);
        frame.y -= int(extents[2]);
        frame.w += int(extents[0] + extents[1]);
        frame.h += int(extents[2] + extents[3]);
    }
    return frame;
}

std::vector<std::string> X11Session::netWmState(xcb_window_t window) {
    std::vector<std::string> names;
    for (uint32_t a : property32(window, "_NET_WM_STATE")) {
        names.push_back(atomName(a));
    }
    return names;
}

xcb_window_t X11Session::activeWindow() {
    const auto values = property32(root(), "_NET_ACTIVE_WINDOW");
    return values.empty() ? kNoWindow : values.front();
}

xcb_window_t X11Session::inputFocus() {
    auto reply = replyOf<xcb_get_input_focus_reply_t>(conn_, xcb_get_input_focus_reply,
                                                      xcb_get_input_focus(conn_));
    return reply ? reply->focus : kNoWindow;
}

std::vector<xcb_window_t> X11Session::stackingOrder() {
    return property32(root(), "_NET_CLIENT_LIST_STACKING");
}

bool X11Session::hasWindowManager() {
    return !property32(root(), "_NET_SUPPORTING_WM_CHECK").empty();
}

uint32_t X11Session::decode(uint32_t raw) const {
    return channel(raw, format_.redMask) << 16 | channel(raw, format_.greenMask) << 8 |
           channel(raw, format_.blueMask);
}

uint32_t X11Session::encode(uint32_t rgb) const {
    return unchannel(rgb >> 16 & 0xff, format_.redMask) |
           unchannel(rgb >> 8 & 0xff, format_.greenMask) | unchannel(rgb & 0xff, format_.blueMask);
}

uint32_t X11Session::rawPixel(const uint8_t* row, int x) const {
    const int bytes = format_.bitsPerPixel / 8;
    const uint8_t* p = row + x * bytes;
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i) {
        const int shift = format_.lsbFirst ? 8 * i : 8 * (bytes - 1 - i);
        value |= static_cast<uint32_t>(p[i]) << shift;
    }
    return value;
}

uint32_t X11Session::pixel(int x, int y) {
    auto cookie = xcb_get_image(conn_, XCB_IMAGE_FORMAT_Z_PIXMAP, root(), static_cast<int16_t>(x),
                                static_cast<int16_t>(y), 1, 1, ~0u);
    auto image = replyOf<xcb_get_image_reply_t>(conn_, xcb_get_image_reply, cookie);
    if (!image || xcb_get_image_data_length(image.get()) * 8 < format_.bitsPerPixel) {
        throw std::runtime_error("cannot read the screen pixel at " + std::to_string(x) + "," +
                                 std::to_string(y));
    }
    return decode(rawPixel(xcb_get_image_data(image.get()), 0));
}

bool X11Session::savePng(const std::string& path) {
    const Rect screen = screenRect();
    auto cookie =
        xcb_get_image(conn_, XCB_IMAGE_FORMAT_Z_PIXMAP, root(), 0, 0,
                      static_cast<uint16_t>(screen.w), static_cast<uint16_t>(screen.h), ~0u);
    auto reply = replyOf<xcb_get_image_reply_t>(conn_, xcb_get_image_reply, cookie);
    if (!reply) {
        return false;
    }
    const int pad = format_.scanlinePad;
    const int stride = (screen.w * format_.bitsPerPixel + pad - 1) / pad * pad / 8;
    if (xcb_get_image_data_length(reply.get()) < stride * screen.h) {
        return false;
    }
    const uint8_t* data = xcb_get_image_data(reply.get());
    QImage image(screen.w, screen.h, QImage::Format_RGB32);
    for (int y = 0; y < screen.h; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < screen.w; ++x) {
            line[x] = 0xff000000u | decode(rawPixel(data + y * stride, x));
        }
    }
    return image.save(QString::fromStdString(path), "PNG");
}

xcb_keycode_t X11Session::keycodeFor(const std::string& keysymName, bool* needsShift) {
    const uint32_t keysym = keysymFromName(keysymName);
    if (keysym == kNoKeysym) {
        throw std::invalid_argument("unknown key name: " + keysymName);
    }
    XcbPtr<xcb_keycode_t> codes(xcb_key_symbols_get_keycode(keysyms_, keysym));
    if (!codes || codes.get()[0] == XCB_NO_SYMBOL) {
        throw std::invalid_argument("no key on this keyboard produces: " + keysymName);
    }
    const xcb_keycode_t code = codes.get()[0];
    if (needsShift != nullptr) {
        *needsShift = xcb_key_symbols_get_keysym(keysyms_, code, 0) != keysym &&
                      xcb_key_symbols_get_keysym(keysyms_, code, 1) == keysym;
    }
    return code;
}

void X11Session::fakeInput(uint8_t type, uint8_t detail, int x, int y) {
    xcb_test_fake_input(conn_, type, detail, XCB_CURRENT_TIME,
                        type == XCB_MOTION_NOTIFY ? root() : kNoWindow, static_cast<int16_t>(x),
                        static_cast<int16_t>(y), 0);
    sync();
}

void X11Session::keyDown(const std::string& keysymName) {
    const xcb_keycode_t code = keycodeFor(keysymName);
    fakeInput(XCB_KEY_PRESS, code);
    heldKeys_.insert(code);
}

void X11Session::keyUp(const std::string& keysymName) {
    const xcb_keycode_t code = keycodeFor(keysymName);
    fakeInput(XCB_KEY_RELEASE, code);
    heldKeys_.erase(code);
}

void X11Session::tap(const std::string& keysymName) {
    keyDown(keysymName);
    keyUp(keysymName);
}

void X11Session::typeText(const std::string& ascii) {
    for (char c : ascii) {
        const std::string name = c == '\n' ? "Return" : std::string(1, c);
        bool shift = false;
        const xcb_keycode_t code = keycodeFor(name, &shift);
        if (shift) {
            keyDown("Shift_L");
        }
        fakeInput(XCB_KEY_PRESS, code);
        fakeInput(XCB_KEY_RELEASE, code);
        if (shift) {
            keyUp("Shift_L");
        }
    }
}

void X11Session::moveMouse(int rootX, int rootY) {
    fakeInput(XCB_MOTION_NOTIFY, 0, rootX, rootY);
}

void X11Session::click(int rootX, int rootY) {
    moveMouse(rootX, rootY);
    fakeInput(XCB_BUTTON_PRESS, 1);
    fakeInput(XCB_BUTTON_RELEASE, 1);
}

namespace {
// A 32-bit client message about `window` whose second datum is the current time.
xcb_client_message_event_t clientMessage(xcb_window_t window, xcb_atom_t type, uint32_t first) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = type;
    event.data.data32[0] = first;
    event.data.data32[1] = XCB_CURRENT_TIME;
    return event;
}
} // namespace

void X11Session::closeWindow(xcb_window_t window) {
    auto event = clientMessage(window, atom("WM_PROTOCOLS"), atom("WM_DELETE_WINDOW"));
    xcb_send_event(conn_, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<char*>(&event));
    sync();
}

void X11Session::activate(xcb_window_t window) {
    // Source 2: a pager, i.e. the user asked for it.
    auto event = clientMessage(window, atom("_NET_ACTIVE_WINDOW"), 2);
    xcb_send_event(conn_, 0, root(),
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<char*>(&event));
    sync();
}

void X11Session::moveResize(xcb_window_t window, Rect rect) {
    const uint32_t values[] = {uint32_t(rect.x), uint32_t(rect.y), uint32_t(rect.w),
                               uint32_t(rect.h)};
    xcb_configure_window(conn_, window,
                         XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                             XCB_CONFIG_WINDOW_HEIGHT,
                         values);
    sync();
}

void X11Session::minimise(xcb_window_t window) {
    auto event = clientMessage(window, atom("WM_CHANGE_STATE"), 3); // IconicState
    xcb_send_event(conn_, 0, root(),
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<char*>(&event));
    sync();
}

int X11Session::workspaceCount() {
    const auto values = property32(root(), "_NET_NUMBER_OF_DESKTOPS");
    return values.empty() ? 0 : int(values[0]);
}

int X11Session::currentWorkspace() {
    const auto values = property32(root(), "_NET_CURRENT_DESKTOP");
    return values.empty() ? -1 : int(values[0]);
}

void X11Session::switchWorkspace(int index) {
    auto event = clientMessage(root(), atom("_NET_CURRENT_DESKTOP"), uint32_t(index));
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(conn_, 0, root(),
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<char*>(&event));
    sync();
}

long long X11Session::workspaceOf(xcb_window_t window) {
    const auto values = property32(window, "_NET_WM_DESKTOP");
    return values.empty() ? -1 : (long long)values[0];
}

void X11Session::setNetState(xcb_window_t window, const std::string& state, bool add) {
    auto event = clientMessage(window, atom("_NET_WM_STATE"), add ? 1 : 0);
    event.data.data32[1] = atom(state);
    event.data.data32[3] = 2; // a pager: the user asked for it
    xcb_send_event(conn_, 0, root(),
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<char*>(&event));
    sync();
}

void X11Session::raise(xcb_window_t window) {
    const uint32_t above = XCB_STACK_MODE_ABOVE;
    xcb_configure_window(conn_, window, XCB_CONFIG_WINDOW_STACK_MODE, &above);
    sync();
}

int X11Session::screenSaverTimeout() {
    auto reply = replyOf<xcb_get_screen_saver_reply_t>(conn_, xcb_get_screen_saver_reply,
                                                       xcb_get_screen_saver(conn_));
    return reply ? reply->timeout : 0;
}

void X11Session::setScreenSaverTimeout(int seconds) {
    xcb_set_screen_saver(conn_, int16_t(seconds), 0, XCB_BLANKING_PREFERRED, XCB_EXPOSURES_DEFAULT);
    sync();
}

bool X11Session::screenSaverOn() {
    auto reply = replyOf<xcb_screensaver_query_info_reply_t>(
        conn_, xcb_screensaver_query_info_reply, xcb_screensaver_query_info(conn_, root()));
    return reply && reply->state == XCB_SCREENSAVER_STATE_ON;
}

xcb_window_t X11Session::createPlainWindow(Rect rect, uint32_t rgb, const std::string& title) {
    const xcb_window_t window = xcb_generate_id(conn_);
    const uint32_t values[] = {encode(rgb)};
    xcb_create_window(conn_, XCB_COPY_FROM_PARENT, window, root(), static_cast<int16_t>(rect.x),
                      static_cast<int16_t>(rect.y), static_cast<uint16_t>(rect.w),
                      static_cast<uint16_t>(rect.h), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      screen_->root_visual, XCB_CW_BACK_PIXEL, values);
    ownWindows_.insert(window);

    auto set = [&](xcb_atom_t prop, xcb_atom_t type, uint8_t format, const void* data,
                   size_t count) {
        xcb_change_property(conn_, XCB_PROP_MODE_REPLACE, window, prop, type, format,
                            static_cast<uint32_t>(count), data);
    };
    const xcb_atom_t utf8 = atom("UTF8_STRING");
    set(XCB_ATOM_WM_NAME, utf8, 8, title.data(), title.size());
    set(atom("_NET_WM_NAME"), utf8, 8, title.data(), title.size());
    const char wmClass[] = "lumira-test-window\0LumiraTestWindow";
    set(XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, wmClass, sizeof wmClass);
    const uint32_t hints[9] = {1, 1}; // InputHint: accepts keyboard focus
    set(XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, 32, hints, 9);
    uint32_t sizeHints[18] = {1 | 2 | 4 | 8}; // US/P position and size: keep the given rect
    sizeHints[1] = static_cast<uint32_t>(rect.x);
    sizeHints[2] = static_cast<uint32_t>(rect.y);
    sizeHints[3] = static_cast<uint32_t>(rect.w);
    sizeHints[4] = static_cast<uint32_t>(rect.h);
    set(XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS, 32, sizeHints, 18);
    // Answer the close button ourselves (by ignoring it) rather than being killed for it.
    const xcb_atom_t protocols[] = {atom("WM_DELETE_WINDOW")};
    set(atom("WM_PROTOCOLS"), XCB_ATOM_ATOM, 32, protocols, 1);
    const uint32_t motifHints[5] = {2, 0, 0, 0, 0}; // no decorations
    set(atom("_MOTIF_WM_HINTS"), atom("_MOTIF_WM_HINTS"), 32, motifHints, 5);
    xcb_map_window(conn_, window);
    sync();

    const bool managed = hasWindowManager();
    waitUntil(
        [&] { return isViewable(window) && (!managed || property(window, atom("WM_STATE"))); },
        std::chrono::seconds(5), std::chrono::milliseconds(10));
    return window;
}

xcb_window_t X11Session::createNotice(Rect rect, uint32_t rgb) {
    const xcb_window_t window = xcb_generate_id(conn_);
    const uint32_t values[] = {encode(rgb), 1};
    xcb_create_window(conn_, XCB_COPY_FROM_PARENT, window, root(), static_cast<int16_t>(rect.x),
                      static_cast<int16_t>(rect.y), static_cast<uint16_t>(rect.w),
                      static_cast<uint16_t>(rect.h), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      screen_->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
    ownWindows_.insert(window);
    xcb_map_window(conn_, window);
    sync();
    return window;
}

void X11Session::destroyWindow(xcb_window_t window) {
    xcb_destroy_window(conn_, window);
    ownWindows_.erase(window);
    sync();
}

} // namespace harness
