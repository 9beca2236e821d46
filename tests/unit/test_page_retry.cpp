// The page-error retry's cycle, driven by hand: a failure starts the wait, the wait's end
// loads the start-up address, Go cancels a pending retry.
#include "display/cover_state.h"
#include "display/page_retry.h"
#include "display/renderer_health.h"
#include "platform/renderer_end.h"
#include "tests/fakes/fake_browser.h"

#include <csignal>
#include <gtest/gtest.h>
#include <set>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Timer_err with a hand-driven clock: the test says when five seconds have passed.
class ManualSwitch final : public lumira::RetrySwitch {
public:
    void switchOn() override {
        on = true;
        ++starts;
    }
    void switchOff() override { on = false; }
    bool isOn() const override { return on; }
    bool on = false;
    int starts = 0;
};

struct Cycle {
    FakeBrowser browser;
    ManualSwitch timer;
    QString url = QStringLiteral("http://sign.local/start");
    lumira::PageRetry retry{browser, timer, url};

    Cycle() {
        QObject::connect(&browser, &Browser::NavigateError, [this] { retry.failed(); });
    }
    // The five seconds are over, as the timer would say when it is on.
    void elapse() {
        if (timer.on)
            retry.due();
    }
};

} // namespace

TEST(PageRetry, idleFailureStartsTheWaitAndItsEndLoadsTheStartAddress) {
    Cycle cycle;
    cycle.browser.fail();
    EXPECT_TRUE(cycle.timer.on);
    EXPECT_TRUE(cycle.browser.navigations.isEmpty()) << "nothing loads before the wait is over";
    cycle.elapse();
    EXPECT_EQ(cycle.browser.navigations, QStringList{cycle.url});
    EXPECT_FALSE(cycle.timer.on);
}

TEST(PageRetry, failureWhileWaitingKeepsTheRunningWait) {
    Cycle cycle;
    cycle.browser.fail();
    cycle.browser.fail();
    cycle.browser.fail();
    EXPECT_EQ(cycle.timer.starts, 1) << "a restarted wait would postpone the retry for good";
    cycle.elapse();
    EXPECT_EQ(cycle.browser.navigations.size(), 1);
}

TEST(PageRetry, keepsRetryingForAsLongAsFailuresGoOn) {
    Cycle cycle;
    for (int attempt = 1; attempt <= 50; ++attempt) {
        cycle.browser.fail();
        cycle.elapse();
        ASSERT_EQ(cycle.browser.navigations.size(), attempt);
    }
    cycle.elapse();
    EXPECT_EQ(cycle.browser.navigations.size(), 50) << "a load without failure ends the cycle";
}

TEST(PageRetry, failureReportedDuringTheRetrysOwnNavigationStartsTheNextWait) {
    Cycle cycle;
    cycle.browser.fail();
    cycle.browser.failDuringNavigate = true;
    cycle.elapse();
    EXPECT_TRUE(cycle.timer.on) << "the cycle stopped for good";
    cycle.elapse();
    EXPECT_EQ(cycle.browser.navigations.size(), 2);
}

TEST(PageRetry, goCancelsPendingRetrySoTheChosenPageStays) {
    Cycle cycle;
    cycle.browser.fail();
    cycle.retry.cancel();
    cycle.browser.Navigate(QStringLiteral("http://typed.local/"));
    cycle.elapse();
    EXPECT_EQ(cycle.browser.shown(), QStringLiteral("http://typed.local/"));
    EXPECT_FALSE(cycle.timer.on);
}

TEST(PageRetry, retryLoadsTheStartAddressEvenAfterTheUserWentElsewhere) {
    Cycle cycle;
    cycle.browser.Navigate(QStringLiteral("http://typed.local/broken"));
    cycle.browser.fail();
    cycle.elapse();
    EXPECT_EQ(cycle.browser.shown(), cycle.url);
}

TEST(RendererHealth, endsARendererWhosePingWaitsForTheHangTimeoutOrTooBigForTheGraceTime) {
    using Verdict = lumira::RendererHealth::Verdict;
    lumira::RendererHealth health({30, 15, 100, 10});
    health.restart();
    EXPECT_TRUE(health.shouldPing(1, false)) << "the first check of a page pings";
    health.pinged(1, 0);
    health.answered();
    EXPECT_FALSE(health.shouldPing(5, false)) << "an idle renderer is pinged every 10 s only";
    EXPECT_TRUE(health.shouldPing(11, false));
    EXPECT_TRUE(health.shouldPing(6, true)) << "a busy one at once";
    health.pinged(6, 5);
    EXPECT_FALSE(health.shouldPing(7, true)) << "one ping waits at a time";
    EXPECT_EQ(health.check(19, 50), Verdict::Healthy);
    EXPECT_EQ(health.check(20, 50), Verdict::Hung) << "silent since the check before the ping";
    health.answered();
    EXPECT_EQ(health.check(40, 50), Verdict::Healthy) << "no ping waits: nothing to judge";

    EXPECT_EQ(health.check(41, 150), Verdict::Healthy) << "over the limit only just now";
    EXPECT_EQ(health.check(45, 90), Verdict::Healthy);
    EXPECT_EQ(health.check(46, 150), Verdict::Healthy) << "dropping below restarts the grace";
    EXPECT_EQ(health.check(56, 150), Verdict::TooBig) << "10 s above the limit";
    health.restart();
    EXPECT_EQ(health.check(61, 150), Verdict::Healthy) << "a new renderer starts afresh";
    EXPECT_TRUE(health.aboveLimit()) << "checked more often from now on";
    EXPECT_EQ(health.check(61.2, 201), Verdict::TooBig) << "past twice the limit: no grace";
    health.restart();
    EXPECT_EQ(health.check(62, 200), Verdict::Healthy) << "twice the limit itself is not past it";
    EXPECT_EQ(health.check(63, 99), Verdict::Healthy);
    EXPECT_FALSE(health.aboveLimit());
}

