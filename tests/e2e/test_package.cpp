// The Debian package as an operator gets it: extracted into a root of its own, its program
// folder read-only, HOME and XDG_CONFIG_HOME private. Settings go to the per-user file.
#include "tests/e2e/lumira_under_test.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace e2e;
using harness::Rect;

namespace {
constexpr uint32_t kGreen = 0x00ff00;

QString builtPackage() {
    const QStringList found = QDir(QStringLiteral(LUMIRA_PACKAGE_DIR))
                                  .entryList({QStringLiteral("lumira_*.deb")}, QDir::Files);
    return found.isEmpty() ? QString() : QStringLiteral(LUMIRA_PACKAGE_DIR "/") + found.front();
}

bool run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(program, arguments);
    return process.waitForFinished(60000) && process.exitCode() == 0;
}

void write(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
} // namespace

TEST(Package, readOnlyProgramFolderKeepsSettingsPerUser) {
    const QString deb = builtPackage();
    if (deb.isEmpty())
        GTEST_SKIP() << "no package in " LUMIRA_PACKAGE_DIR "; scripts/test builds it";
    QTemporaryDir root, home;
    ASSERT_TRUE(run(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), deb, root.path()}));
    const QString folder = root.filePath(QStringLiteral("usr/lib/lumira"));
    write(folder + "/start.htm", QByteArray::fromStdString(solidPage(kGreen)));
    write(folder + "/lumira.ini", "[Main]\r\nwLeft=40\r\nwTop=50\r\n"); // the shipped defaults
    ASSERT_TRUE(
        run(QStringLiteral("chmod"), {QStringLiteral("-R"), QStringLiteral("a-w"), folder}));
    const QString config = home.filePath(QStringLiteral("config"));
    const QString perUser = config + "/lumira/lumira.ini";

    harness::X11Session x;
    QProcess lumira;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
    lumira.setProcessEnvironment(env);
    lumira.setProcessChannelMode(QProcess::ForwardedChannels);
    const auto start = [&] {
        lumira.start(root.filePath(QStringLiteral("usr/bin/lumira")), {});
        const auto welcome = x.waitForWindow(kWelcome, kWindowTimeout);
        EXPECT_TRUE(welcome);
        if (welcome)
            x.activate(*welcome);
        harness::pumpEventsFor(300ms);
        x.tap("Return");
        return x.waitForWindow(kDisplay, kWindowTimeout);
    };

    const auto display = start();
    ASSERT_TRUE(display);
    EXPECT_TRUE(harness::waitUntil(
        [&] {
            return x.rootGeometry(*display) == Rect{40, 50, 321, 241};
        },
        5s));
    EXPECT_TRUE(harness::waitUntil([&] { return x.pixel(41, 51) == kGreen; }, 15s));

    x.keyDown("Shift_L");
    x.keyDown("F12");
    const auto settings = x.waitForWindow(kSettings, 5s);
    x.keyUp("F12");
    x.keyUp("Shift_L");
    ASSERT_TRUE(settings);
    const Rect client = x.rootGeometry(*settings);
    x.click(client.x + (4560 + 375 / 2) / 15, client.y + (1560 + 375 / 2) / 15); // 右
    harness::pumpEventsFor(300ms);
    x.click(client.x + (5880 + 735 / 2) / 15, client.y + (1920 + 375 / 2) / 15); // 返回
    ASSERT_TRUE(x.waitForNoWindow(kSettings, 5s));
    EXPECT_TRUE(read(perUser).contains("wLeft=41")) << read(perUser).toStdString();
    EXPECT_EQ(read(folder + "/lumira.ini"), "[Main]\r\nwLeft=40\r\nwTop=50\r\n");

    lumira.terminate();
    ASSERT_TRUE(lumira.waitForFinished(15000));
    const auto again = start();
    ASSERT_TRUE(again);
    EXPECT_TRUE(harness::waitUntil([&] { return x.rootGeometry(*again).x == 41; }, 5s))
        << "the second start did not use the per-user value";
    lumira.terminate();
    lumira.waitForFinished(15000);
    run(QStringLiteral("chmod"), {QStringLiteral("-R"), QStringLiteral("u+w"), folder});
}
