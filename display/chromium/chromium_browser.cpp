#include "display/chromium/chromium_browser.h"

#include "common/address.h"
#include "common/program_folder.h"
#include "display/chromium/chromium_process.h"
#include "display/chromium/devtools_client.h"
#include "display/chromium/failure_reason.h"
#include "display/chromium/host_cover.h"
#include "display/chromium/page_window.h"
#include "display/chromium/profile_lock.h"
#include "display/chromium/sign_flags.h"
#include "display/cover_face.h"
#include "display/engine_choice.h"
#include "display/engine_setup.h"
#include "platform/renderer_end.h"

#include <QDateTime>
#include <QJsonArray>
#include <QPixmap>
#include <QScreen>
#include <QWidget>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace lumira::chromium {

namespace {
constexpr int kRefreshMs = 40;
constexpr int kStaleCheckMs = 1000;
constexpr int kFirstFrameMs = 300;   // a picture of the page once it shows
constexpr int kFrameEveryMs = 45000; // and now and then, for the ends nobody announces
constexpr int kCheckMs = 1000;
constexpr int kViewDrawnMs = 50; // a painted frame reaches the window within three frames
constexpr int kUpgradeCheckMs = 10 * 60 * 1000;
constexpr int kUpgradeRestartMs = 24 * 60 * 60 * 1000;
constexpr int kFrameEndWaitMs = 2000; // a renderer ended for memory that was not the page's
constexpr int kLongestBackOffSeconds = 60;
constexpr int kStartDocumentWaitMs = 2000;
constexpr int kLookupEveryChecks = 5;    // while a load settles
constexpr int kLookupRestingChecks = 30; // later
constexpr double kLookupBusySeconds = 15;

// Inode and modification time of a file: a package upgrade replaces the executable by another.
qint64 fileIdentity(const QByteArray& path) {
    struct stat facts {};
    if (::stat(path.constData(), &facts) != 0)
        return 0;
    return qint64(facts.st_ino) * 1000003 + qint64(facts.st_mtim.tv_sec);
}

const QByteArray& executable() {
    static const QByteArray path = QByteArray::fromStdString(chosenEngine().chromium);
    return path;
}

const QString kBlank = QStringLiteral("about:blank");
} // namespace

ChromiumBrowser::ChromiumBrowser(QWidget* host, TwipsFactors factors, WatchLimits limits,
                                 const CoverOptions& cover)
    : Browser(host), host_(host), factors_(factors), limits_(limits),
      process_(new ChromiumProcess(this)), client_(new DevToolsClient(*process_, this)),
      window_(new PageWindow(this)), state_(cover.staleAfterMinutes * 60.0), health_(limits),
      offline_(offlinePicture(cover.offlinePage)), staleWatch_(cover.staleAfterMinutes > 0) {
    clock_.start();
    hostCover_ = new HostCover(host, offline_);
    hostCover_->setGeometry(0, 0, 0, 0);
    frameTimer_.setSingleShot(true);
    checkTimer_.setInterval(kCheckMs);
    loadTimer_.setSingleShot(true);
    loadTimer_.setInterval(limits.loadTimeoutSeconds * 1000);
    restartTimer_.setSingleShot(true);
    upgradeTimer_.setSingleShot(true);
    upgradeTimer_.setInterval(kUpgradeRestartMs);
    auto* upgradeCheck = new QTimer(this);
    upgradeCheck->start(kUpgradeCheckMs);

    connect(process_, &ChromiumProcess::ended, this, &ChromiumBrowser::chromiumEnded);
    connect(client_, &DevToolsClient::event, this, &ChromiumBrowser::onEvent);
    connect(window_, &PageWindow::found, this, [this](quint32 window) {
        emit pageWindowChanged(window);
        refresh();
    });
    connect(&refreshTimer_, &QTimer::timeout, this, &ChromiumBrowser::refresh);
    connect(&frameTimer_, &QTimer::timeout, this, [this] {
        keepFrame();
        frameTimer_.start(kFrameEveryMs);
    });
    connect(&checkTimer_, &QTimer::timeout, this, &ChromiumBrowser::checkRenderers);
    connect(&loadTimer_, &QTimer::timeout, this, [this] {
        Stop();
        fail(QStringLiteral("load timeout"));
    });
    connect(&restartTimer_, &QTimer::timeout, this, &ChromiumBrowser::startChromium);
    connect(&upgradeTimer_, &QTimer::timeout, this, [this] { go(current_); });
    connect(upgradeCheck, &QTimer::timeout, this, &ChromiumBrowser::checkUpgrade);
    // Started from the event loop, once the display window has its place.
    QTimer::singleShot(0, this, &ChromiumBrowser::startChromium);
    refresh();
}