// What lies over the view: black before the first paint, the view once the load's own
// document has painted and been drawn, the last good frame after a failure, the offline
// picture once that frame is stale, black in dark hours.
TEST(CoverState, onlyAPaintedPageOfTheCurrentLoadShows) {
    using Face = lumira::CoverState::Face;
    lumira::CoverState cover(60);
    EXPECT_EQ(cover.face(0), Face::Black) << "start-up";
    cover.loadStarted();
    EXPECT_TRUE(cover.waitsForPaint(0.1));
    cover.painted(0.2, false);
    cover.viewRendered(0.3);
    EXPECT_EQ(cover.face(0.3), Face::Black) << "a mark of the document the load replaces";
    cover.painted(0.4, true);
    EXPECT_EQ(cover.face(0.45), Face::Black) << "painted, not yet drawn by the view, not loaded";
    cover.viewRendered(0.5);
    EXPECT_EQ(cover.face(0.5), Face::Black) << "no failure report could have come yet";
    cover.loadSucceeded();
    EXPECT_EQ(cover.face(0.5), Face::Page);
    EXPECT_FALSE(cover.waitsForPaint(0.5));

    cover.frameTaken(1);
    cover.loadStarted(); // a reload: the frame stays until the new document is on screen
    EXPECT_EQ(cover.face(2), Face::KeptFrame);
    cover.loadSucceeded();
    cover.painted(2.1, false); // same document (a fragment), certain once loaded
    EXPECT_EQ(cover.face(2.2), Face::KeptFrame) << "not drawn yet";
    EXPECT_EQ(cover.face(3.2), Face::Page) << "a static page draws nothing more: a second will do";

    cover.failed();
    EXPECT_EQ(cover.face(4), Face::KeptFrame);
    cover.loadStarted();
    cover.painted(5, true);
    cover.viewRendered(5.1);
    EXPECT_EQ(cover.face(5.5), Face::KeptFrame) << "an error status may still come";
    cover.failed();
    cover.loadStarted(); // a new renderer after the failure: its view draws empty frames first
    cover.loadSucceeded();
    cover.painted(10, true, true);
    cover.viewRendered(10.1);
    EXPECT_EQ(cover.face(11.9), Face::KeptFrame) << "a new view's drawing proves nothing";
    EXPECT_EQ(cover.face(12), Face::Page);
    cover.failed();
    EXPECT_EQ(cover.face(60.9), Face::KeptFrame);
    EXPECT_EQ(cover.face(61), Face::Offline) << "stale after a minute";

    cover.setDark(true);
    EXPECT_EQ(cover.face(62), Face::Black);
    cover.loadStarted(); // the page is unloaded in the dark
    cover.loadSucceeded();
    cover.painted(62.1, true);
    cover.viewRendered(62.2);
    EXPECT_EQ(cover.face(63), Face::Black);
    cover.setDark(false);
    EXPECT_FALSE(cover.hasFrame());
    EXPECT_EQ(cover.face(64), Face::Black) << "as at start, without the dark frame";
    cover.failed();
    EXPECT_EQ(cover.face(65), Face::Offline) << "a page that fails with nothing kept";
}

// The watch signals a renderer of its own and nothing else: not the program, not another
// child that merely lives under it, not a child of another executable that calls itself a
// renderer. The engine may write a process's title as one string joined by blanks.
TEST(RendererEnd, endsOnlyARendererStartedByTheProgram) {
    const auto child = [](const char* program, const char* title, const char* type) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::execl(program, title, "-c", "sleep 30; true", type, nullptr);
            ::_exit(127);
        }
        return pid;
    };
    const auto alive = [](pid_t pid) { return ::waitpid(pid, nullptr, WNOHANG) == 0; };
    const pid_t named = child("/bin/sh", "sh", "--type=renderer");
    const pid_t joined = child("/bin/sh", "/x/helper --type=renderer --lang=zh-CN", nullptr);
    const pid_t utility = child("/bin/sh", "sh", "--type=utility");
    const pid_t stranger = child("/bin/bash", "bash --type=renderer", nullptr);
    ::usleep(200000); // all have started their command
    const QByteArray helper = lumira::platform::executableOf(named);
    ASSERT_FALSE(helper.isEmpty());
    EXPECT_FALSE(lumira::platform::endRenderer(::getpid(), helper));
    EXPECT_FALSE(lumira::platform::endPageRenderer(::getpid()));
    EXPECT_FALSE(lumira::platform::endRenderer(1, helper));
    EXPECT_FALSE(lumira::platform::endRenderer(named, {})) << "no helper known: nothing ended";
    for (const pid_t spared : {utility, stranger}) {
        EXPECT_FALSE(lumira::platform::endRenderer(spared, helper));
        EXPECT_TRUE(alive(spared)) << "a child that is no renderer of the helper was signalled";
    }
    const auto renderers = lumira::platform::ourRenderers(helper);
    EXPECT_EQ(std::set<qint64>(renderers.begin(), renderers.end()),
              (std::set<qint64>{named, joined}));
    for (const pid_t renderer : {named, joined}) {
        EXPECT_TRUE(lumira::platform::endRenderer(renderer, helper));
        int status = 0;
        EXPECT_EQ(::waitpid(renderer, &status, 0), renderer);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    }
    // The page's own renderer is the one the engine names, whatever its title says.
    EXPECT_TRUE(lumira::platform::endPageRenderer(utility));
    for (const pid_t left : {utility, stranger}) {
        ::kill(left, SIGKILL);
        ::waitpid(left, nullptr, 0);
    }
}
