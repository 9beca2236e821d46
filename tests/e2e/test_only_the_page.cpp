// Only the page reaches the sign: no error page, no white or silver between pages, no reload
// for a late part, a hard memory ceiling. The rectangle's pixels are sampled every 20 ms or so.
#include "tests/e2e/only_the_page.h"

#include <gtest/gtest.h>

using namespace e2e;

// From the press of OK to the page, and through an outage of every kind, the sign shows black,
// then the page, then the page's last good frame: never an error page, white or silver.
TEST(OnlyThePage, failuresNeverReachTheScreen) {
    harness::LoopbackHttpServer server;
    server.setResponse(200, QByteArray::fromStdString(solidPage(kGreen)));
    LumiraUnderTest lumira;
    lumira.program.writeIni(iniWithOptions(server.url("/sign"), "LoadTimeout=5\r\n"));
    const xcb_window_t welcome = lumira.launch();
    ASSERT_NE(welcome, xcb_window_t(XCB_NONE));
    lumira.pressOk(welcome);
    const Samples start = sampleUntil(lumira, kGreen, 15s);
    EXPECT_TRUE(start.onlyOf({kBlack, kGreen})) << "from OK to the page: " << start;
    ASSERT_TRUE(start.saw(kGreen)) << "the page never showed";
    harness::pumpEventsFor(2s); // its first frame is kept

    // Refused, then an error page of the server, then no answer at all; the renderer is ended
    // so that the retry loads the page against each.
    server.stop();
    killRenderers(lumira);
    const Samples refused = sampleSign(lumira, 5s);
    ASSERT_TRUE(server.listenAgain());
    server.setResponse(500, "<html><body style='background:#fff'>Internal error</body></html>");
    const Samples errorBody = sampleSign(lumira, 5s);
    server.setResponse(0, {});
    const Samples noAnswer = sampleSign(lumira, 6s);
    EXPECT_TRUE(refused.onlyOf({kGreen})) << "refused: " << refused;
    EXPECT_TRUE(errorBody.onlyOf({kGreen})) << "answered 500: " << errorBody;
    EXPECT_TRUE(noAnswer.onlyOf({kGreen})) << "no answer: " << noAnswer;
    EXPECT_GE(requestsFor(server, "/sign"), 3u) << "the retry stopped";

    server.setResponse(200, QByteArray::fromStdString(solidPage(kBlue)));
    const Samples back = sampleUntil(lumira, kBlue, 25s); // a hung load ends after 5 s
    EXPECT_TRUE(back.onlyOf({kGreen, kBlue})) << "the server back: " << back;
    EXPECT_TRUE(back.saw(kBlue)) << "the page was not loaded again";
}

// A page that shows is not stopped and reloaded because one of its pictures never arrives.
TEST(OnlyThePage, aLatePartLeavesAShowingPageAlone) {
    harness::LoopbackHttpServer server;
    server.hangOn("/late.png");
    server.setResponse(200, QByteArray::fromStdString(solidPage(
                                kGreen, "document.body.appendChild(new Image()).src='/late.png'")));
    LumiraUnderTest lumira;
    lumira.program.writeIni(iniWithOptions(server.url("/sign"), "LoadTimeout=5\r\n"));
    lumira.openDisplay();
    ASSERT_TRUE(lumira.waitForPixel(kSampleX, kSampleY, kGreen));
    const Samples showing = sampleSign(lumira, 16s);
    EXPECT_TRUE(showing.onlyOf({kGreen})) << showing;
    EXPECT_EQ(requestsFor(server, "/sign"), 1u) << "the page was loaded again";
    EXPECT_EQ(requestsFor(server, "/late.png"), 1u);
}

// A renderer that allocates about 80 MB a second is ended before it reaches twice its limit,
// and the page comes back.
TEST(OnlyThePage, aFastGrowingRendererIsEndedBeforeTwiceItsLimit) {
    SessionBus bus; // as in a desktop session, where the engine writes its titles joined by blanks
    harness::LoopbackHttpServer server;
    server.setResponse(
        200, QByteArray::fromStdString(
                 solidPage(kGreen, "var kept = []; setInterval(function () {"
                                   "  var block = new Uint8Array(8 << 20);"
                                   "  for (var i = 0; i < block.length; i += 4096) block[i] = 1;"
                                   "  kept.push(block); }, 100);")));
    LumiraUnderTest lumira;
    lumira.program.writeIni(iniWithOptions(server.url("/sign"), "MemoryLimit=300\r\n"));
    lumira.openDisplay();
    ASSERT_TRUE(lumira.waitForPixel(kSampleX, kSampleY, kGreen));
    long long largestKb = 0;
    harness::waitUntil(
        [&] {
            for (pid_t pid : harness::rendererProcesses(pid_t(lumira.program.pid())))
                largestKb = std::max(largestKb, harness::ownMemoryKb(pid));
            return requestsFor(server, "/sign") >= 2;
        },
        20s, 50ms);
    EXPECT_GE(requestsFor(server, "/sign"), 2u) << "the renderer was never ended";
    EXPECT_GT(largestKb, 300 * 1024) << "the page did not grow as meant";
    EXPECT_LT(largestKb, 700 * 1024) << "largest renderer seen: " << largestKb / 1024 << " MiB";
    EXPECT_TRUE(lumira.waitForPixel(kSampleX, kSampleY, kGreen));
    EXPECT_TRUE(lumira.program.running());
}