ChromiumBrowser::~ChromiumBrowser() {
    delete window_;  // the cover goes before Chromium's window
    delete process_; // ends Chromium and every process it started
}

void ChromiumBrowser::startChromium() {
    const QString profile = profileFolder(programFolder());
    if (profile.isEmpty() || !clearStaleProfileLock(profile)) {
        std::fprintf(stderr, "lumira: Chromium's profile folder %s is in use or cannot be made\n",
                     qUtf8Printable(profile));
        chromiumEnded(QStringLiteral("profile in use"));
        return;
    }
    preparePreferences(profile);
    const QRect place(host_->mapToGlobal(QPoint(0, 0)), size_);
    if (!process_->start(executable(),
                         signArguments(profile, place, ::geteuid() == 0, pagesDrawnInSoftware()))) {
        chromiumEnded(QStringLiteral("not started"));
        return;
    }
    executableId_ = fileIdentity(executable());
    upgraded_ = false;
    window_->lookFor(process_->pid());
    client_->call(QStringLiteral("Browser.getVersion"), {}, {},
                  [this](const QJsonObject& result, const QString&) {
                      version_ = result.value("product").toString().replace(
                          QLatin1String("Chrome/"), QLatin1String("Chromium "));
                      if (std::exchange(restartedForUpgrade_, false)) {
                          lastDeed_ = QStringLiteral("restarted after its upgrade at ") +
                                      QTime::currentTime().toString(QStringLiteral("HH:mm"));
                          std::fprintf(stderr, "lumira: Chromium restarted after its upgrade: %s\n",
                                       qUtf8Printable(version_));
                      }
                      if (std::exchange(toldVersion_, true))
                          return;
                      std::fprintf(stderr, "lumira: the page is shown by %s, since %s\n",
                                   qUtf8Printable(version_), chosenEngine().reason.c_str());
                  });
    client_->call(QStringLiteral("Browser.setDownloadBehavior"), {{"behavior", "deny"}});
    client_->call(QStringLiteral("Target.setDiscoverTargets"), {{"discover", true}});
}

void ChromiumBrowser::forgetChromium() {
    ready_ = false;
    session_.clear();
    mainFrame_.clear();
    startLoader_.clear();
    startLoaded_.clear();
    client_->forgetReplies();
    window_->forget();
    emit pageWindowChanged(0);
    checkTimer_.stop();
}

void ChromiumBrowser::chromiumEnded(const QString& how) {
    forgetChromium();
    const int delay = std::min(kLongestBackOffSeconds, 1 << std::min(restarts_, 6));
    ++restarts_;
    std::fprintf(stderr, "lumira: Chromium ended (%s); it is started again in %d s\n",
                 qUtf8Printable(how), delay);
    lastDeed_ = QStringLiteral("ended (%1) at %2, started again")
                    .arg(how, QTime::currentTime().toString(QStringLiteral("HH:mm")));
    restartTimer_.start(delay * 1000);
    if (dark_)
        return;
    pending_ = current_;
    emit rendererRestarted(QStringLiteral("crash"));
    fail(QStringLiteral("browser ended"));
}

void ChromiumBrowser::attach(const QString& targetId) {
    mainFrame_ = targetId;
    client_->call(QStringLiteral("Target.attachToTarget"),
                  {{"targetId", targetId}, {"flatten", true}}, {},
                  [this](const QJsonObject& result, const QString&) {
                      session_ = result.value("sessionId").toString();
                      if (!session_.isEmpty())
                          attached();
                  });
}

