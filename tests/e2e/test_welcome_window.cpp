// The welcome window: the only window at launch, OK to the display window, Help, closing.
#include "tests/e2e/lumira_under_test.h"
#include "tests/harness/process_tree.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>

using namespace e2e;
using harness::Rect;

namespace {
void pressChord(harness::X11Session& x) {
    x.keyDown("Shift_L");
    x.keyDown("F12");
    harness::pumpEventsFor(100ms);
    x.keyUp("F12");
    x.keyUp("Shift_L");
}
} // namespace

TEST(WelcomeWindow, launchShowsOnlyTheCentredWelcomeAndNoChordBeforeOk) {
    LumiraUnderTest lumira;
    const xcb_window_t welcome = lumira.launch();
    const Rect at = lumira.x.rootGeometry(welcome);
    const Rect screen = lumira.x.screenRect();
    EXPECT_EQ(at.w, 335);
    EXPECT_EQ(at.h, 102);
    EXPECT_LE(std::abs(at.x + at.w / 2 - screen.w / 2), 2);
    EXPECT_LE(std::abs(at.y + at.h / 2 - screen.h / 2), 30) << "centred, give or take its title";
    pressChord(lumira.x);
    harness::pumpEventsFor(500ms);
    EXPECT_EQ(lumira.count(kDisplay), 0u);
    EXPECT_EQ(lumira.count(kSettings), 0u) << "Shift+F12 is watched only after OK";
    EXPECT_EQ(lumira.count(kWelcome), 1u);
    EXPECT_EQ(harness::processTree(pid_t(lumira.program.pid())).size(), 1u)
        << "the browser engine starts with OK";
}

TEST(WelcomeWindow, okOpensTheDisplayAtTheConfiguredPlaceAndTheWelcomeGoes) {
    LumiraUnderTest lumira;
    lumira.program.writeIni("[Main]\r\nwLeft=30\r\nwTop=40\r\n");
    const xcb_window_t display = lumira.openDisplay();
    EXPECT_TRUE(harness::waitUntil(
        [&] {
            return lumira.x.rootGeometry(display) == Rect{30, 40, 321, 241};
        },
        5s));
    EXPECT_TRUE(lumira.x.waitForNoWindow(kWelcome, 5s));
    pressChord(lumira.x);
    EXPECT_TRUE(lumira.x.waitForWindow(kSettings, 5s)) << "Shift+F12 works after OK";
}

TEST(WelcomeWindow, closingItEndsTheProgramWithoutTouchingTheFile) {
    LumiraUnderTest lumira;
    const xcb_window_t welcome = lumira.launch();
    lumira.x.closeWindow(welcome);
    ASSERT_TRUE(lumira.program.waitForExit(15s));
    EXPECT_EQ(lumira.program.exitCode(), 0);
    EXPECT_FALSE(lumira.program.iniExists());
    EXPECT_EQ(lumira.count(kDisplay), 0u);
}

TEST(WelcomeWindow, helpStartsTheViewerWithTheExactPathOncePerClick) {
    // A stand-in viewer first on PATH records each start's arguments, one line per start.
    QTemporaryDir stubs;
    const QString record = stubs.filePath(QStringLiteral("starts.txt"));
    QFile viewer(stubs.filePath(QStringLiteral("xdg-open")));
    ASSERT_TRUE(viewer.open(QIODevice::WriteOnly));
    viewer.write(QStringLiteral("#!/bin/sh\nprintf '%s|%s\\n' \"$#\" \"$1\" >> '%1'\n")
                     .arg(record)
                     .toUtf8());
    viewer.close();
    viewer.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    LumiraUnderTest lumira("程序 目录");
    const xcb_window_t welcome = lumira.launch(
        {QStringLiteral("PATH=%1:%2").arg(stubs.path(), qEnvironmentVariable("PATH"))});
    const auto starts = [&] {
        QFile file(record);
        return file.open(QIODevice::ReadOnly)
                   ? QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts)
                   : QStringList();
    };
    const QString expected =
        QStringLiteral("1|") + QString::fromStdString(lumira.program.folder()) + "/Lumira帮助.txt";

    lumira.clickTwips(welcome, 1200, 1200, 495, 255);
    ASSERT_TRUE(harness::waitUntil([&] { return starts().size() == 1; }, 5s));
    lumira.clickTwips(welcome, 1200, 1200, 495, 255);
    ASSERT_TRUE(harness::waitUntil([&] { return starts().size() == 2; }, 5s));
    EXPECT_EQ(starts(), (QStringList{expected, expected}));

    lumira.program.removeFile("Lumira帮助.txt");
    lumira.clickTwips(welcome, 1200, 1200, 495, 255);
    EXPECT_TRUE(harness::waitUntil([&] { return starts().size() == 3; }, 5s))
        << "the viewer starts even without the file";
    EXPECT_TRUE(lumira.program.running());
    EXPECT_EQ(lumira.count(kWelcome), 1u);
}
