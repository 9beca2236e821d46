#pragma once

#include "platform/key_state.h"

#include <bitset>
#include <string>
#include <vector>
#include <xcb/xcb.h>

struct _XCBKeySymbols;
class QSocketNotifier;
class QTimer;

namespace lumira::platform {

// Keeps the state of the watched keys current from XInput2 raw key events selected on the
// root window of a connection of its own; they arrive whichever client has the focus.
// Seeded from the server's key map at start and again after a keyboard mapping change.
// Where the server cannot send raw key events, it says so on stderr and reads the key map
// every 5 ms instead.
class X11KeyState final : public KeyState {
    Q_OBJECT
public:
    X11KeyState();
    ~X11KeyState() override;

    bool isWatching() const { return notifier_ != nullptr; }
    bool isDown(Key key) const override;

private:
    std::string selectRawKeyEvents(); // empty on success, otherwise what failed
    void pollKeymap();
    void readEvents();
    void findKeycodes();
    void seedFromKeymap();
    bool anyWatchedDown() const;
    void handleEvent(xcb_generic_event_t* event);

    xcb_connection_t* connection_ = nullptr;
    _XCBKeySymbols* symbols_ = nullptr;
    QSocketNotifier* notifier_ = nullptr;
    QTimer* poll_ = nullptr; // only when raw key events cannot be had
    uint8_t inputOpcode_ = 0;
    std::vector<xcb_keycode_t> f12Codes_;
    std::vector<xcb_keycode_t> shiftCodes_;
    std::bitset<256> down_;
};

} // namespace lumira::platform
