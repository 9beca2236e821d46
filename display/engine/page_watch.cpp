#include "display/engine/page_watch.h"

#include "platform/renderer_end.h"
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>

#include <cstdio>
#include <unistd.h>

namespace {
constexpr int kCheckMs = 1000;
constexpr int kCheckAboveLimitMs = 200;
constexpr int kLookupEveryChecks = 5; // frames come and go with the page, not every second

double seconds(const QElapsedTimer& clock) {
    return double(clock.elapsed()) / 1000.0;
}

} // namespace

PageWatch::PageWatch(QWebEnginePage* page, lumira::WatchLimits limits)
    : QObject(page), page_(page), health_(limits) {
    clock_.start();
    ticksPerSecond_ = ::sysconf(_SC_CLK_TCK);
    loadTimer_.setSingleShot(true);
    loadTimer_.setInterval(limits.loadTimeoutSeconds * 1000);
    checkTimer_.setInterval(kCheckMs);

    connect(page, &QWebEnginePage::loadingChanged, this, [this](const QWebEngineLoadingInfo& info) {
        if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus)
            loadStarted();
        else
            loadEnded();
    });
    connect(page, &QWebEnginePage::renderProcessTerminated, this, &PageWatch::rendererEnded);
    connect(&loadTimer_, &QTimer::timeout, this, [this] {
        page_->triggerAction(QWebEnginePage::Stop);
        emit pageFailed(QStringLiteral("load timeout"));
    });
    connect(&checkTimer_, &QTimer::timeout, this, &PageWatch::checkRenderer);
    if (lumira::platform::engineInSingleProcess()) {
        rendererWatched_ = false;
        std::fputs("lumira: the browser engine runs in a single process, so a frozen or "
                   "bloated page is not ended\n",
                   stderr);
    }
}

void PageWatch::loadStarted() {
    loadTimer_.start();
    lastCheck_ = seconds(clock_);
    health_.restart();
    ++generation_; // an answer to a ping of the page before does not count for this one
    if (rendererWatched_)
        checkTimer_.start();
}

void PageWatch::pageShown() {
    loadTimer_.stop();
}

void PageWatch::loadEnded() {
    loadTimer_.stop();
}

void PageWatch::rendererEnded() {
    loadTimer_.stop();
    checkTimer_.stop(); // until the retry starts the next load in a new renderer
}

std::pair<qint64, double> PageWatch::largestRenderer(qint64 pagePid) {
    if (pagePid != lastPid_ || ++checksSinceLookup_ >= kLookupEveryChecks) {
        helper_ = lumira::platform::executableOf(pagePid);
        renderers_ =
            helper_.isEmpty() ? std::vector<qint64>{} : lumira::platform::ourRenderers(helper_);
        checksSinceLookup_ = 0;
    }
    std::pair<qint64, double> largest{pagePid, lumira::platform::ownMemoryMiB(pagePid)};
    for (const qint64 pid : renderers_) {
        if (pid == pagePid)
            continue;
        if (const double own = lumira::platform::ownMemoryMiB(pid); own > largest.second)
            largest = {pid, own};
    }
    return largest;
}

void PageWatch::checkRenderer() {
    const qint64 pid = page_->renderProcessPid();
    if (pid <= 0)
        return;
    const double now = seconds(clock_);
    const long long ticks = lumira::platform::cpuTicks(pid);
    // Busy: more than half a core since the last check.
    const bool busy = pid == lastPid_ &&
                      double(ticks - lastTicks_) * 2 > double(ticksPerSecond_) * (now - lastCheck_);
    const auto [largestPid, largestMiB] = largestRenderer(pid);
    if (pid != lastPid_ && lastPid_ != 0) { // a new renderer for the same page
        health_.restart();
        ++generation_;
    }
    lastPid_ = pid;
    lastTicks_ = ticks;
    const double previousCheck = lastCheck_;
    lastCheck_ = now;
    if (health_.shouldPing(now, busy)) {
        health_.pinged(now, previousCheck);
        // The answer comes back on this thread once the renderer's main thread is free.
        page_->runJavaScript(QStringLiteral("0"),
                             [this, generation = generation_](const QVariant&) {
                                 if (generation == generation_)
                                     health_.answered();
                             });
    }
    const auto verdict = health_.check(now, largestMiB);
    checkTimer_.setInterval(health_.aboveLimit() ? kCheckAboveLimitMs : kCheckMs);
    if (verdict == lumira::RendererHealth::Verdict::Healthy)
        return;
    const bool hung = verdict == lumira::RendererHealth::Verdict::Hung;
    const qint64 victim = hung ? pid : largestPid;
    const QString why = hung ? QStringLiteral("hang") : QStringLiteral("memory");
    emit rendererEnding(why, victim == pid);
    if (victim == pid) {
        checkTimer_.stop();
        lumira::platform::endPageRenderer(pid); // the engine reports the renderer as killed
        return;
    }
    // A frame's renderer: the page itself reports nothing, so it is loaded again from here.
    health_.restart();
    if (lumira::platform::endRenderer(victim, helper_))
        emit pageFailed(QStringLiteral("frame renderer ") + why);
}
