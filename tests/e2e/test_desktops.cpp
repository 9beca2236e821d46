// The sign under each window manager a sign PC runs (Xfce, GNOME, KDE Plasma, LXQt), each on an
// X server and session bus of the test's own: on its pixels, on every workspace, above another
// program's always-on-top window, put right after another client's resize, and Shift+F12 from
// another program.
#include "tests/e2e/lumira_under_test.h"
#include "tests/harness/http_client.h"
#include "tests/table_case.h"

#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sstream>
#include <stdexcept>

using namespace e2e;
using harness::Rect;

namespace {
constexpr uint32_t kGreen = 0x00ff00;
constexpr uint32_t kBlue = 0x0000ff;
const Rect kPlaced{100, 100, 321, 241};

struct DesktopCase : table::Case {
    WindowManager manager;
    bool restacksWithoutFocus; // lists _NET_RESTACK_WINDOW: the sign is raised, not focused
};

class Desktops : public testing::TestWithParam<DesktopCase> {};

// Started as a sign PC starts it, with the welcome window pressing OK by itself.
xcb_window_t startUnattended(LumiraUnderTest& lumira, const QStringList& environment = {},
                             const std::string& options = {}) {
    lumira.program.writeFile("start.htm", solidPage(kGreen));
    lumira.program.writeIni("[Options]\r\nAutoEnter=1\r\n" + options);
    lumira.program.start(environment);
    const auto sign = lumira.x.waitForWindow(kDisplay, kWindowTimeout);
    if (!sign)
        throw std::runtime_error("the display window did not appear");
    return *sign;
}

// Every line the program printed is its own: no note of Qt's on the managers' messages.
void expectOnlyOwnLines(const std::string& output) {
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);)
        EXPECT_TRUE(line.starts_with("lumira: ")) << "printed: " << line;
}
} // namespace

TEST_P(Desktops, theSignStaysOnItsPixelsAboveEverythingOnEveryWorkspace) {
    SessionBus bus;
    OwnDisplay screen(96, {}, GetParam().manager);
    LumiraUnderTest lumira;
    auto& x = lumira.x;
    // OK pressed by the program itself: the welcome window is not what differs between managers.
    const xcb_window_t sign = startUnattended(lumira);
    ASSERT_TRUE(lumira.waitForPixel(200, 200, kGreen)) << "page never painted";
    const auto inPlace = [&] {
        return x.isViewable(sign) && x.rootGeometry(sign) == kPlaced &&
               lumira.hasState(sign, "_NET_WM_STATE_ABOVE") &&
               lumira.hasState(sign, "_NET_WM_STATE_SKIP_TASKBAR") && x.pixel(100, 100) == kGreen &&
               x.pixel(419, 339) == kGreen;
    };
    EXPECT_TRUE(harness::waitUntil(inPlace, 5s)) << "not on its pixels with its states";
    EXPECT_TRUE(harness::waitUntil([&] { return x.workspaceOf(sign) == 0xFFFFFFFFLL; }, 1s))
        << "not on every workspace";

    ASSERT_TRUE(harness::waitUntil([&] { return x.workspaceCount() >= 2; }, 20s))
        << "the window manager publishes no second workspace";
    x.switchWorkspace(1);
    ASSERT_TRUE(harness::waitUntil([&] { return x.currentWorkspace() == 1; }, 5s));
    EXPECT_TRUE(harness::waitUntil(inPlace, 2s)) << "the second workspace lost the page";
    x.switchWorkspace(0);
    ASSERT_TRUE(harness::waitUntil([&] { return x.currentWorkspace() == 0; }, 5s));

    // Another program's always-on-top window, activated over the sign.
    const xcb_window_t other = x.createPlainWindow({150, 150, 200, 150}, kBlue, "其他程序");
    x.setNetState(other, "_NET_WM_STATE_ABOVE", true);
    x.activate(other);
    EXPECT_TRUE(harness::waitUntil([&] { return x.pixel(200, 200) == kGreen; }, 2s))
        << "the other window still covers the sign";
    if (GetParam().restacksWithoutFocus) {
        EXPECT_TRUE(harness::waitUntil([&] { return x.activeWindow() == other; }, 1s))
            << "raising the sign took the focus";
    }
    x.destroyWindow(other);

    // A notice of the desktop over the sign stays; the program says so once.
    const xcb_window_t notice = x.createNotice({150, 300, 200, 30}, kBlue);
    const auto told = [&] {
        const std::string output = lumira.program.output();
        const size_t first = output.find("lumira: a panel");
        return first != std::string::npos &&
               output.find("lumira: a panel", first + 1) == std::string::npos;
    };
    EXPECT_TRUE(harness::waitUntil(told, 2s)) << "no word of the notice";
    harness::pumpEventsFor(1500ms);
    EXPECT_TRUE(told()) << "said more than once";
    EXPECT_EQ(x.pixel(200, 310), kBlue) << "the sign fought the desktop's notice";
    x.destroyWindow(notice);

    x.moveResize(sign, {300, 250, 200, 150});
    EXPECT_TRUE(harness::waitUntil([&] { return x.rootGeometry(sign) == kPlaced; }, 1500ms))
        << "another client's resize was not put right";

    const xcb_window_t focused = x.createPlainWindow({700, 500, 300, 200}, kBlue, "其他窗口");
    x.activate(focused);
    harness::waitUntil([&] { return x.activeWindow() == focused; }, 5s);
    x.keyDown("Shift_L");
    x.keyDown("F12");
    harness::pumpEventsFor(50ms);
    x.keyUp("F12");
    x.keyUp("Shift_L");
    EXPECT_TRUE(x.waitForWindow(kSettings, 5s)) << "Shift+F12 opened no settings window";
    expectOnlyOwnLines(lumira.program.output());
}

