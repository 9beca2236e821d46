#pragma once

#include "display/renderer_health.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <utility>
#include <vector>

class QWebEnginePage;

// Watches the sign's page for what fails without a failure being reported: a main-frame load
// that has not painted its page in time (stopped and reported as failed), and a renderer that
// stops answering or grows past its memory limit (ended, so the engine reports it as killed;
// a renderer of one of the page's frames is reported here). Either way the page-error retry
// takes over.
class PageWatch final : public QObject {
    Q_OBJECT
public:
    PageWatch(QWebEnginePage* page, lumira::WatchLimits limits);

    // The load's page has painted: from now on a late part of it is left to load or not.
    void pageShown();

signals:
    // A load ran past the load timeout and was stopped, or a renderer of one of the page's
    // frames was ended.
    void pageFailed(const QString& reason);
    // A renderer of the page is about to be ended by this watch, "hang" or "memory";
    // `mainFrame`: the page's own renderer, which the engine then reports as killed.
    void rendererEnding(const QString& why, bool mainFrame);

private:
    void loadStarted();
    void loadEnded();
    void rendererEnded();
    void checkRenderer();
    // The largest of the program's renderers by its own memory, with that memory in MiB.
    std::pair<qint64, double> largestRenderer(qint64 pagePid);

    QWebEnginePage* page_;
    lumira::RendererHealth health_;
    QTimer loadTimer_;
    QTimer checkTimer_; // once a second while a renderer runs, five times above the limit
    QElapsedTimer clock_;
    double lastCheck_ = 0;    // seconds on clock_
    qint64 lastPid_ = 0;      // the renderer at the last check
    long long lastTicks_ = 0; // its CPU time then
    long long ticksPerSecond_ = 100;
    std::vector<qint64> renderers_; // every renderer of the program, looked up now and then
    QByteArray helper_; // the engine's helper executable, as the page's renderer runs it
    int checksSinceLookup_ = 0;
    unsigned generation_ = 0;     // the page and renderer the pings are for
    bool rendererWatched_ = true; // off when the renderer is the program itself
};
