// The welcome window: the only window at launch, OK to the display window, Help, closing.
#include "tests/e2e/lumira_under_test.h"
#include "tests/e2e/only_the_page.h"
#include "tests/harness/process_tree.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cmath>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

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
    EXPECT_EQ(at.w, 335);
    EXPECT_EQ(at.h, 102);
    expectFrameCentred(lumira.x, welcome);
    pressChord(lumira.x);
    harness::pumpEventsFor(500ms);
    EXPECT_EQ(lumira.count(kDisplay), 0u);
    EXPECT_EQ(lumira.count(kSettings), 0u) << "Shift+F12 is watched only after OK";
    EXPECT_EQ(lumira.count(kWelcome), 1u);
    EXPECT_EQ(harness::processTree(pid_t(lumira.program.pid())).size(), 1u)
        << "the browser engine starts with OK";
}

TEST(WelcomeWindow, at144DpiTheFrameIsCentredToo) {
    OwnDisplay screen(144);
    LumiraUnderTest lumira;
    const xcb_window_t welcome = lumira.launch();
    EXPECT_EQ(lumira.x.rootGeometry(welcome).w, 503);
    expectFrameCentred(lumira.x, welcome);
}

TEST(WelcomeWindow, returnPressesOkWhichOpensTheDisplayAtTheConfiguredPlace) {
    LumiraUnderTest lumira;
    lumira.program.writeIni("[Main]\r\nwLeft=30\r\nwTop=40\r\n");
    const xcb_window_t welcome = lumira.launch();
    ASSERT_TRUE(harness::waitUntil([&] { return lumira.x.activeWindow() == welcome; }, 5s));
    lumira.x.tap("Return");
    const auto shown = lumira.x.waitForWindow(kDisplay, kWindowTimeout);
    ASSERT_TRUE(shown) << "Return did not press OK";
    const xcb_window_t display = *shown;
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

TEST(WelcomeWindow, oneCopyPerFolderAndAKilledCopyNeverBlocks) {
    LumiraUnderTest lumira;
    lumira.openDisplay();
    const auto launchAgain = [&] {
        QProcess second;
        second.setProcessChannelMode(QProcess::ForwardedChannels);
        second.start(QString::fromStdString(lumira.program.executable()), {});
        return second.waitForFinished(15000) && second.exitStatus() == QProcess::NormalExit
                   ? second.exitCode()
                   : -1;
    };
    EXPECT_EQ(launchAgain(), 0);
    EXPECT_EQ(lumira.count(kDisplay), 1u);
    EXPECT_EQ(lumira.count(kWelcome), 0u) << "the second copy showed a window";

    LumiraUnderTest elsewhere("另一个标志");
    elsewhere.openDisplay();
    EXPECT_TRUE(harness::waitUntil([&] { return lumira.count(kDisplay) == 2; }, kWindowTimeout))
        << "a copy in another folder runs side by side";

    lumira.program.kill();
    lumira.program.start();
    EXPECT_TRUE(lumira.x.waitForWindow(kWelcome, kWindowTimeout)) << "blocked by a killed copy";

    // A first copy that is frozen holds up no later start.
    ::kill(pid_t(lumira.program.pid()), SIGSTOP);
    for (int start = 0; start < 6; ++start) {
        const auto begun = std::chrono::steady_clock::now();
        EXPECT_EQ(launchAgain(), 0) << "start " << start;
        EXPECT_LT(std::chrono::steady_clock::now() - begun, 3s) << "start " << start;
    }
    ::kill(pid_t(lumira.program.pid()), SIGCONT);
}

// `lumira --reload` and `lumira --address URL` reach the copy of their folder with neither a
// display nor the status server: 1 when no copy runs; 2 and the reason in one line when it
// refuses, leaving file and sign as they were; 0 when it took it.
TEST(WelcomeWindow, oneCopyPerFolderTakesReloadAndAddressFromTheCommandLine) {
    harness::LoopbackHttpServer server;
    server.setResponse(200, QByteArray::fromStdString(solidPage(kGreen)));
    LumiraUnderTest lumira;
    lumira.program.writeIni(iniWithOptions(server.url("/a"), ""));
    // Its exit status; nothing on stderr, or one line holding `why`.
    const auto command = [&](const QStringList& arguments, const std::string& why = {}) {
        QProcess run;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("DISPLAY"));
        run.setProcessEnvironment(environment);
        run.start(QString::fromStdString(lumira.program.executable()), arguments);
        harness::waitUntil( // the page's server answers from this thread meanwhile
            [&] { return run.state() == QProcess::NotRunning || run.waitForFinished(0); }, 10s);
        const std::string said = run.readAllStandardError().toStdString();
        EXPECT_TRUE(why.empty()
                        ? said.empty()
                        : said.starts_with("lumira: ") && said.find(why) != std::string::npos &&
                              said.find('\n') == said.size() - 1)
            << said;
        return run.state() == QProcess::NotRunning ? run.exitCode() : -1;
    };
    EXPECT_EQ(command({"--reload"}, "no running Lumira"), 1);
    const xcb_window_t welcome = lumira.launch();
    EXPECT_EQ(command({"--reload"}, "the sign is not showing yet"), 2);
    lumira.pressOk(welcome);
    ASSERT_TRUE(lumira.waitForPixel(kSampleX, kSampleY, kGreen));
    const size_t loads = requestsFor(server, "/a");
    EXPECT_EQ(command({"--reload"}), 0);
    EXPECT_TRUE(harness::waitUntil([&] { return requestsFor(server, "/a") > loads; }, 10s));

    const auto before = lumira.program.readIni();
    EXPECT_EQ(command({"--address", "file:///etc/passwd"}, "only a web address"), 2);
    EXPECT_EQ(command({"--address"}, "give the new address"), 2);
    EXPECT_EQ(lumira.program.readIni(), before);
    EXPECT_TRUE(sampleSign(lumira, 1s).onlyOf({kGreen}));

    server.setResponse(200, QByteArray::fromStdString(solidPage(kBlue)));
    const QString next = server.url("/b?page=2");
    EXPECT_EQ(command({"--address", next}), 0);
    EXPECT_TRUE(lumira.waitForPixel(kSampleX, kSampleY, kBlue));
    EXPECT_EQ(requestsFor(server, "/b?page=2"), 1u);
    EXPECT_NE(lumira.program.readIni().value_or("").find("URL=" + next.toStdString() + "\r\n"),
              std::string::npos);
}