INSTANTIATE_TEST_SUITE_P(
    WindowManagers, Desktops,
    testing::Values(
        DesktopCase{"xfwm4", {"xfwm4", "xfwm4", {"--compositor=off"}, {}, {}, {}, {}}, false},
        DesktopCase{"mutter", {"mutter", "mutter", {"--x11", "--replace"}, {}, {}, {}, {}}, true},
        // kwin takes its number of workspaces from its own file, and publishes them a
        // few seconds after it announces itself.
        DesktopCase{"kwin",
                    {"kwin",
                     "kwin_x11",
                     {"--replace"},
                     {"KWIN_COMPOSE=N"},
                     "kwinrc",
                     "[Desktops]\nNumber=2\nRows=1\n",
                     3s},
                    true},
        DesktopCase{"openbox", {openboxManager()}, true}),
    table::CaseName());

namespace {

// GNOME on Wayland: mutter's headless Wayland mode with a virtual monitor starts Xwayland and
// hands its command a DISPLAY; a stand-in GlobalShortcuts portal is on the session's bus.
// DISPLAY names that Xwayland for the test's lifetime.
class WaylandSession {
public:
    WaylandSession() : previous_(qgetenv("DISPLAY")), previousAuthority_(qgetenv("XAUTHORITY")) {
        portal.start(QStringLiteral(LUMIRA_PORTAL_STANDIN), {});
        if (!portal.waitForReadyRead(10000) || !portal.readLine().startsWith("ready"))
            throw std::runtime_error("the portal stand-in did not start");
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime_.path());
        environment.remove(QStringLiteral("DISPLAY"));
        mutter_.setProcessEnvironment(environment);
        mutter_.setStandardOutputFile(QProcess::nullDevice());
        mutter_.setStandardErrorFile(QProcess::nullDevice());
        const QString displayFile = runtime_.filePath(QStringLiteral("display"));
        mutter_.start(QStringLiteral("mutter"),
                      {QStringLiteral("--wayland"), QStringLiteral("--headless"),
                       QStringLiteral("--virtual-monitor"), QStringLiteral("1280x720"),
                       QStringLiteral("--"), QStringLiteral("sh"), QStringLiteral("-c"),
                       QStringLiteral("echo \"$DISPLAY $XAUTHORITY\" > '%1'; exec sleep 600")
                           .arg(displayFile)});
        QList<QByteArray> handed;
        harness::waitUntil(
            [&] {
                QFile file(displayFile);
                handed = file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().split(' ')
                                                        : QList<QByteArray>();
                return handed.size() == 2;
            },
            20s);
        if (handed.size() != 2)
            throw std::runtime_error("mutter handed its command no DISPLAY");
        qputenv("DISPLAY", handed[0]);
        qputenv("XAUTHORITY", handed[1]);
    }
    ~WaylandSession() {
        mutter_.terminate();
        mutter_.waitForFinished();
        portal.close();
        portal.waitForFinished();
        qputenv("DISPLAY", previous_);
        if (previousAuthority_.isNull())
            qunsetenv("XAUTHORITY");
        else
            qputenv("XAUTHORITY", previousAuthority_);
    }
    QStringList programEnvironment() const {
        return {QStringLiteral("XDG_SESSION_TYPE=wayland"),
                QStringLiteral("QT_QPA_PLATFORM=wayland"),
                QStringLiteral("WAYLAND_DISPLAY=wayland-0"),
                QStringLiteral("XDG_RUNTIME_DIR=") + runtime_.path()};
    }

