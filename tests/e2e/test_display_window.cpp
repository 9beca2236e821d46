// The display window as the sign sees it: where the page lands, what stays above it, and how
// the program ends.
#include "tests/e2e/lumira_under_test.h"
#include "tests/harness/process_tree.h"
#include "tests/table_case.h"

#include <QProcess>
#include <QTcpServer>
#include <algorithm>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

using namespace e2e;
using harness::Rect;

namespace {
constexpr uint32_t kGreen = 0x00ff00;
constexpr uint32_t kGrey = 0xc0c0c0; // the window's own colour in the strip beside the page

struct PlacementCase : table::Case {
    const char* ini;
    Rect window;             // expected client rectangle of the display window, device pixels
    QStringList environment; // what the session exports
};

// Checks the page covers exactly `page` on the screen and the window's grey strip follows.
void expectPageAt(LumiraUnderTest& lumira, Rect page, int strip) {
    auto& x = lumira.x;
    const int right = page.x + page.w - 1, bottom = page.y + page.h - 1;
    ASSERT_TRUE(lumira.waitForPixel(page.x + 1, page.y + 1, kGreen)) << "page never painted";
    for (auto [px, py] :
         {std::pair{page.x, page.y}, {right, page.y}, {page.x, bottom}, {right, bottom}})
        EXPECT_EQ(x.pixel(px, py), kGreen) << "inside at " << px << "," << py;
    if (page.x > 0) {
        EXPECT_NE(x.pixel(page.x - 1, page.y + 5), kGreen) << "left of the page";
    }
    if (page.y > 0) {
        EXPECT_NE(x.pixel(page.x + 5, page.y - 1), kGreen) << "above the page";
    }
    for (int i = 1; i <= strip; ++i) {
        EXPECT_EQ(x.pixel(right + i, page.y + 5), kGrey) << "strip right, column " << i;
        EXPECT_EQ(x.pixel(page.x + 5, bottom + i), kGrey) << "strip below, row " << i;
    }
    EXPECT_NE(x.pixel(right + strip + 1, page.y + 5), kGrey) << "beyond the window";
}
} // namespace

TEST(DisplayWindow, withoutFilePageCoversDefaultRectangleAndNoFileIsCreated) {
    LumiraUnderTest lumira;
    lumira.program.writeFile("start.htm", solidPage(kGreen));
    const xcb_window_t display = lumira.openDisplay();
    expectPageAt(lumira, {100, 100, 320, 240}, 1);
    EXPECT_EQ(lumira.x.rootGeometry(display), (Rect{100, 100, 321, 241}));
    EXPECT_FALSE(lumira.program.iniExists());
    // Xvfb offers OpenGL only through a software rasteriser, which Qt WebEngine is kept from;
    // Chromium judges the graphics itself.
    const std::string output = lumira.program.output();
    EXPECT_NE(output.find(output.find("shown by Chromium") != std::string::npos
                              ? "lumira: Chromium chooses how pages are drawn"
                              : "lumira: pages are drawn in software"),
              std::string::npos);
    // A quiet start: no engine banner, no runtime-folder warning, only the program's lines.
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);)
        EXPECT_TRUE(line.starts_with("lumira: ")) << "printed: " << line;
}

class Placement : public testing::TestWithParam<PlacementCase> {};

TEST_P(Placement, windowLandsWhereTheFileSays) {
    LumiraUnderTest lumira;
    lumira.program.writeFile("start.htm", solidPage(kGreen));
    lumira.program.writeIni(GetParam().ini);
    const xcb_window_t display = lumira.openDisplay(GetParam().environment);
    const Rect expected = GetParam().window;
    ASSERT_TRUE(harness::waitUntil([&] { return lumira.x.rootGeometry(display) == expected; }, 5s));
    const Rect page{expected.x, expected.y, expected.w - 1, expected.h - 1};
    ASSERT_TRUE(lumira.waitForPixel(page.x + page.w - 1, page.y + page.h - 1, kGreen));
    EXPECT_EQ(lumira.x.pixel(page.x + page.w, page.y + page.h - 1), kGrey);
}

