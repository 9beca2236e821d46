#include "platform/x11_key_state.h"

#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <xcb/xcb_keysyms.h>
#include <xcb/xinput.h>

namespace lumira::platform {

namespace {
constexpr int kPollMs = 5;
constexpr xcb_keysym_t kF12 = 0xffc9;
constexpr xcb_keysym_t kShiftLeft = 0xffe1;
constexpr xcb_keysym_t kShiftRight = 0xffe2;

void appendKeycodes(_XCBKeySymbols* symbols, xcb_keysym_t keysym,
                    std::vector<xcb_keycode_t>& codes) {
    xcb_keycode_t* found = xcb_key_symbols_get_keycode(symbols, keysym);
    for (xcb_keycode_t* code = found; code && *code != XCB_NO_SYMBOL; ++code)
        codes.push_back(*code);
    std::free(found);
}
} // namespace

X11KeyState::X11KeyState() {
    // $DISPLAY names the display the program uses, also one given with -display.
    connection_ = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection_)) {
        const char* display = std::getenv("DISPLAY");
        std::fprintf(stderr,
                     "lumira: the key watch cannot connect to the X display %s; Shift+F12 is "
                     "not seen\n",
                     display ? display : "(none)");
        return;
    }
    symbols_ = xcb_key_symbols_alloc(connection_);
    findKeycodes();
    seedFromKeymap();
    notifier_ =
        new QSocketNotifier(xcb_get_file_descriptor(connection_), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &X11KeyState::readEvents);

    const std::string failure = selectRawKeyEvents();
    if (failure.empty())
        return;
    // Shift+F12 must still work: read the key map at the rate the hotkey tick runs.
    std::fprintf(stderr, "lumira: %s; Shift+F12 is watched by polling the keyboard every %d ms\n",
                 failure.c_str(), kPollMs);
    poll_ = new QTimer(this);
    poll_->setInterval(kPollMs);
    connect(poll_, &QTimer::timeout, this, &X11KeyState::pollKeymap);
    poll_->start();
}

std::string X11KeyState::selectRawKeyEvents() {
    const xcb_query_extension_reply_t* input = xcb_get_extension_data(connection_, &xcb_input_id);
    if (!input || !input->present)
        return "the X server has no XInput extension";
    inputOpcode_ = input->major_opcode;
    xcb_input_xi_query_version_reply_t* version = xcb_input_xi_query_version_reply(
        connection_, xcb_input_xi_query_version(connection_, 2, 2), nullptr);
    const bool hasXi2 = version && version->major_version >= 2;
    std::free(version);
    if (!hasXi2)
        return "the X server lacks XInput 2";

    struct {
        xcb_input_event_mask_t head;
        uint32_t bits;
    } mask{{XCB_INPUT_DEVICE_ALL_MASTER, 1},
           XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_KEY_RELEASE};
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
    xcb_generic_error_t* error = xcb_request_check(
        connection_, xcb_input_xi_select_events_checked(connection_, root, 1, &mask.head));
    const int code = error ? error->error_code : 0;
    std::free(error);
    if (code != 0)
        return "selecting XInput 2 raw key events failed (X error " + std::to_string(code) + ")";
    return {};
}

void X11KeyState::pollKeymap() {
    const bool f12 = isDown(Key::F12);
    const bool shift = isDown(Key::Shift);
    seedFromKeymap();
    if (isDown(Key::F12) != f12 || isDown(Key::Shift) != shift)
        emit watchedKeysChanged(anyWatchedDown());
}

X11KeyState::~X11KeyState() {
    if (symbols_)
        xcb_key_symbols_free(symbols_);
    xcb_disconnect(connection_);
}

bool X11KeyState::isDown(Key key) const {
    for (xcb_keycode_t code : key == Key::F12 ? f12Codes_ : shiftCodes_)
        if (down_[code])
            return true;
    return false;
}

bool X11KeyState::anyWatchedDown() const {
    return isDown(Key::F12) || isDown(Key::Shift);
}

void X11KeyState::findKeycodes() {
    f12Codes_.clear();
    shiftCodes_.clear();
    appendKeycodes(symbols_, kF12, f12Codes_);
    appendKeycodes(symbols_, kShiftLeft, shiftCodes_);
    appendKeycodes(symbols_, kShiftRight, shiftCodes_);
}

void X11KeyState::seedFromKeymap() {
    xcb_query_keymap_reply_t* keymap =
        xcb_query_keymap_reply(connection_, xcb_query_keymap(connection_), nullptr);
    down_.reset();
    if (keymap) {
        for (int code = 0; code < 256; ++code)
            down_[code] = (keymap->keys[code / 8] >> (code % 8)) & 1;
    }
    std::free(keymap);
}

void X11KeyState::readEvents() {
    // Reported event by event, so a chord pressed and released while the program was busy
    // is still seen as held at the moment it was.
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
        const bool f12 = isDown(Key::F12);
        const bool shift = isDown(Key::Shift);
        handleEvent(event);
        std::free(event);
        if (isDown(Key::F12) != f12 || isDown(Key::Shift) != shift)
            emit watchedKeysChanged(anyWatchedDown());
    }
    if (xcb_connection_has_error(connection_)) {
        notifier_->setEnabled(false);
        if (poll_)
            poll_->stop();
        down_.reset();
        emit watchedKeysChanged(false);
    }
}

void X11KeyState::handleEvent(xcb_generic_event_t* event) {
    const uint8_t type = event->response_type & 0x7f;
    if (type == XCB_MAPPING_NOTIFY) {
        xcb_refresh_keyboard_mapping(symbols_,
                                     reinterpret_cast<xcb_mapping_notify_event_t*>(event));
        findKeycodes();
        seedFromKeymap();
        return;
    }
    if (type != XCB_GE_GENERIC)
        return;
    auto* generic = reinterpret_cast<xcb_ge_generic_event_t*>(event);
    if (generic->extension != inputOpcode_)
        return;
    auto* raw = reinterpret_cast<xcb_input_raw_key_press_event_t*>(event);
    if (raw->detail >= down_.size())
        return; // not a key code of the core protocol, so never a watched one
    if (generic->event_type == XCB_INPUT_RAW_KEY_PRESS)
        down_[raw->detail] = true;
    else if (generic->event_type == XCB_INPUT_RAW_KEY_RELEASE)
        down_[raw->detail] = false;
}

} // namespace lumira::platform