void ChromiumBrowser::attached() {
    for (const char* domain : {"Page.enable", "Network.enable", "Inspector.enable"})
        client_->call(QLatin1String(domain), {}, session_);
    client_->call(QStringLiteral("Page.setLifecycleEventsEnabled"), {{"enabled", true}}, session_);
    // In a world of the program's own: the page cannot take the listener away.
    client_->call(QStringLiteral("Page.addScriptToEvaluateOnNewDocument"),
                  {{"source", "addEventListener('contextmenu', e => e.preventDefault(), true)"},
                   {"worldName", "lumira"}},
                  session_);
    // Chromium lets a script close a window whose history holds one entry, and would then end;
    // a load sent before the start document has loaded may take its entry over. So the start
    // document is loaded again, and the sign's page goes in once that load is done.
    client_->call(QStringLiteral("Page.navigate"), {{"url", kStartDocument}}, session_,
                  [this](const QJsonObject& result, const QString& error) {
                      startLoader_ = result.value("loaderId").toString();
                      if (!error.isEmpty() || startLoader_ == startLoaded_)
                          startDocumentShown();
                  });
    QTimer::singleShot(kStartDocumentWaitMs, this, [this, session = session_] {
        if (session == session_)
            startDocumentShown(); // in case its load went unseen
    });
}

void ChromiumBrowser::startDocumentShown() {
    if (std::exchange(ready_, true))
        return;
    if (dark_)
        client_->call(QStringLiteral("Page.navigate"), {{"url", kBlank}}, session_);
    else if (pending_.isValid())
        go(std::exchange(pending_, QUrl()));
}

void ChromiumBrowser::onEvent(const QString& method, const QJsonObject& params,
                              const QString& session) {
    if (session.isEmpty()) {
        const QJsonObject target = params.value("targetInfo").toObject();
        // The sign's page is the first one; a popup the page asks for never gets a window.
        if (method == QLatin1String("Target.targetCreated") && mainFrame_.isEmpty() &&
            target.value("type").toString() == QLatin1String("page"))
            attach(target.value("targetId").toString());
        else if (method == QLatin1String("Target.targetDestroyed") &&
                 params.value("targetId").toString() == mainFrame_ && ready_) {
            process_->end(0); // the sign's page is gone: Chromium starts again
            chromiumEnded(QStringLiteral("page closed"));
        }
        return;
    }
    if (session != session_)
        return;
    if (method == QLatin1String("Network.requestWillBeSent")) {
        onDocumentRequested(params);
    } else if (method == QLatin1String("Network.responseReceived")) {
        if (params.value("requestId").toString() == loader_)
            failLoad(loader_,
                     statusFailure(params.value("response").toObject().value("status").toInt()));
    } else if (method == QLatin1String("Network.loadingFailed")) {
        if (params.value("requestId").toString() == loader_)
            failLoad(loader_, loadingFailure(params.value("errorText").toString(),
                                             params.value("canceled").toBool()));
    } else if (method == QLatin1String("Page.lifecycleEvent")) {
        onLifecycle(params);
    } else if (method == QLatin1String("Inspector.targetCrashed")) {
        onCrashed();
    } else if (method == QLatin1String("Page.javascriptDialogOpening")) {
        client_->call(QStringLiteral("Page.handleJavaScriptDialog"), {{"accept", false}}, session_);
    } else if (method == QLatin1String("Page.frameNavigated") ||
               method == QLatin1String("Page.navigatedWithinDocument")) {
        readHistory();
    }
}

void ChromiumBrowser::onDocumentRequested(const QJsonObject& params) {
    if (params.value("type").toString() != QLatin1String("Document") ||
        params.value("frameId").toString() != mainFrame_ || !ready_)
        return;
    const QString request = params.value("requestId").toString();
    if (request == loader_)
        return; // a redirect of the same load
    loader_ = request;
    loadStarted();
}

