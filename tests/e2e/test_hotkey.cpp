// Shift+F12 from whichever program has the focus brings the settings window up, in front.
#include "tests/e2e/lumira_under_test.h"

#include <gtest/gtest.h>

using namespace e2e;

namespace {

struct Shown {
    LumiraUnderTest lumira;
    xcb_window_t display = lumira.openDisplay();
    xcb_window_t other = lumira.x.createPlainWindow({600, 500, 300, 200}, 0x0000ff, "其他程序");

    Shown() {
        lumira.x.activate(other);
        harness::waitUntil([&] { return lumira.x.activeWindow() == other; }, 5s);
    }
    void press(std::initializer_list<const char*> keys, std::chrono::milliseconds hold = 50ms) {
        for (const char* key : keys)
            lumira.x.keyDown(key);
        harness::pumpEventsFor(hold);
        for (const char* key : keys)
            lumira.x.keyUp(key);
    }
    std::optional<xcb_window_t> settings(std::chrono::milliseconds timeout = 5s) {
        return lumira.x.waitForWindow(kSettings, timeout);
    }
    bool inFront(xcb_window_t window) {
        return harness::waitUntil(
            [&] {
                return lumira.x.activeWindow() == window &&
                       lumira.hasState(window, "_NET_WM_STATE_ABOVE");
            },
            5s);
    }
};

} // namespace

TEST(Hotkey, shiftAloneOrF12AloneDoNothing) {
    Shown shown;
    shown.press({"Shift_L"}, 200ms);
    shown.press({"F12"}, 200ms);
    shown.press({"Shift_R"}, 200ms);
    harness::pumpEventsFor(300ms);
    EXPECT_EQ(shown.lumira.count(kSettings), 0u);
}

TEST(Hotkey, chordWhileAnotherProgramHasFocusBringsSettingsUpInFront) {
    Shown shown;
    shown.press({"Shift_L", "F12"});
    const auto settings = shown.settings();
    ASSERT_TRUE(settings);
    EXPECT_TRUE(shown.inFront(*settings));
}

TEST(Hotkey, holdingTheChordKeepsExactlyOneWindow) {
    Shown shown;
    shown.press({"F12", "Shift_R"}, 1000ms); // F12 first, the right Shift
    ASSERT_TRUE(shown.settings());
    harness::pumpEventsFor(200ms);
    EXPECT_EQ(shown.lumira.count(kSettings), 1u);
}

TEST(Hotkey, ctrlShiftF12AlsoOpensIt) {
    Shown shown;
    shown.press({"Control_L", "Shift_L", "F12"});
    EXPECT_TRUE(shown.settings());
}

TEST(Hotkey, pressedAgainWhileOpenItComesForwardWithoutReloading) {
    Shown shown;
    auto& lumira = shown.lumira;
    shown.press({"Shift_L", "F12"});
    const auto settings = shown.settings();
    ASSERT_TRUE(settings);
    ASSERT_TRUE(shown.inFront(*settings));
    lumira.clickTwips(*settings, 600, 840, 6255, 270); // the address box
    harness::pumpEventsFor(200ms);
    lumira.x.typeText("edited");

    lumira.x.activate(shown.other);
    ASSERT_TRUE(harness::waitUntil([&] { return lumira.x.activeWindow() == shown.other; }, 5s));
    lumira.program.writeIni("[Main]\r\nURL=from-file\r\n"); // a reload would show this
    shown.press({"Shift_L", "F12"});
    EXPECT_TRUE(shown.inFront(*settings));
    EXPECT_EQ(lumira.count(kSettings), 1u);

    lumira.clickTwips(*settings, 5880, 1920, 735, 375); // Return saves what the box shows
    ASSERT_TRUE(lumira.x.waitForNoWindow(kSettings, 5s));
    const auto ini = lumira.program.readIni();
    ASSERT_TRUE(ini);
    EXPECT_NE(ini->find("URL=edited"), std::string::npos) << *ini;
}

TEST(Hotkey, withoutXInput2TheKeyboardIsPolledAndTheChordStillWorks) {
    OwnDisplay screen(96, {QStringLiteral("-extension"), QStringLiteral("XInputExtension")});
    Shown shown;
    shown.press({"Shift_L", "F12"}, 100ms);
    const auto settings = shown.settings();
    ASSERT_TRUE(settings) << "no settings window without raw key events";
    EXPECT_TRUE(shown.inFront(*settings));
}
