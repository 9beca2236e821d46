// What the sign shows over minutes: the offline picture, a kept frame that goes stale, dark
// hours and the scheduled reload. Each takes a minute of the clock or more.
#include "tests/e2e/only_the_page.h"

#include <QBuffer>
#include <QImage>
#include <QTime>
#include <gtest/gtest.h>

using namespace e2e;

namespace {
std::string pngOf(uint32_t rgb) {
    QImage picture(64, 48, QImage::Format_RGB32);
    picture.fill(QColor::fromRgb(rgb));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "PNG");
    return bytes.toStdString();
}

QString hhmm(const QTime& time) {
    return time.toString(QStringLiteral("HH:mm"));
}
} // namespace

// A cold start with the server down shows black, then the offline picture; once the page has
// shown, its frame is kept through an outage until StaleAfter, then the picture again.
TEST(OnlyThePageOverMinutes, offlinePictureBeforeTheFirstPageAndAfterAStaleFrame) {
    harness::LoopbackHttpServer server;
    server.setResponse(200, QByteArray::fromStdString(solidPage(kGreen)));
    server.stop();
    LumiraUnderTest lumira;
    lumira.program.writeFile("offline.png", pngOf(kRed));
    lumira.program.writeIni(
        iniWithOptions(server.url("/sign"), "OfflinePage=offline.png\r\nStaleAfter=1\r\n"));
    lumira.openDisplay();
    const Samples down = sampleUntil(lumira, kRed, 10s);
    EXPECT_TRUE(down.onlyOf({kBlack, kRed})) << "server down from the start: " << down;
    ASSERT_TRUE(down.saw(kRed)) << "the offline picture never showed";
    ASSERT_TRUE(server.listenAgain());
    const Samples up = sampleUntil(lumira, kGreen, 15s);
    EXPECT_TRUE(up.onlyOf({kRed, kGreen})) << "the server up: " << up;
    ASSERT_TRUE(up.saw(kGreen));
    harness::pumpEventsFor(2s); // its first frame is kept

    server.stop();
    killRenderers(lumira);
    const Samples kept = sampleUntil(lumira, kRed, 75s);
    EXPECT_TRUE(kept.onlyOf({kGreen, kRed})) << kept;
    EXPECT_TRUE(kept.saw(kRed)) << "the kept frame was shown for more than StaleAfter";
    EXPECT_GE(kept.saw(kGreen) ? kept.seen.at(kGreen) : 0, 40 * 45)
        << "the kept frame went stale too soon";
}

// Inside dark hours the sign is black and asks for nothing, unless the settings window is open;
// when they end the page loads, and a scheduled reload later swaps it in place without a sample
// of anything else.
TEST(OnlyThePageOverMinutes, darkHoursThenTheScheduledReload) {
    // At least 30 s of dark before the minute turns, and the first reload due after it.
    harness::waitUntil(
        [] { return QTime::currentTime().second() >= 5 && QTime::currentTime().second() <= 30; },
        40s);
    const QTime now = QTime::currentTime();
    const QString darkHours = hhmm(now.addSecs(-60)) + "-" + hhmm(now.addSecs(60));
    harness::LoopbackHttpServer server;
    server.setResponse(200, QByteArray::fromStdString(solidPage(kGreen)));
    LumiraUnderTest lumira;
    lumira.program.writeIni(iniWithOptions(
        server.url("/sign"), "DarkHours=" + darkHours.toStdString() + "\r\nReloadEvery=1\r\n"));
    const xcb_window_t display = lumira.openDisplay();
    ASSERT_NE(display, xcb_window_t(XCB_NONE));
    const Samples dark = sampleSign(lumira, 10s);
    EXPECT_TRUE(dark.onlyOf({kBlack}))
        << "in dark hours " << darkHours.toStdString() << ": " << dark;
    EXPECT_TRUE(server.requests().empty()) << "the page was asked for in dark hours";
    EXPECT_TRUE(lumira.hasState(display, "_NET_WM_STATE_ABOVE"));

    lumira.x.keyDown("Shift_L");
    lumira.x.keyDown("F12");
    const auto settings = lumira.x.waitForWindow(kSettings, 5s);
    lumira.x.keyUp("F12");
    lumira.x.keyUp("Shift_L");
    ASSERT_TRUE(settings);
    EXPECT_TRUE(lumira.waitForPixel(kSampleX, kSampleY, kGreen, 10s))
        << "the page did not show for the operator with the settings window open";
    lumira.x.closeWindow(*settings);
    EXPECT_TRUE(lumira.waitForPixel(kSampleX, kSampleY, kBlack, 5s)) << "closed: dark again";
    const size_t beforeTheEnd = requestsFor(server, "/sign");

    const Samples end = sampleUntil(lumira, kGreen, 60s);
    EXPECT_TRUE(end.onlyOf({kBlack, kGreen})) << end;
    ASSERT_TRUE(end.saw(kGreen)) << "the page did not come back when the dark hours ended";
    server.setResponse(200, QByteArray::fromStdString(solidPage(kBlue)));
    const Samples reload = sampleUntil(lumira, kBlue, 62s);
    EXPECT_TRUE(reload.onlyOf({kGreen, kBlue})) << "across the reload: " << reload;
    EXPECT_TRUE(reload.saw(kBlue)) << "no reload within a minute";
    EXPECT_EQ(requestsFor(server, "/sign"), beforeTheEnd + 2);
}
