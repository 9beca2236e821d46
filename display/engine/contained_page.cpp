#include "display/engine/contained_page.h"

#include <QWebEngineDownloadRequest>
#include <QWebEngineFileSystemAccessRequest>
#include <QWebEngineFullScreenRequest>
#include <QWebEngineProfile>
#include <QWebEngineQuotaRequest>
#include <QWebEngineRegisterProtocolHandlerRequest>

namespace {
// Downloads are cancelled for every page of the profile; connected once per profile.
void refuseDownloads(QWebEngineProfile* profile) {
    static QWebEngineProfile* done = nullptr;
    if (done == profile)
        return;
    done = profile;
    QObject::connect(profile, &QWebEngineProfile::downloadRequested, profile,
                     [](QWebEngineDownloadRequest* download) { download->cancel(); });
}
} // namespace

ContainedPage::ContainedPage(QObject* parent) : QWebEnginePage(parent) {
    refuseDownloads(profile());
    connect(this, &QWebEnginePage::featurePermissionRequested, this,
            &ContainedPage::denyPermission);
    connect(this, &QWebEnginePage::fullScreenRequested, this,
            [](QWebEngineFullScreenRequest request) { request.reject(); });
    connect(this, &QWebEnginePage::quotaRequested, this,
            [](QWebEngineQuotaRequest request) { request.reject(); });
    connect(this, &QWebEnginePage::registerProtocolHandlerRequested, this,
            [](QWebEngineRegisterProtocolHandlerRequest request) { request.reject(); });
    connect(this, &QWebEnginePage::fileSystemAccessRequested, this,
            [](QWebEngineFileSystemAccessRequest request) { request.reject(); });
    // windowCloseRequested is left unconnected: the page cannot close the sign.
}

QWebEnginePage* ContainedPage::createWindow(WebWindowType) {
    return nullptr;
}

void ContainedPage::javaScriptAlert(const QUrl&, const QString&) {}

bool ContainedPage::javaScriptConfirm(const QUrl&, const QString&) {
    return false;
}

bool ContainedPage::javaScriptPrompt(const QUrl&, const QString&, const QString&, QString*) {
    return false;
}

void ContainedPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString&, int,
                                             const QString&) {}

void ContainedPage::denyPermission(const QUrl& origin, Feature feature) {
    setFeaturePermission(origin, feature, PermissionDeniedByUser);
}