INSTANTIATE_TEST_SUITE_P(
    FileValues, Placement,
    testing::Values(
        // " 250 " is 250, -20 and 100.5 are numbers, abc is the default 240.
        PlacementCase{"blanks-negative-fraction-letters",
                      "[Main]\r\nwLeft= 250 \r\nwTop=-20\r\nwWidth=100.5\r\nwHeight=abc\r\n",
                      {250, -20, 102, 241},
                      {}},
        // The window system cannot take these: they count as not numeric.
        PlacementCase{"out-of-range-values-take-defaults",
                      "[Main]\r\nwLeft=40000\r\nwTop=7\r\nwWidth=-5\r\nwHeight=1e9\r\n",
                      {100, 7, 321, 241},
                      {}},
        PlacementCase{"capital-keys-and-quotes",
                      "[MAIN]\r\nWLEFT=\"30\"\r\nWTOP='40'\r\n",
                      {30, 40, 321, 241},
                      {}},
        // A Wayland session's platform choice: the program runs on X11 all the same.
        PlacementCase{"wayland-platform-in-the-session",
                      "[Main]\r\nwLeft=30\r\n",
                      {30, 100, 321, 241},
                      {"QT_QPA_PLATFORM=wayland"}},
        PlacementCase{
            "session-scale-factors-change-nothing",
            "[Main]\r\nwLeft=30\r\nwTop=40\r\n",
            {30, 40, 321, 241},
            {"QT_SCALE_FACTOR=2", "QT_SCREEN_SCALE_FACTORS=2", "QT_AUTO_SCREEN_SCALE_FACTOR=1"}}),
    table::CaseName());

namespace {
struct NoDisplayCase : table::Case {
    QStringList environment;
    QStringList arguments;
};
} // namespace

class NoDisplay : public testing::TestWithParam<NoDisplayCase> {};

// Without an X server to reach: one line naming the display, status 1, never a core dump.
TEST_P(NoDisplay, saysSoInOneLineAndEndsWithStatusOne) {
    harness::ProgramRunner program(LUMIRA_PROGRAM_DIR);
    program.start(GetParam().environment, GetParam().arguments);
    ASSERT_TRUE(program.waitForExit(10s));
    EXPECT_FALSE(program.crashed());
    EXPECT_EQ(program.exitCode(), 1);
    const std::string output = program.output();
    EXPECT_TRUE(output.starts_with("lumira: ")) << output;
    EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 1) << output;
}

INSTANTIATE_TEST_SUITE_P(
    Sessions, NoDisplay,
    testing::Values(NoDisplayCase{"display-naming-no-server", {"DISPLAY=:1234"}, {}},
                    NoDisplayCase{"display-unset", {"DISPLAY"}, {}},
                    NoDisplayCase{"display-argument-naming-no-server", {}, {"-display", ":1234"}},
                    NoDisplayCase{
                        "wayland-platform-without-x", {"DISPLAY", "QT_QPA_PLATFORM=wayland"}, {}}),
    table::CaseName());

// A remote display that accepts the connection and never answers holds the start for 5 s,
// not for ever.
TEST(DisplayWindow, aDisplayThatNeverAnswersIsGivenUpAfterFiveSeconds) {
    QTcpServer silent; // X display N listens on TCP port 6000 + N
    int display = 50;
    while (display < 100 && !silent.listen(QHostAddress::LocalHost, quint16(6000 + display)))
        ++display;
    ASSERT_TRUE(silent.isListening());
    harness::ProgramRunner program(LUMIRA_PROGRAM_DIR);
    const auto started = std::chrono::steady_clock::now();
    program.start({QStringLiteral("DISPLAY=127.0.0.1:%1").arg(display)});
    ASSERT_TRUE(program.waitForExit(15s));
    EXPECT_EQ(program.exitCode(), 1);
    EXPECT_NEAR(std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(),
                5.0, 1.5);
    EXPECT_TRUE(program.output().starts_with("lumira: the X display 127.0.0.1:"));
}

TEST(DisplayWindow, staysAboveOrdinaryWindowsWithoutTaskbarButton) {
    LumiraUnderTest lumira;
    const xcb_window_t display = lumira.showSolidPage(kGreen);
    ASSERT_NE(display, xcb_window_t(XCB_NONE)) << "page never painted";
    EXPECT_TRUE(lumira.hasState(display, "_NET_WM_STATE_ABOVE"));
    EXPECT_TRUE(lumira.hasState(display, "_NET_WM_STATE_SKIP_TASKBAR"));

    const xcb_window_t other = lumira.x.createPlainWindow({50, 50, 600, 500}, 0xff0000, "other");
    lumira.x.activate(other);
    ASSERT_TRUE(lumira.waitForPixel(600, 500, 0xff0000)); // the other window is on screen
    harness::pumpEventsFor(300ms);
    EXPECT_EQ(lumira.x.pixel(200, 200), kGreen) << "an ordinary window covered the page";
    EXPECT_EQ(lumira.x.pixel(419, 339), kGreen);
}

