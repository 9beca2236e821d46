#include "display/engine/contained_page.h"

#include <QWebEngineDownloadRequest>
#include <QWebEngineFileSystemAccessRequest>
#include <QWebEngineFullScreenRequest>
#include <QWebEngineProfile>
#include <QWebEngineRegisterProtocolHandlerRequest>
#include <QtGlobal>
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
#include <QWebEnginePermission>
#else
#include <QWebEngineQuotaRequest>
#endif

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
    // Qt 6.8 asks for every permission through one signal and no longer asks for quota.
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
    connect(this, &QWebEnginePage::permissionRequested, this,
            [](QWebEnginePermission permission) { permission.deny(); });
#else
    connect(this, &QWebEnginePage::featurePermissionRequested, this,
            [this](const QUrl& origin, Feature feature) {
                setFeaturePermission(origin, feature, PermissionDeniedByUser);
            });
    connect(this, &QWebEnginePage::quotaRequested, this,
            [](QWebEngineQuotaRequest request) { request.reject(); });
#endif
    connect(this, &QWebEnginePage::fullScreenRequested, this,
            [](QWebEngineFullScreenRequest request) { request.reject(); });
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
