#pragma once

#include "common/twips.h"
#include "display/browser.h"
#include "display/cover_state.h"
#include "display/renderer_health.h"

#include <QWebEnginePage>

class QWebEngineLoadingInfo;
class QWebEngineView;
class PageCover;
class QWidget;

// wb1 on the real browser engine: a QWebEngineView showing a contained page, under a cover
// that lets only the painted page reach the screen.
class WebBrowser final : public Browser {
    Q_OBJECT
public:
    WebBrowser(QWidget* host, lumira::TwipsFactors factors, lumira::WatchLimits limits,
               const lumira::CoverOptions& cover);

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
    void onLoadingChanged(const QWebEngineLoadingInfo& info);
    void onRendererEnded(QWebEnginePage::RenderProcessTerminationStatus status);
    void watchEndsRenderer(const QString& why, bool mainFrame);
    void fail(const QString& reason);

    QWebEngineView* view_;
    PageCover* cover_;
    lumira::TwipsFactors factors_;
    QString endingWhy_; // the page watch is ending the page's renderer: "hang" or "memory"
};
