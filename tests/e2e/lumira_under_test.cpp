#include "tests/e2e/lumira_under_test.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace e2e {

std::string solidPage(uint32_t rgb, const std::string& script) {
    char colour[8];
    std::snprintf(colour, sizeof colour, "#%06x", rgb & 0xffffff);
    return std::string("<!doctype html><html><head><meta charset=\"utf-8\"><style>html,body{"
                       "margin:0;height:100%;overflow:hidden;background:") +
           colour + "}</style></head><body><script>" + script + "</script></body></html>";
}

LumiraUnderTest::LumiraUnderTest(const std::string& folderName)
    : program(LUMIRA_PROGRAM_DIR, folderName) {}

xcb_window_t LumiraUnderTest::launch(const QStringList& extraEnv) {
    program.start(extraEnv);
    const auto welcome = x.waitForWindow(kWelcome, kWindowTimeout);
    if (!welcome)
        throw std::runtime_error("the welcome window did not appear");
    return *welcome;
}

xcb_window_t LumiraUnderTest::pressOk(xcb_window_t welcome, float twipsPerPixel) {
    clickTwips(welcome, 3720, 1080, 975, 375, twipsPerPixel);
    const auto display = x.waitForWindow(kDisplay, kWindowTimeout);
    if (!display)
        throw std::runtime_error("the display window did not appear");
    return *display;
}

xcb_window_t LumiraUnderTest::openDisplay(const QStringList& extraEnv) {
    return pressOk(launch(extraEnv));
}

xcb_window_t LumiraUnderTest::showSolidPage(uint32_t rgb) {
    program.writeFile("start.htm", solidPage(rgb));
    const xcb_window_t display = openDisplay();
    return waitForPixel(200, 200, rgb) ? display : xcb_window_t(XCB_NONE);
}

void LumiraUnderTest::clickTwips(xcb_window_t window, int left, int top, int width, int height,
                                 float twipsPerPixel) {
    const harness::Rect client = x.rootGeometry(window);
    x.click(client.x + int(std::lround((left + width / 2.0) / twipsPerPixel)),
            client.y + int(std::lround((top + height / 2.0) / twipsPerPixel)));
}

bool LumiraUnderTest::waitForPixel(int px, int py, uint32_t rgb,
                                   std::chrono::milliseconds timeout) {
    return harness::waitUntil([&] { return x.pixel(px, py) == rgb; }, timeout, 20ms);
}

bool Samples::onlyOf(const std::set<uint32_t>& allowed) const {
    for (const auto& [colour, count] : seen) {
        if (!allowed.count(colour))
            return false;
    }
    return true;
}

std::ostream& operator<<(std::ostream& out, const Samples& samples) {
    for (const auto& [colour, count] : samples.seen)
        out << std::hex << colour << std::dec << " x" << count << "; ";
    return out;
}

Samples LumiraUnderTest::sample(int px, int py, std::chrono::milliseconds duration,
                                const std::function<bool(uint32_t rgb)>& stopAt) {
    Samples samples;
    const auto end = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < end) {
        const uint32_t rgb = x.pixel(px, py);
        ++samples.seen[rgb];
        if (stopAt && stopAt(rgb))
            break;
        harness::pumpEventsFor(20ms);
    }
    return samples;
}

bool LumiraUnderTest::hasState(xcb_window_t window, const std::string& state) {
    const auto states = x.netWmState(window);
    return std::find(states.begin(), states.end(), state) != states.end();
}

} // namespace e2e

