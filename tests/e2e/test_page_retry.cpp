// Self-healing pages against a loopback web server of the test's own: failures are loaded
// again every five seconds, without a message, until the page loads.
#include "tests/e2e/lumira_under_test.h"
#include "tests/harness/http_server.h"
#include "tests/harness/process_tree.h"

#include <csignal>
#include <gtest/gtest.h>

using namespace e2e;

namespace {
constexpr uint32_t kGreen = 0x00ff00;

std::string iniFor(const QString& url) {
    return "[Main]\r\nURL=" + url.toStdString() + "\r\n";
}

std::vector<qint64> times(const harness::LoopbackHttpServer& server) {
    std::vector<qint64> at;
    for (const auto& request : server.requests())
        at.push_back(request.msSinceStart);
    return at;
}

} // namespace

TEST(PageRetry, failingStartAddressIsRequestedAgainEveryFiveSeconds) {
    harness::LoopbackHttpServer server;
    server.setResponse(500, "<html><body>broken</body></html>");
    LumiraUnderTest lumira;
    lumira.program.writeIni(iniFor(server.url(QStringLiteral("/sign"))));
    lumira.openDisplay();
    ASSERT_TRUE(harness::waitUntil([&] { return !server.requests().empty(); }, 15s));
    const qint64 first = server.requests().front().msSinceStart;
    harness::waitUntil([&] { return server.msSinceStart() - first >= 16000; }, 20s);

    const std::vector<qint64> at = times(server);
    EXPECT_TRUE(at.size() == 3 || at.size() == 4) << at.size() << " attempts in 16 s";
    for (size_t i = 1; i < at.size(); ++i)
        EXPECT_NEAR(double(at[i] - at[i - 1]), 5000.0, 500.0) << "between attempts " << i;
    for (const auto& request : server.requests())
        EXPECT_EQ(request.path, "/sign");
    EXPECT_EQ(lumira.count(kDisplay), 1u) << "a failure shows no message";
}

TEST(PageRetry, whenTheServerAnswersAgainThePageShowsAndRequestsStop) {
    harness::LoopbackHttpServer server;
    server.setResponse(503, "down");
    LumiraUnderTest lumira;
    lumira.program.writeIni(iniFor(server.url(QStringLiteral("/sign"))));
    lumira.openDisplay();
    ASSERT_TRUE(harness::waitUntil([&] { return server.requests().size() >= 2; }, 20s));
    server.setResponse(200, QByteArray::fromStdString(solidPage(kGreen)));
    ASSERT_TRUE(lumira.waitForPixel(200, 200, kGreen, 10s));
    const size_t settled = server.requests().size();
    harness::pumpEventsFor(6s);
    EXPECT_EQ(server.requests().size(), settled) << "a good page is not loaded again";
}

TEST(PageRetry, refusedPortIsTriedUntilTheServerComesUp) {
    harness::LoopbackHttpServer server;
    server.setResponse(200, QByteArray::fromStdString(solidPage(kGreen)));
    // Written as people type it into an address bar: no scheme.
    const QString url = QStringLiteral("127.0.0.1:%1/sign").arg(server.port());
    server.stop();
    LumiraUnderTest lumira;
    lumira.program.writeIni(iniFor(url));
    lumira.openDisplay();
    harness::pumpEventsFor(7s); // the first load and at least one retry meet a closed port
    ASSERT_TRUE(server.listenAgain());
    EXPECT_TRUE(lumira.waitForPixel(200, 200, kGreen, 7s)) << "the retry gave up";
    EXPECT_EQ(server.requests().back().path, "/sign");
    EXPECT_EQ(lumira.count(kDisplay), 1u);
}

TEST(PageRetry, killedRendererComesBackWithinSixSeconds) {
    SessionBus bus; // as in a desktop session, where the engine writes its titles joined by blanks
    harness::LoopbackHttpServer server;
    server.setResponse(200, QByteArray::fromStdString(solidPage(kGreen)));
    LumiraUnderTest lumira;
    lumira.program.writeIni(iniFor(server.url(QStringLiteral("/sign"))));
    lumira.openDisplay();
    ASSERT_TRUE(lumira.waitForPixel(200, 200, kGreen));
    const auto victims = harness::rendererProcesses(pid_t(lumira.program.pid()));
    ASSERT_FALSE(victims.empty()) << "no renderer process found";
    const size_t before = server.requests().size();
    const qint64 killedAt = server.msSinceStart();
    for (pid_t pid : victims)
        ::kill(pid, SIGKILL);
    ASSERT_TRUE(harness::waitUntil([&] { return server.requests().size() > before; }, 8s));
    EXPECT_LE(server.requests().back().msSinceStart - killedAt, 6000);
    EXPECT_TRUE(lumira.waitForPixel(200, 200, kGreen, 3s));
    EXPECT_TRUE(lumira.program.running());
}
