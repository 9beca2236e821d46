#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

namespace harness {

struct Rect {
    int x = 0, y = 0, w = 0, h = 0;
    bool operator==(const Rect&) const = default;
};

// Connection to the X server on $DISPLAY: finds and inspects windows, reads screen pixels and
// drives the keyboard and mouse through XTest, like a person in front of the LED sign would.
class X11Session {
public:
    X11Session(); // throws std::runtime_error when $DISPLAY cannot be reached or lacks XTest
    ~X11Session();
    X11Session(const X11Session&) = delete;
    X11Session& operator=(const X11Session&) = delete;

    xcb_connection_t* connection() const { return conn_; }
    xcb_window_t root() const { return screen_->root; }
    Rect screenRect() const { return {0, 0, screen_->width_in_pixels, screen_->height_in_pixels}; }

    // Mapped top-level client windows whose _NET_WM_NAME or WM_NAME equals `title` (UTF-8).
    std::vector<xcb_window_t> findClientWindows(const std::string& title);
    std::optional<xcb_window_t> waitForWindow(const std::string& title,
                                              std::chrono::milliseconds timeout);
    bool waitForNoWindow(const std::string& title, std::chrono::milliseconds timeout);
    // _NET_WM_NAME if set, WM_NAME otherwise (converted to UTF-8).
    std::string windowTitle(xcb_window_t window);
    bool isViewable(xcb_window_t window);

    // Client area of `window` in root coordinates.
    Rect rootGeometry(xcb_window_t window);
    // The client area grown by the frame the window manager reports in _NET_FRAME_EXTENTS.
    Rect frameGeometry(xcb_window_t window);
    std::vector<std::string> netWmState(xcb_window_t window);
    xcb_window_t activeWindow();
    xcb_window_t inputFocus();
    std::vector<xcb_window_t> stackingOrder(); // bottom to top

    uint32_t pixel(int x, int y); // 0xRRGGBB
    bool savePng(const std::string& path);

    // Key names: "Shift_L", "F12", "Return", "space", "a", "7", ... Keys are pressed as they
    // are (no automatic Shift); typeText adds Shift where a character needs it.
    void keyDown(const std::string& keysymName);
    void keyUp(const std::string& keysymName);
    void tap(const std::string& keysymName);
    void typeText(const std::string& ascii);
    void moveMouse(int rootX, int rootY);
    void click(int rootX, int rootY);

    void closeWindow(xcb_window_t window); // WM_DELETE_WINDOW, as the title bar's close button
    // What another program can do to a window: move and resize it, minimise it (ICCCM
    // WM_CHANGE_STATE), add or remove an EWMH state, raise it.
    void moveResize(xcb_window_t window, Rect rect);
    void minimise(xcb_window_t window);
    void setNetState(xcb_window_t window, const std::string& state, bool add);
    void raise(xcb_window_t window);
    // The X screen saver: its idle timeout in seconds (0: off) and whether it is on now.
    int screenSaverTimeout();
    void setScreenSaverTimeout(int seconds);
    bool screenSaverOn();
    void activate(xcb_window_t window); // _NET_ACTIVE_WINDOW request, as a pager would
    // EWMH workspaces: how many the window manager publishes, which one shows, and a switch
    // as a pager asks for it.
    int workspaceCount();
    int currentWorkspace();
    void switchWorkspace(int index);
    // _NET_WM_DESKTOP of a window; -1 when it has none (0xFFFFFFFF: every workspace).
    long long workspaceOf(xcb_window_t window);

    // An undecorated window of a foreign client at exactly `rect`, filled with `rgb`; returns
    // once it is mapped (and managed, when a window manager runs).
    xcb_window_t createPlainWindow(Rect rect, uint32_t rgb, const std::string& title);
    // A window drawn without the window manager (override-redirect), as a desktop's notices
    // and menus are: above every managed window.
    xcb_window_t createNotice(Rect rect, uint32_t rgb);
    void destroyWindow(xcb_window_t window);

    void sync(); // flush and wait for the server to process everything sent so far

private:
    struct PixelFormat {
        int bitsPerPixel = 32;
        int scanlinePad = 32;
        bool lsbFirst = true;
        uint32_t redMask = 0xff0000, greenMask = 0xff00, blueMask = 0xff;
    };

    xcb_atom_t atom(const std::string& name);
    std::string atomName(xcb_atom_t atom);
    std::optional<std::string> property(xcb_window_t window, xcb_atom_t property,
                                        xcb_atom_t* type = nullptr);
    std::vector<uint32_t> property32(xcb_window_t window, const std::string& name);
    std::vector<xcb_window_t> children(xcb_window_t window);
    void collectClients(xcb_window_t parent, int depth, std::vector<xcb_window_t>& out);
    bool hasWindowManager();
    uint32_t decode(uint32_t raw) const;
    uint32_t encode(uint32_t rgb) const;
    uint32_t rawPixel(const uint8_t* row, int x) const;
    xcb_keycode_t keycodeFor(const std::string& keysymName, bool* needsShift = nullptr);
    void fakeInput(uint8_t type, uint8_t detail, int x = 0, int y = 0);

    xcb_connection_t* conn_ = nullptr;
    xcb_screen_t* screen_ = nullptr;
    xcb_key_symbols_t* keysyms_ = nullptr;
    PixelFormat format_;
    std::unordered_map<std::string, xcb_atom_t> atoms_;
    std::set<xcb_keycode_t> heldKeys_;
    std::set<xcb_window_t> ownWindows_;
};

} // namespace harness