// Root without a runtime folder: another user who takes every name it can guess first (the
// abstract name of old, bound and never listened on; a socket in /tmp, listened on and never
// answered) neither stops the sign nor keeps a later start or `lumira --status` from it.
TEST(WelcomeWindow, anotherUsersNameNeverStopsTheSign) {
    if (::geteuid() != 0 || QFileInfo::exists(QStringLiteral("/run/user/0")))
        GTEST_SKIP() << "needs root without a runtime folder";
    LumiraUnderTest lumira;
    const QByteArray folder =
        QFileInfo(QString::fromStdString(lumira.program.folder())).canonicalFilePath().toUtf8();
    const QByteArray name =
        "lumira-0-" + QCryptographicHash::hash(folder, QCryptographicHash::Sha256).toHex().left(32);
    const QByteArray names[] = {QByteArray(1, '\0') + name, "/tmp/" + name + ".socket"};
    ::unlink(names[1].constData()); // left by a run that failed
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t squatter = ::fork();
    ASSERT_GE(squatter, 0);
    if (squatter == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(1);
        for (const QByteArray& path : names) {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
            const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + size_t(path.size()));
            if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
                (path[0] && ::listen(fd, 4) != 0))
                ::_exit(1);
        }
        [[maybe_unused]] const ssize_t told = ::write(ready[1], "x", 1);
        for (;;)
            ::pause();
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1) << "nobody could not take the names";
    lumira.launch();
    const auto run = [&](const QStringList& arguments) {
        QProcess copy;
        copy.start(QString::fromStdString(lumira.program.executable()), arguments);
        copy.waitForFinished(15000);
        return std::pair(copy.exitCode(), copy.readAll() + copy.readAllStandardError());
    };
    const auto [again, said] = run({});
    EXPECT_EQ(again, 0);
    EXPECT_TRUE(said.contains("already runs")) << said.toStdString();
    const auto [status, report] = run({QStringLiteral("--status")});
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(report.contains("\"state\"")) << report.toStdString();
    ::kill(squatter, SIGKILL);
    ::waitpid(squatter, nullptr, 0);
    ::unlink(names[1].constData());
    ::close(ready[0]);
    ::close(ready[1]);
}