void ChromiumBrowser::onLifecycle(const QJsonObject& params) {
    if (params.value("frameId").toString() != mainFrame_)
        return;
    const QString loader = params.value("loaderId").toString();
    const QString name = params.value("name").toString();
    if (!ready_) { // the start document's: no load of the sign's
        if (name == QLatin1String("load") && loader == startLoader_)
            startDocumentShown();
        else if (name == QLatin1String("load"))
            startLoaded_ = loader; // before Chromium has told which load is the start document's
        return;
    }
    if (loader == startLoader_)
        return;
    if (name == QLatin1String("init") && loader != loader_) {
        loader_ = loader; // a document that made no request of its own
        loadStarted();
        return;
    }
    if (loader != loader_ || loader == failedLoader_)
        return;
    if (name == QLatin1String("load")) {
        state_.loadSucceeded();
        if (!painted_) {
            // A page that paints nothing at all: two animation frames after its load, it is
            // as painted as it will be.
            client_->call(QStringLiteral("Runtime.evaluate"),
                          {{"expression", "new Promise(r => requestAnimationFrame(() => "
                                          "requestAnimationFrame(() => r(0))))"},
                           {"awaitPromise", true}},
                          session_, [this, loader](const QJsonObject&, const QString& error) {
                              if (error.isEmpty() && loader == loader_ && !painted_) {
                                  painted_ = true;
                                  state_.painted(now(), true);
                                  state_.viewRendered(now());
                                  refresh();
                              }
                          });
        }
    } else if ((name == QLatin1String("firstPaint") ||
                name == QLatin1String("firstContentfulPaint")) &&
               !painted_) {
        painted_ = true;
        state_.painted(now(), true);
        QTimer::singleShot(kViewDrawnMs, this, [this, loader] {
            if (loader == loader_) {
                state_.viewRendered(now());
                refresh();
            }
        });
    }
    refresh();
}

void ChromiumBrowser::onCrashed() {
    checkTimer_.stop();
    const QString why = std::exchange(endingWhy_, QString());
    if (why.isEmpty()) // the watch did not end it: it crashed or something else killed it
        emit rendererRestarted(QStringLiteral("crash"));
    fail(why.isEmpty() ? QStringLiteral("renderer crashed") : QStringLiteral("renderer ") + why);
}

void ChromiumBrowser::Navigate(const QString& address) {
    if (address.isEmpty())
        return;
    const QUrl url = addressToUrl(address, programFolder());
    if (!url.isValid()) {
        // Reported like any failed load, after the call has returned.
        QTimer::singleShot(0, this, [this] { fail(QStringLiteral("invalid address")); });
        return;
    }
    go(url);
}

void ChromiumBrowser::go(const QUrl& url) {
    current_ = url;
    checkUpgrade();
    if (upgraded_ && ready_) {
        // A new Chromium on disk: it takes over behind the last good frame.
        restartedForUpgrade_ = true;
        loadStarted();
        process_->end(kFrameEndWaitMs);
        restarts_ = 0;
        forgetChromium();
        emit rendererRestarted(QStringLiteral("upgrade"));
        upgradeTimer_.stop();
        pending_ = url;
        startChromium();
        return;
    }
    loadStarted();
    if (!ready_) {
        pending_ = url;
        return;
    }
    client_->call(QStringLiteral("Page.navigate"), {{"url", url.toString(QUrl::FullyEncoded)}},
                  session_, [this](const QJsonObject& result, const QString& error) {
                      const QString reason =
                          error.isEmpty() ? navigateFailure(result.value("errorText").toString())
                                          : error;
                      if (!reason.isEmpty())
                          failLoad(result.value("loaderId").toString(loader_), reason);
                  });
}

bool ChromiumBrowser::GoBack() {
    if (historyIndex_ <= 0)
        return false;
    historyStep(-1);
    return true;
}

bool ChromiumBrowser::GoForward() {
    if (historyIndex_ + 1 >= historyEntries_.size())
        return false;
    historyStep(1);
    return true;
}

void ChromiumBrowser::historyStep(int step) {
    historyIndex_ += step;
    client_->call(QStringLiteral("Page.navigateToHistoryEntry"),
                  {{"entryId", historyEntries_.value(historyIndex_)}}, session_);
}

