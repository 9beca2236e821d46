#pragma once

#include "display/renderer_health.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class QWebEnginePage;

// Watches the sign's page for what fails without a failure being reported: a main-frame load
// that never ends (stopped and reported as failed), and a renderer that stops answering or
// grows past its memory limit (ended, so the engine reports it as killed). Either way the
// page-error retry takes over.
class PageWatch final : public QObject {
    Q_OBJECT
public:
    PageWatch(QWebEnginePage* page, lumira::WatchLimits limits);

signals:
    // A load ran past the load timeout and was stopped.
    void loadTimedOut();

private:
    void loadStarted();
    void loadEnded();
    void rendererEnded();
    void checkRenderer();

    QWebEnginePage* page_;
    lumira::RendererHealth health_;
    QTimer loadTimer_;
    QTimer checkTimer_; // once a second while a renderer runs
    QElapsedTimer clock_;
    double lastCheck_ = 0;    // seconds on clock_
    qint64 lastPid_ = 0;      // the renderer at the last check
    long long lastTicks_ = 0; // its CPU time then
    long long ticksPerCheck_ = 100;
    unsigned generation_ = 0;     // the page and renderer the pings are for
    bool rendererWatched_ = true; // off when the renderer is the program itself
};
