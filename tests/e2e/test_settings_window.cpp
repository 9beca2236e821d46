// The road of a typical change, with real keys and clicks: Shift+F12, an address and Go,
// two nudges to the right, Return; and what typing into the boxes does to the sign.
#include "tests/e2e/lumira_under_test.h"
#include "tests/harness/http_server.h"
#include "tests/harness/process_tree.h"

#include <QTemporaryDir>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace e2e;

namespace {
constexpr uint32_t kGreen = 0x00ff00;
constexpr uint32_t kBlue = 0x0000ff;

struct Settings {
    LumiraUnderTest lumira;
    xcb_window_t display = XCB_NONE;
    xcb_window_t window = XCB_NONE;

    void open(const QStringList& environment = {}) {
        lumira.program.writeFile("start.htm", solidPage(kGreen));
        display = lumira.openDisplay(environment);
        lumira.x.keyDown("Shift_L");
        lumira.x.keyDown("F12");
        const auto shown = lumira.x.waitForWindow(kSettings, 5s);
        lumira.x.keyUp("F12");
        lumira.x.keyUp("Shift_L");
        if (!shown)
            throw std::runtime_error("no settings window");
        window = *shown;
        harness::waitUntil([&] { return lumira.x.activeWindow() == window; }, 5s);
    }
    void click(int left, int top, int width, int height) {
        lumira.clickTwips(window, left, top, width, height);
        harness::pumpEventsFor(100ms);
    }
    // Replaces a box's whole text by typing, as a person would.
    void retype(int left, int top, int width, int height, const std::string& text) {
        click(left, top, width, height);
        lumira.x.keyDown("Control_L");
        lumira.x.tap("a");
        lumira.x.keyUp("Control_L");
        lumira.x.tap("BackSpace");
        lumira.x.typeText(text);
    }
    void retypeLeft(const std::string& text) { retype(840, 1440, 615, 270, text); }
};
} // namespace

TEST(SettingsWindow, roadOfATypicalChange) {
    harness::LoopbackHttpServer server;
    server.setResponse(200, QByteArray::fromStdString(solidPage(kBlue)));
    Settings settings;
    settings.open();
    auto& lumira = settings.lumira;

    const std::string typed = server.url(QStringLiteral("/typed")).toStdString();
    settings.retype(600, 840, 6255, 270, typed); // the address box
    settings.click(6960, 840, 615, 300);         // 转到
    ASSERT_TRUE(harness::waitUntil([&] { return !server.requests().empty(); }, 10s));
    EXPECT_EQ(server.requests().front().path, "/typed");
    ASSERT_TRUE(lumira.waitForPixel(200, 200, kBlue));

    settings.click(4560, 1560, 375, 375); // 右
    settings.click(4560, 1560, 375, 375); // 右
    EXPECT_TRUE(lumira.waitForPixel(102, 200, kBlue, 300ms));
    EXPECT_TRUE(harness::waitUntil([&] { return lumira.x.pixel(101, 200) != kBlue; }, 300ms))
        << "the page did not move two pixels right";
    EXPECT_EQ(lumira.x.pixel(421, 200), kBlue);

    settings.click(5880, 1920, 735, 375); // 返回
    ASSERT_TRUE(lumira.x.waitForNoWindow(kSettings, 5s));
    EXPECT_EQ(lumira.program.readIni().value_or(""),
              "[Main]\r\nwTop=100\r\nwLeft=102\r\nwWidth=320\r\nwHeight=240\r\nURL=" + typed +
                  "\r\n");
    EXPECT_TRUE(harness::waitUntil(
        [&] {
            return lumira.x.activeWindow() == settings.display &&
                   lumira.hasState(settings.display, "_NET_WM_STATE_ABOVE");
        },
        5s))
        << "the display window is not back on top and active";

    // A failure after the save: the retry loads the saved address, not the start page.
    const size_t before = server.requests().size();
    for (pid_t pid : harness::rendererProcesses(pid_t(lumira.program.pid())))
        ::kill(pid, SIGKILL);
    ASSERT_TRUE(harness::waitUntil([&] { return server.requests().size() > before; }, 8s))
        << "the retry went back to the start-up page";
    EXPECT_EQ(server.requests().back().path, "/typed");
    EXPECT_TRUE(lumira.waitForPixel(200, 200, kBlue));
}