void ChromiumBrowser::readHistory() {
    client_->call(QStringLiteral("Page.getNavigationHistory"), {}, session_,
                  [this](const QJsonObject& result, const QString& error) {
                      if (!error.isEmpty())
                          return;
                      // The empty document Chromium starts with is no page to go back to.
                      historyEntries_.clear();
                      const QJsonArray entries = result.value("entries").toArray();
                      const int current = result.value("currentIndex").toInt();
                      historyIndex_ = 0;
                      for (int i = 0; i < entries.size(); ++i) {
                          const QJsonObject entry = entries.at(i).toObject();
                          const QString url = entry.value("url").toString();
                          if (url.isEmpty() || url == kBlank ||
                              url == QLatin1String(kStartDocument))
                              continue;
                          if (i <= current)
                              historyIndex_ = int(historyEntries_.size());
                          historyEntries_.append(entry.value("id").toInt());
                      }
                  });
}

void ChromiumBrowser::Stop() {
    if (ready_)
        client_->call(QStringLiteral("Page.stopLoading"), {}, session_);
    state_.loadSucceeded(); // what has come of the load is left to show once it has painted
    loadTimer_.stop();
}

void ChromiumBrowser::setDark(bool dark) {
    dark_ = dark;
    state_.setDark(dark);
    frame_ = QImage();
    if (dark) {
        loadTimer_.stop();
        checkTimer_.stop();
        pending_ = QUrl();
        if (ready_)
            client_->call(QStringLiteral("Page.navigate"), {{"url", kBlank}}, session_);
    }
    refresh();
}

void ChromiumBrowser::setWidth(float twips) {
    size_.setWidth(std::max(0, toPixels(twips, factors_.x)));
    hostCover_->resize(size_);
}

void ChromiumBrowser::setHeight(float twips) {
    size_.setHeight(std::max(0, toPixels(twips, factors_.y)));
    hostCover_->resize(size_);
}

float ChromiumBrowser::Width() const {
    return float(size_.width()) * factors_.x;
}

float ChromiumBrowser::Height() const {
    return float(size_.height()) * factors_.y;
}

QString ChromiumBrowser::engine() const {
    return lastDeed_.isEmpty() ? version_ : version_ + QStringLiteral(", ") + lastDeed_;
}

void ChromiumBrowser::failLoad(const QString& loader, const QString& reason) {
    if (reason.isEmpty() || (loader == failedLoader_ && !loader.isEmpty()))
        return;
    failedLoader_ = loader;
    fail(reason);
}

void ChromiumBrowser::fail(const QString& reason) {
    loadTimer_.stop();
    state_.failed();
    refresh();
    emit failureNoted(reason);
    emit NavigateError();
}

void ChromiumBrowser::loadStarted() {
    keepFrame(); // the page that showed until now, before the load replaces it
    state_.loadStarted();
    shownReported_ = false;
    painted_ = false;
    loadTimer_.start();
    loadAt_ = now();
    health_.restart();
    ++pingGeneration_;
    if (ready_)
        checkTimer_.start();
    refresh();
}

void ChromiumBrowser::refresh() {
    const double at = now();
    const CoverState::Face face = state_.face(at);
    // Often while a load waits for its paint; once a second while a kept frame may go stale.
    const bool waiting = state_.waitsForPaint(at);
    if (waiting || (face == CoverState::Face::KeptFrame && staleWatch_)) {
        const int interval = waiting ? kRefreshMs : kStaleCheckMs;
        if (!refreshTimer_.isActive() || refreshTimer_.interval() != interval)
            refreshTimer_.start(interval);
    } else {
        refreshTimer_.stop();
    }
    hostCover_->show(face, frame_);
    if (face == CoverState::Face::Page) {
        if (window_->covered())
            window_->uncover();
        if (!shownReported_) {
            shownReported_ = true;
            restarts_ = 0;
            loadTimer_.stop();
            frameTimer_.start(kFirstFrameMs);
            emit pageShown();
        }
        return;
    }
    frameTimer_.stop();
    if (face != face_ || !window_->covered())
        window_->cover(coverPicture(face));
    face_ = face;
}