TEST(DisplayWindow, closeAsksFirstNoKeepsThePageYesEndsTheProgram) {
    LumiraUnderTest lumira;
    const xcb_window_t display = lumira.showSolidPage(kGreen);
    ASSERT_NE(display, xcb_window_t(XCB_NONE)) << "page never painted";
    auto& x = lumira.x;

    const auto prompt = [&] {
        x.closeWindow(display);
        EXPECT_TRUE(harness::waitUntil([&] { return lumira.count(kDisplay) == 2; }, 10s))
            << "no prompt titled " << kDisplay;
        for (xcb_window_t window : x.findClientWindows(kDisplay))
            if (window != display)
                return window;
        return xcb_window_t(XCB_NONE);
    };

    const xcb_window_t first = prompt();
    ASSERT_NE(first, xcb_window_t(XCB_NONE));
    expectFrameCentred(x, first); // where the operator looks, not on the sign
    x.activate(first);
    harness::waitUntil([&] { return x.activeWindow() == first; }, 5s);
    x.tap("Escape"); // No
    ASSERT_TRUE(harness::waitUntil([&] { return lumira.count(kDisplay) == 1; }, 10s));
    harness::pumpEventsFor(300ms);
    EXPECT_TRUE(lumira.program.running());
    EXPECT_EQ(x.pixel(200, 200), kGreen);

    const xcb_window_t second = prompt();
    ASSERT_NE(second, xcb_window_t(XCB_NONE));
    x.activate(second);
    harness::waitUntil([&] { return x.activeWindow() == second; }, 5s);
    x.tap("Return"); // Yes is the default button
    ASSERT_TRUE(lumira.program.waitForExit(15s));
    EXPECT_EQ(lumira.program.exitCode(), 0);
}

TEST(DisplayWindow, terminationSignalEndsInOrderWithoutPrompt) {
    LumiraUnderTest lumira;
    lumira.program.writeFile("start.htm", solidPage(kGreen));
    lumira.openDisplay();
    ASSERT_TRUE(lumira.waitForPixel(200, 200, kGreen));
    const std::vector<pid_t> started = harness::processTree(pid_t(lumira.program.pid()));
    lumira.program.terminate();
    ASSERT_TRUE(lumira.program.waitForExit(15s));
    EXPECT_FALSE(lumira.program.crashed());
    EXPECT_EQ(lumira.program.exitCode(), 0);
    // Every process it started (the browser's, in a process group of their own) ends with it.
    const auto running = [](pid_t pid) {
        std::string stat;
        std::getline(std::ifstream("/proc/" + std::to_string(pid) + "/stat"), stat);
        const size_t end = stat.rfind(") ");
        return end != std::string::npos && stat[end + 2] != 'Z';
    };
    EXPECT_TRUE(harness::waitUntil(
        [&] { return std::none_of(started.begin(), started.end(), running); }, 5s))
        << started.size() << " processes were started";
}

TEST(DisplayWindow, underNohupAHangUpLeavesTheSignRunning) {
    LumiraUnderTest lumira;
    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGHUP, &ignore, &previous); // inherited by the program, as nohup does
    lumira.openDisplay();
    ::sigaction(SIGHUP, &previous, nullptr);
    ::kill(pid_t(lumira.program.pid()), SIGHUP);
    harness::pumpEventsFor(2s);
    EXPECT_TRUE(lumira.program.running()) << "the terminal closing ended the sign";
    EXPECT_EQ(lumira.count(kDisplay), 1u);
}

TEST(DisplayWindow, pageCannotOpenWindowsDialogsOrFullScreen) {
    LumiraUnderTest lumira;
    const std::string script =
        "window.open('about:blank','_blank');"
        "try{alert('a');confirm('b');prompt('c');}catch(e){}"
        "document.documentElement.requestFullscreen&&document.documentElement.requestFullscreen()"
        ".catch(function(){});"
        "var a=document.createElement('a');a.href='about:blank';a.target='_blank';"
        "document.body.appendChild(a);a.click();window.close();";
    lumira.program.writeFile("start.htm", solidPage(kGreen, script));
    const xcb_window_t display = lumira.openDisplay();
    ASSERT_TRUE(lumira.waitForPixel(200, 200, kGreen));
    const size_t windows = lumira.x.stackingOrder().size();
    harness::pumpEventsFor(1500ms);
    EXPECT_EQ(lumira.x.stackingOrder().size(), windows) << "the page opened a window";
    EXPECT_EQ(lumira.count(kDisplay), 1u);
    EXPECT_EQ(lumira.x.rootGeometry(display), (Rect{100, 100, 321, 241}));
    EXPECT_EQ(lumira.x.pixel(419, 339), kGreen);
    EXPECT_TRUE(lumira.program.running());
}

TEST(DisplayWindow, at144DpiTheRectangleLandsOnTheSameDevicePixels) {
    OwnDisplay screen(144);
    LumiraUnderTest lumira;
    lumira.program.writeFile("start.htm", solidPage(kGreen));
    const xcb_window_t display = lumira.pressOk(lumira.launch(), 10.0f);
    expectPageAt(lumira, {100, 100, 320, 240}, 2); // 20 twips are two pixels at 10 per pixel
    EXPECT_EQ(lumira.x.rootGeometry(display), (Rect{100, 100, 322, 242}));
}
