#pragma once

#include "display/cover_state.h"

#include <QElapsedTimer>
#include <QImage>
#include <QTimer>
#include <QWidget>

class QWebEngineLoadingInfo;
class QWebEngineView;

// Lies over the browser view, in the same window, and shows the last good frame, the offline
// picture or black whenever the view may show something else than the page: from start-up
// until the first paint, during every load until its page has painted, after a failure, in
// dark hours. It is lowered only once the current load's document has painted two frames, as
// a script of the program's own (in a world the page cannot see) reports when asked.
class PageCover final : public QWidget {
    Q_OBJECT
public:
    PageCover(QWebEngineView* view, const lumira::CoverOptions& options);

    // The load failed, timed out, or its renderer ended.
    void failed();
    // Keeps a picture of the page, when it shows; before a load or renderer end, and now and
    // then for the ends nobody announces.
    void keepFrame();
    void setDark(bool dark);

signals:
    // The current load's page has painted and the cover is down.
    void shown();

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override; // follows the view's geometry

private:
    void loadingChanged(const QWebEngineLoadingInfo& info);
    void askWhetherPainted();
    void watchDrawing(QObject* child);
    void refresh();
    // The view still shows the empty document's white although the page has painted; false
    // once it has for a short while, for a page that is white itself.
    bool viewStillBlank(double at);
    double now() const;

    QWebEngineView* view_;
    lumira::CoverState state_;
    lumira::CoverState::Face face_ = lumira::CoverState::Face::Black;
    QImage frame_;   // the last good frame, in the view's device pixels
    QImage offline_; // the OfflinePage picture, null when none
    QElapsedTimer clock_;
    QTimer paintPoll_;  // while a load waits for its paint
    QTimer frameTimer_; // while the page shows
    QTimer faceTimer_;  // once a second while a kept frame shows that may go stale
    QTimer blankCheck_; // while the view may still show white after the page has painted
    bool staleWatch_;
    qint64 loadStartedAt_ = 0;   // wall clock, milliseconds since the epoch
    double firstFrameAt_ = 0;    // the page's first frame after it was ready, as it reported
    double lastDrawnAt_ = 0;     // the view's last drawing while a load waits for its paint
    unsigned askGeneration_ = 0; // answers to questions asked before the load's last step are old
    bool shownReported_ = false;
    double blankSince_ = -1;    // when the page first counted as shown while the view was white
    int drawings_ = 0;          // the engine's drawing widgets seen, one per renderer
    bool viewReplaced_ = false; // a renderer was replaced since the page last showed
};
