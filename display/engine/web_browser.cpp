#include "display/engine/web_browser.h"

#include "common/address.h"
#include "common/program_folder.h"
#include "display/engine/contained_page.h"
#include "display/engine/page_cover.h"
#include "display/engine/page_watch.h"
#include "display/engine_choice.h"

#include <QTimer>
#include <QWebEngineHistory>
#include <QWebEngineLoadingInfo>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <cstdio>
#include <utility>

namespace {
constexpr int kAbortedByNewNavigation = -3; // the engine's net::ERR_ABORTED

} // namespace

WebBrowser::WebBrowser(QWidget* host, lumira::TwipsFactors factors, lumira::WatchLimits limits,
                       const lumira::CoverOptions& cover)
    : Browser(host), view_(new QWebEngineView(host)), factors_(factors) {
    auto* page = new ContainedPage(view_);
    // The cover keeps failures off the screen; no error page is drawn under it either.
    page->settings()->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
    view_->setPage(page);
    view_->setContextMenuPolicy(Qt::NoContextMenu);
    view_->move(0, 0);
    cover_ = new PageCover(view_, cover);
    connect(page, &QWebEnginePage::loadingChanged, this, &WebBrowser::onLoadingChanged);
    connect(page, &QWebEnginePage::renderProcessTerminated, this, &WebBrowser::onRendererEnded);
    connect(this, &Browser::NavigateError, cover_, &PageCover::failed);
    auto* watch = new PageWatch(page, limits);
    connect(watch, &PageWatch::pageFailed, this, &WebBrowser::fail);
    connect(watch, &PageWatch::rendererEnding, cover_, &PageCover::keepFrame);
    connect(watch, &PageWatch::rendererEnding, this, &WebBrowser::watchEndsRenderer);
    connect(cover_, &PageCover::shown, watch, &PageWatch::pageShown);
    connect(cover_, &PageCover::shown, this, &Browser::pageShown);
    std::fprintf(stderr, "lumira: the page is shown by %s, since %s\n", qUtf8Printable(engine()),
                 lumira::chosenEngine().reason.c_str());
}

void WebBrowser::Navigate(const QString& address) {
    if (address.isEmpty())
        return;
    const QUrl url = lumira::addressToUrl(address, lumira::programFolder());
    if (!url.isValid()) {
        // Reported like any failed load, after the call has returned.
        QTimer::singleShot(0, this, [this] { fail(QStringLiteral("invalid address")); });
        return;
    }
    view_->load(url);
}

bool WebBrowser::GoBack() {
    if (!view_->history()->canGoBack())
        return false;
    view_->back();
    return true;
}

bool WebBrowser::GoForward() {
    if (!view_->history()->canGoForward())
        return false;
    view_->forward();
    return true;
}

void WebBrowser::Stop() {
    view_->stop();
}

void WebBrowser::setDark(bool dark) {
    cover_->setDark(dark);
    if (dark)
        view_->setUrl(QUrl(QStringLiteral("about:blank")));
}

void WebBrowser::setWidth(float twips) {
    view_->resize(std::max(0, lumira::toPixels(twips, factors_.x)), view_->height());
}

void WebBrowser::setHeight(float twips) {
    view_->resize(view_->width(), std::max(0, lumira::toPixels(twips, factors_.y)));
}

float WebBrowser::Width() const {
    return float(view_->width()) * factors_.x;
}

float WebBrowser::Height() const {
    return float(view_->height()) * factors_.y;
}

QString WebBrowser::engine() const {
    return QStringLiteral("Qt WebEngine %1 (Chromium %2)")
        .arg(QLatin1String(qWebEngineVersion()), QLatin1String(qWebEngineChromiumVersion()));
}

void WebBrowser::onLoadingChanged(const QWebEngineLoadingInfo& info) {
    const bool httpError = info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain &&
                           info.errorCode() >= 400;
    if (info.status() != QWebEngineLoadingInfo::LoadFailedStatus && !httpError)
        return;
    if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus)
        return;
    // A load replaced by a newer one has not failed.
    if (info.errorDomain() == QWebEngineLoadingInfo::InternalErrorDomain &&
        info.errorCode() == kAbortedByNewNavigation)
        return;
    if (httpError)
        fail(QStringLiteral("HTTP %1").arg(info.errorCode()));
    else if (!info.errorString().isEmpty())
        fail(info.errorString());
    else
        fail(QStringLiteral("error %1").arg(info.errorCode()));
}

void WebBrowser::onRendererEnded(QWebEnginePage::RenderProcessTerminationStatus status) {
    const QString why = std::exchange(endingWhy_, QString());
    if (status == QWebEnginePage::NormalTerminationStatus)
        return;
    if (why.isEmpty()) // the watch did not end it: it crashed or something else killed it
        emit rendererRestarted(QStringLiteral("crash"));
    fail(why.isEmpty() ? QStringLiteral("renderer crashed") : QStringLiteral("renderer ") + why);
}

void WebBrowser::watchEndsRenderer(const QString& why, bool mainFrame) {
    emit rendererRestarted(why);
    if (mainFrame)
        endingWhy_ = why;
}

void WebBrowser::fail(const QString& reason) {
    emit failureNoted(reason);
    emit NavigateError();
}