QImage ChromiumBrowser::coverPicture(CoverState::Face face) const {
    if (face == CoverState::Face::KeptFrame)
        return frame_;
    if (face == CoverState::Face::Offline && !offline_.isNull())
        return offline_.scaled(window_->size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return {};
}

void ChromiumBrowser::keepFrame() {
    if (!state_.pageShown(now()) || window_->window() == XCB_NONE || window_->covered())
        return;
    QImage picture = window_->picture();
    if (picture.isNull()) {
        QScreen* screen = host_->screen();
        picture = screen ? screen->grabWindow(window_->window()).toImage() : QImage();
    }
    if (picture.isNull())
        return;
    frame_ = picture.convertToFormat(QImage::Format_RGB32);
    state_.frameTaken(now());
}

void ChromiumBrowser::checkRenderers() {
    if (!ready_ || dark_)
        return;
    const double at = now();
    // Renderers come and go with loads; a sign at rest keeps its own, and walking Chromium's
    // processes (and all their threads) is most of what the watch costs.
    const int every = at - loadAt_ < kLookupBusySeconds ? kLookupEveryChecks : kLookupRestingChecks;
    if (++sinceLookup_ >= every) {
        renderers_ = platform::ourRenderers(executable());
        sinceLookup_ = 0;
    }
    long long ticks = 0;
    qint64 largest = 0;
    double largestMiB = 0;
    for (const qint64 pid : renderers_) {
        ticks += platform::cpuTicks(pid);
        if (const double own = platform::ownMemoryMiB(pid); own > largestMiB) {
            largest = pid;
            largestMiB = own;
        }
    }
    const double cpu = double(ticks) / double(::sysconf(_SC_CLK_TCK));
    // Busy: more than half a core since the last check.
    const bool busy = lastCpu_ >= 0 && (cpu - lastCpu_) * 2 > at - lastCheck_;
    const double previousCheck = lastCheck_;
    lastCpu_ = cpu;
    lastCheck_ = at;
    if (health_.shouldPing(at, busy)) {
        health_.pinged(at, previousCheck);
        client_->call(QStringLiteral("Runtime.evaluate"), {{"expression", "0"}}, session_,
                      [this, generation = pingGeneration_](const QJsonObject&, const QString&) {
                          if (generation == pingGeneration_)
                              health_.answered();
                      });
    }
    const auto verdict = health_.check(at, largestMiB);
    if (verdict == RendererHealth::Verdict::Healthy)
        return;
    health_.restart();
    ++pingGeneration_;
    renderers_ = platform::ourRenderers(executable()); // as they are now, to end the right ones
    sinceLookup_ = 0;
    if (verdict == RendererHealth::Verdict::Hung) {
        // The page's renderer does not answer: every renderer of the page is ended, and
        // Chromium reports the page's own as crashed.
        endingWhy_ = QStringLiteral("hang");
        emit rendererRestarted(endingWhy_);
        for (const qint64 pid : renderers_)
            platform::endRenderer(pid, executable());
        return;
    }
    endingWhy_ = QStringLiteral("memory");
    emit rendererRestarted(endingWhy_);
    if (!platform::endRenderer(largest, executable()))
        return;
    // Not the page's own renderer but a frame's: the page is loaded again from here.
    QTimer::singleShot(kFrameEndWaitMs, this, [this] {
        if (endingWhy_ == QLatin1String("memory")) {
            endingWhy_.clear();
            fail(QStringLiteral("frame renderer memory"));
        }
    });
}

void ChromiumBrowser::checkUpgrade() {
    if (upgraded_ || !process_->running() || fileIdentity(executable()) == executableId_)
        return;
    upgraded_ = true;
    upgradeTimer_.start();
    lastDeed_ = QStringLiteral("upgraded on disk, restarted at the next reload or by ") +
                QDateTime::currentDateTime()
                    .addMSecs(kUpgradeRestartMs)
                    .toString(QStringLiteral("yyyy-MM-dd HH:mm"));
    std::fprintf(stderr,
                 "lumira: Chromium was upgraded on disk; %s is started again behind the last "
                 "frame at the next reload, within 24 hours\n",
                 qUtf8Printable(version_));
}

} // namespace lumira::chromium