    SessionBus bus;
    QProcess portal;

private:
    QByteArray previous_;
    QByteArray previousAuthority_;
    QTemporaryDir runtime_;
    QProcess mutter_;
};

// `lumira --settings` for the copy in `folder`: its exit status once it ended.
int askForSettings(const std::string& executable) {
    QProcess ask;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY")); // it needs no X display
    ask.setProcessEnvironment(environment);
    ask.start(QString::fromStdString(executable), {QStringLiteral("--settings")});
    const bool ended = ask.waitForFinished(5000);
    return ended && ask.exitStatus() == QProcess::NormalExit ? ask.exitCode() : -1;
}

} // namespace

TEST(WaylandSession, theSignOnXwaylandAndShiftF12ThroughThePortalOrTheCommand) {
    WaylandSession session;
    LumiraUnderTest lumira;
    auto& x = lumira.x;
    EXPECT_EQ(askForSettings(lumira.program.executable()), 1) << "no copy runs yet";
    const quint16 status = harness::freeLoopbackPort();
    const auto sign = std::optional(startUnattended(lumira, session.programEnvironment(),
                                                    "Status=" + std::to_string(status) + "\r\n"));
    EXPECT_TRUE(harness::waitUntil(
        [&] {
            return x.rootGeometry(*sign) == kPlaced &&
                   lumira.hasState(*sign, "_NET_WM_STATE_ABOVE") &&
                   x.workspaceOf(*sign) == 0xFFFFFFFFLL;
        },
        5s))
        << "not at its rectangle, above and on every workspace";

    EXPECT_TRUE(harness::waitUntil(
        [&] {
            return lumira.program.output().find("served by the desktop's global shortcuts "
                                                "portal") != std::string::npos;
        },
        10s));
    EXPECT_TRUE(session.portal.readAll().contains("bound settings SHIFT+F12"));

    EXPECT_EQ(askForSettings(lumira.program.executable()), 0);
    auto settings = x.waitForWindow(kSettings, 5s);
    ASSERT_TRUE(settings) << "lumira --settings opened no settings window";
    x.closeWindow(*settings);
    ASSERT_TRUE(x.waitForNoWindow(kSettings, 5s));

    session.portal.write("activate\n");
    EXPECT_TRUE(x.waitForWindow(kSettings, 5s)) << "the portal's Activated opened nothing";
    EXPECT_NE(lumira.program.output().find("lumira: QT_QPA_PLATFORM=wayland ignored"),
              std::string::npos);

    // The screen cannot be read here: the status server's picture is the window's own.
    const auto ask = [&](const std::string& path) {
        return harness::httpExchange(
            "127.0.0.1", status, harness::httpRequest("GET", path, harness::loopbackHost(status)),
            10s);
    };
    EXPECT_NE(ask("/status").body.find(R"("screenshot": "window")"), std::string::npos);
    QImage picture;
    EXPECT_TRUE(harness::waitUntil(
        [&] {
            return picture.loadFromData(QByteArray::fromStdString(ask("/screenshot.png").body)) &&
                   picture.size() == QSize(320, 240) &&
                   (picture.pixel(160, 120) & 0xffffff) == kGreen;
        },
        10s))
        << "the window's own picture: " << picture.width() << "x" << picture.height();
}
