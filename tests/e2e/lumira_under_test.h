#pragma once

#include "tests/harness/program_runner.h"
#include "tests/harness/wait.h"
#include "tests/harness/x11_session.h"

#include <QProcess>
#include <QTemporaryDir>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <ostream>
#include <set>
#include <string>

namespace e2e {

using namespace std::chrono_literals;

inline constexpr auto kWindowTimeout = 20s;
inline const std::string kWelcome = "Lumira";
inline const std::string kDisplay = "LED客户端";
inline const std::string kSettings = "显示设置";

// A page of one colour filling the browser, to see on the screen exactly where it lands.
std::string solidPage(uint32_t rgb, const std::string& script = "");

// The whole frame of `window`, title bar included, is centred on the screen (a test check).
inline void expectFrameCentred(harness::X11Session& x, xcb_window_t window) {
    const harness::Rect frame = x.frameGeometry(window);
    const harness::Rect screen = x.screenRect();
    EXPECT_GT(frame.h, x.rootGeometry(window).h) << "no frame extents reported";
    EXPECT_LE(std::abs(2 * frame.x + frame.w - screen.w), 4) << frame.x << "+" << frame.w;
    EXPECT_LE(std::abs(2 * frame.y + frame.h - screen.h), 4) << frame.y << "+" << frame.h;
}

// Colours seen at one point of the screen, with how often.
struct Samples {
    std::map<uint32_t, int> seen;
    bool onlyOf(const std::set<uint32_t>& allowed) const;
    bool saw(uint32_t rgb) const { return seen.count(rgb) > 0; }
};
std::ostream& operator<<(std::ostream& out, const Samples& samples);

// One copy of the program in a folder of its own, started and driven from outside.
class LumiraUnderTest {
public:
    explicit LumiraUnderTest(const std::string& folderName = "lumira");

    harness::X11Session x;
    harness::ProgramRunner program;

    // Starts the program and waits for the welcome window.
    xcb_window_t launch(const QStringList& extraEnv = {});
    // Clicks OK on the welcome window and waits for the display window.
    xcb_window_t pressOk(xcb_window_t welcome, float twipsPerPixel = 15.0f);
    // launch() and pressOk() together.
    xcb_window_t openDisplay(const QStringList& extraEnv = {});
    // A start page of one colour, the display window opened, and the page painted at (200,200);
    // XCB_NONE when the page never painted.
    xcb_window_t showSolidPage(uint32_t rgb);

    // Clicks a control of a window whose layout is given in twips (its centre).
    void clickTwips(xcb_window_t window, int left, int top, int width, int height,
                    float twipsPerPixel = 15.0f);
    bool waitForPixel(int x, int y, uint32_t rgb, std::chrono::milliseconds timeout = 15s);
    // The colour at (x, y) every 20 ms or so for `duration`, or until `stopAt` holds for a
    // sampled colour; the test's own events (its web server) keep flowing.
    Samples sample(int x, int y, std::chrono::milliseconds duration,
                   const std::function<bool(uint32_t rgb)>& stopAt = {});
    // Windows of the given title that this program shows.
    size_t count(const std::string& title) { return x.findClientWindows(title).size(); }
    bool hasState(xcb_window_t window, const std::string& state);
};

} // namespace e2e

namespace e2e {

// A window manager a sign PC runs: how to start it on a display of the test's own.
struct WindowManager {
    std::string name; // names the test case
    QString program;
    QStringList arguments;
    QStringList environment;        // NAME=value, for the window manager alone
    QString configFile;             // relative to a private XDG_CONFIG_HOME, when not empty
    QByteArray configText;          // what that file holds
    std::chrono::seconds settle{0}; // a manager that publishes its workspaces late
};
const WindowManager& openboxManager();

// A private D-Bus session bus; DBUS_SESSION_BUS_ADDRESS names it for the test's lifetime.
class SessionBus {
public:
    SessionBus();
    ~SessionBus();

private:
    QByteArray previous_;
    QProcess daemon_;
};

// An X server with a window manager (openbox unless told) of the test's own, e.g. at another
// DPI or without an extension (extra Xvfb arguments); DISPLAY points at it for the test's
// lifetime and is restored afterwards.
class OwnDisplay {
public:
    explicit OwnDisplay(int dpi, const QStringList& serverArguments = {},
                        const WindowManager& windowManager = openboxManager());
    ~OwnDisplay();

private:
    QByteArray previous_;
    QProcess server_;
    QTemporaryDir config_;
    QProcess windowManager_;
};

} // namespace e2e
