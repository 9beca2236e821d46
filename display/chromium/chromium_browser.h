#pragma once

#include "common/twips.h"
#include "display/browser.h"
#include "display/cover_state.h"
#include "display/renderer_health.h"

#include <QElapsedTimer>
#include <QImage>
#include <QJsonObject>
#include <QTimer>
#include <QUrl>
#include <vector>

class QWidget;

namespace lumira::chromium {

class ChromiumProcess;
class DevToolsClient;
class HostCover;
class PageWindow;

// wb1 on Debian's Chromium: a child process whose top-level window lies over the display
// window's client area, driven over its DevTools pipe. A cover inside Chromium's window lets
// only the painted page reach the screen; a second one in the display window shows the same
// while Chromium's window is not there (at start, while Chromium is started again).
class ChromiumBrowser final : public Browser {
    Q_OBJECT
public:
    ChromiumBrowser(QWidget* host, TwipsFactors factors, WatchLimits limits,
                    const CoverOptions& cover);
    ~ChromiumBrowser() override;

    void Navigate(const QString& address) override;
    bool GoBack() override;
    bool GoForward() override;
    void Stop() override;
    void setDark(bool dark) override;
    void setWidth(float twips) override;
    void setHeight(float twips) override;
    float Width() const override;
    float Height() const override;
    QString engine() const override;

private:
    void startChromium();
    // Chromium is gone: its session, its window and its answers still awaited with it.
    void forgetChromium();
    void chromiumEnded(const QString& how);
    void attach(const QString& targetId);
    void attached();
    void startDocumentShown();
    void onEvent(const QString& method, const QJsonObject& params, const QString& session);
    void onDocumentRequested(const QJsonObject& params);
    void onLifecycle(const QJsonObject& params);
    void onCrashed();
    void go(const QUrl& url);
    void historyStep(int step);
    void readHistory();
    void failLoad(const QString& loader, const QString& reason);
    void fail(const QString& reason);
    void loadStarted();
    void refresh();
    void keepFrame();
    QImage coverPicture(CoverState::Face face) const;
    void checkRenderers();
    void checkUpgrade();
    double now() const { return double(clock_.elapsed()) / 1000.0; }

    QWidget* host_;
    TwipsFactors factors_;
    WatchLimits limits_;
    QSize size_{0, 0}; // the page's size in device pixels
    ChromiumProcess* process_;
    DevToolsClient* client_;
    PageWindow* window_;
    HostCover* hostCover_;
    CoverState state_;
    RendererHealth health_;
    QImage frame_;    // the last good frame
    QImage offline_;  // the OfflinePage picture
    bool staleWatch_; // StaleAfter is set: a kept frame may go stale
    CoverState::Face face_ = CoverState::Face::Black;
    QElapsedTimer clock_;
    QTimer refreshTimer_; // while a load waits for its paint, and while a kept frame may go stale
    QTimer frameTimer_;   // a picture of the page now and then while it shows
    QTimer checkTimer_;   // the renderers' health, once a second
    QTimer loadTimer_;    // a load that neither paints nor fails
    QTimer restartTimer_; // Chromium started again after it ended
    QTimer upgradeTimer_; // the latest restart after an upgrade of Chromium on disk
    QString session_;     // the page's DevTools session
    QString mainFrame_;
    QString loader_;       // the latest main-frame document load
    QString startLoader_;  // the start document's, which is no load of the sign's
    QString startLoaded_;  // a load finished before Chromium named the start document's
    QString failedLoader_; // the load whose failure was reported
    QUrl pending_;         // to load once Chromium is ready
    QUrl current_;         // the address asked for last
    bool ready_ = false;
    bool dark_ = false;
    bool shownReported_ = false;
    bool painted_ = false; // the latest load's document has painted
    int historyIndex_ = 0;
    QList<int> historyEntries_;
    QString endingWhy_; // the watch is ending the page's renderer: "hang" or "memory"
    int restarts_ = 0;  // restarts since a page last showed
    bool toldVersion_ = false;
    bool upgraded_ = false; // Chromium's executable was replaced since it started
    bool restartedForUpgrade_ = false;
    QString version_;
    QString lastDeed_;        // what Chromium last did of its own accord, for the status report
    qint64 executableId_ = 0; // inode and change time of the executable at start
    std::vector<qint64> renderers_; // Chromium's renderers, looked up every few checks
    int sinceLookup_ = 30;          // looked up at the first check
    double loadAt_ = 0;
    double lastCheck_ = 0;
    double lastCpu_ = -1;
    unsigned pingGeneration_ = 0;
};

} // namespace lumira::chromium