namespace e2e {

namespace {
// Xft.dpi in the root window's resources, where Qt reads the logical DPI.
void publishDpi(int dpi) {
    harness::X11Session x;
    const std::string resources = "Xft.dpi:\t" + std::to_string(dpi) + "\n";
    const char name[] = "RESOURCE_MANAGER";
    auto* reply = xcb_intern_atom_reply(
        x.connection(), xcb_intern_atom(x.connection(), 0, sizeof name - 1, name), nullptr);
    xcb_change_property(x.connection(), XCB_PROP_MODE_REPLACE, x.root(), reply->atom,
                        XCB_ATOM_STRING, 8, uint32_t(resources.size()), resources.data());
    std::free(reply);
    x.sync();
}

bool serverAnswers() {
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const bool answers = !xcb_connection_has_error(connection);
    xcb_disconnect(connection);
    return answers;
}

bool windowManagerRunning() {
    harness::X11Session x;
    const char name[] = "_NET_SUPPORTING_WM_CHECK";
    auto* atom = xcb_intern_atom_reply(
        x.connection(), xcb_intern_atom(x.connection(), 0, sizeof name - 1, name), nullptr);
    auto* reply = xcb_get_property_reply(
        x.connection(),
        xcb_get_property(x.connection(), 0, x.root(), atom->atom, XCB_ATOM_WINDOW, 0, 1), nullptr);
    const bool running = reply && xcb_get_property_value_length(reply) == 4;
    std::free(reply);
    std::free(atom);
    return running;
}
} // namespace

const WindowManager& openboxManager() {
    static const WindowManager openbox{"openbox", QStringLiteral("openbox"), {}, {}, {}, {}, {}};
    return openbox;
}

SessionBus::SessionBus() : previous_(qgetenv("DBUS_SESSION_BUS_ADDRESS")) {
    daemon_.start(QStringLiteral("dbus-daemon"),
                  {QStringLiteral("--session"), QStringLiteral("--nofork"),
                   QStringLiteral("--print-address=1")});
    if (!daemon_.waitForReadyRead(10000))
        throw std::runtime_error("dbus-daemon did not start");
    qputenv("DBUS_SESSION_BUS_ADDRESS", daemon_.readLine().trimmed());
}

SessionBus::~SessionBus() {
    daemon_.terminate();
    daemon_.waitForFinished();
    if (previous_.isNull())
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    else
        qputenv("DBUS_SESSION_BUS_ADDRESS", previous_);
}

OwnDisplay::OwnDisplay(int dpi, const QStringList& serverArguments,
                       const WindowManager& windowManager)
    : previous_(qgetenv("DISPLAY")) {
    int number = 140;
    while (QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)) ||
           QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number)))
        ++number;
    const QString display = QStringLiteral(":%1").arg(number);
    const QStringList arguments{display,
                                QStringLiteral("-screen"),
                                QStringLiteral("0"),
                                QStringLiteral("1280x1024x24"),
                                QStringLiteral("-noreset"),
                                QStringLiteral("-dpi"),
                                QString::number(dpi),
                                QStringLiteral("-nolisten"),
                                QStringLiteral("tcp")};
    server_.start(QStringLiteral("Xvfb"), arguments + serverArguments);
    qputenv("DISPLAY", display.toLocal8Bit());
    const bool up = harness::waitUntil(serverAnswers, 10s, 20ms);
    if (!up)
        throw std::runtime_error("Xvfb did not start");
    publishDpi(dpi);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config_.path());
    for (const QString& entry : windowManager.environment)
        environment.insert(entry.section(QLatin1Char('='), 0, 0),
                           entry.section(QLatin1Char('='), 1));
    if (!windowManager.configFile.isEmpty()) {
        QDir(config_.path()).mkpath(QFileInfo(windowManager.configFile).path());
        QFile file(config_.filePath(windowManager.configFile));
        if (!file.open(QIODevice::WriteOnly) || file.write(windowManager.configText) < 0)
            throw std::runtime_error("cannot write the window manager's configuration");
    }
    windowManager_.setProcessEnvironment(environment);
    windowManager_.setStandardOutputFile(QProcess::nullDevice());
    windowManager_.setStandardErrorFile(QProcess::nullDevice());
    windowManager_.start(windowManager.program, windowManager.arguments);
    if (!harness::waitUntil(windowManagerRunning, 20s))
        throw std::runtime_error(windowManager.name + " did not start");
    harness::pumpEventsFor(windowManager.settle);
}

OwnDisplay::~OwnDisplay() {
    // Terminated, not killed, so the server removes its lock and socket.
    windowManager_.terminate();
    windowManager_.waitForFinished();
    server_.terminate();
    server_.waitForFinished();
    qputenv("DISPLAY", previous_);
}

} // namespace e2e