TEST(SettingsWindow, typedBoxesMoveTheSignAndCloseBoxSavesLikeReturn) {
    Settings settings;
    settings.open();
    auto& lumira = settings.lumira;

    settings.retypeLeft("-"); // a lone minus is not a number: the box becomes 0
    EXPECT_TRUE(
        harness::waitUntil([&] { return lumira.x.rootGeometry(settings.display).x == 0; }, 1s));
    settings.retypeLeft("10.5");
    EXPECT_TRUE(
        harness::waitUntil([&] { return lumira.x.rootGeometry(settings.display).x == 11; }, 1s));
    settings.retype(840, 1800, 615, 270, "0"); // width 0: a window 20 twips wide
    EXPECT_TRUE(
        harness::waitUntil([&] { return lumira.x.rootGeometry(settings.display).w == 1; }, 1s));

    lumira.x.closeWindow(settings.window);
    ASSERT_TRUE(lumira.x.waitForNoWindow(kSettings, 5s));
    EXPECT_EQ(lumira.program.readIni().value_or(""),
              "[Main]\r\nwTop=100\r\nwLeft=10.5\r\nwWidth=0\r\nwHeight=240\r\nURL=\r\n");
    EXPECT_TRUE(lumira.program.running());
}

// A link put in the file's place after the start, when the program folder was found to hold
// the settings: the save writes nothing through it.
TEST(SettingsWindow, aLinkPlantedAfterTheStartIsNeverWrittenThrough) {
    QTemporaryDir outside;
    const std::string target = outside.filePath(QStringLiteral("elsewhere.ini")).toStdString();
    std::ofstream(target, std::ios::binary) << "[Main]\r\nwLeft=40\r\n";
    Settings settings;
    settings.open();
    const std::string ini = settings.lumira.program.folder() + "/lumira.ini";
    ASSERT_EQ(::symlink(target.c_str(), ini.c_str()), 0);
    settings.click(4560, 1560, 375, 375); // 右
    settings.click(5880, 1920, 735, 375); // 返回
    ASSERT_TRUE(settings.lumira.x.waitForNoWindow(kSettings, 5s));
    std::ostringstream linked;
    linked << std::ifstream(target, std::ios::binary).rdbuf();
    EXPECT_EQ(linked.str(), "[Main]\r\nwLeft=40\r\n") << "written through the link";
}

// Root running a copy in a folder of another user, whose lumira.ini is a link to a file
// elsewhere: the link is read as the shipped defaults but never written through; the values
// go to root's own file, readable by root alone.
TEST(SettingsWindow, rootInAnotherUsersFolderNeverWritesThroughALink) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root";
    QTemporaryDir outside, home;
    const std::string target = outside.filePath(QStringLiteral("elsewhere.ini")).toStdString();
    std::ofstream(target, std::ios::binary) << "[Main]\r\nwLeft=40\r\n";
    Settings settings;
    auto& lumira = settings.lumira;
    const std::string folder = lumira.program.folder();
    ASSERT_EQ(::symlink(target.c_str(), (folder + "/lumira.ini").c_str()), 0);
    ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0); // nobody's folder
    const QString config = home.filePath(QStringLiteral("config"));
    settings.open(
        {QStringLiteral("HOME=") + home.path(), QStringLiteral("XDG_CONFIG_HOME=") + config});
    EXPECT_TRUE(
        harness::waitUntil([&] { return lumira.x.rootGeometry(settings.display).x == 40; }, 5s));

    settings.click(4560, 1560, 375, 375); // 右
    settings.click(5880, 1920, 735, 375); // 返回
    ASSERT_TRUE(lumira.x.waitForNoWindow(kSettings, 5s));
    std::ostringstream linked;
    linked << std::ifstream(target, std::ios::binary).rdbuf();
    EXPECT_EQ(linked.str(), "[Main]\r\nwLeft=40\r\n") << "written through the link";
    const std::string perUser = (config + QStringLiteral("/lumira/lumira.ini")).toStdString();
    std::ostringstream saved;
    saved << std::ifstream(perUser, std::ios::binary).rdbuf();
    EXPECT_NE(saved.str().find("wLeft=41\r\n"), std::string::npos) << saved.str();
    struct stat st {};
    ASSERT_EQ(::stat(perUser.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "the per-user file is readable by others";
    ::chown(folder.c_str(), 0, 0);
}
