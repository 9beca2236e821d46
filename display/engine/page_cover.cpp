#include "display/engine/page_cover.h"

#include "display/cover_face.h"

#include <QDateTime>
#include <QEvent>
#include <QPainter>
#include <QQuickWidget>
#include <QQuickWindow>
#include <QWebEngineLoadingInfo>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineView>

namespace {
constexpr int kPaintPollMs = 40;
constexpr int kFirstFrameMs = 300;   // after the page has shown
constexpr int kFrameEveryMs = 45000; // for the renderer ends nobody announces
constexpr double kFrameMs = 1000.0 / 60.0;
// The view may draw once more without the page's frame (the empty document's white) after the
// page has made it; the cover waits that long at most for the frame to reach the view.
constexpr double kBlankViewSeconds = 0.15;
constexpr int kBlankCheckMs = 15;

// Whether a picture is the empty document's: white at every point of an even grid.
bool blankWhite(const QImage& picture) {
    if (picture.isNull())
        return true;
    constexpr int kGrid = 8;
    for (int row = 0; row < kGrid; ++row)
        for (int column = 0; column < kGrid; ++column) {
            const QPoint point((2 * column + 1) * picture.width() / (2 * kGrid),
                               (2 * row + 1) * picture.height() / (2 * kGrid));
            if ((picture.pixel(point) & 0xffffff) != 0xffffff)
                return false;
        }
    return true;
}

// Runs in the program's own world: the page can neither see nor fake the marks. The frame of
// the first animation frame after the document is ready holds its first paint; the second
// animation frame comes once that frame has been handed on. Times are the wall clock's, in
// milliseconds since the epoch, as the program reads it too.
#define LUMIRA_MARK_FRAMES                                                                         \
    "requestAnimationFrame(function () {"                                                          \
    "  window.lumiraFirstFrameAt = performance.timeOrigin + performance.now();"                    \
    "  requestAnimationFrame(function () {"                                                        \
    "    window.lumiraPaintedAt = performance.timeOrigin + performance.now();"                     \
    "  });"                                                                                        \
    "})"
constexpr char kPaintMark[] = LUMIRA_MARK_FRAMES ";";
constexpr char kAskPainted[] = "[window.lumiraFirstFrameAt || 0, window.lumiraPaintedAt || 0]";
// Once the load has ended the document is certainly its own: one stopped before it was ready
// never ran the mark, so the question sets it.
constexpr char kAskPaintedAfterLoad[] =
    "window.lumiraMarking || (window.lumiraMarking = (window.lumiraPaintedAt || " LUMIRA_MARK_FRAMES
    ")), [window.lumiraFirstFrameAt || 0, window.lumiraPaintedAt || 0]";
#undef LUMIRA_MARK_FRAMES

} // namespace

PageCover::PageCover(QWebEngineView* view, const lumira::CoverOptions& options)
    : QWidget(view->parentWidget()), view_(view), state_(options.staleAfterMinutes * 60.0),
      offline_(lumira::offlinePicture(options.offlinePage)),
      staleWatch_(options.staleAfterMinutes > 0) {
    clock_.start();
    setAttribute(Qt::WA_OpaquePaintEvent);
    setGeometry(view->geometry());
    view->installEventFilter(this);
    for (QObject* child : view->children())
        watchDrawing(child);
    QWebEngineScript mark;
    mark.setName(QStringLiteral("lumira-paint-mark"));
    mark.setSourceCode(QString::fromLatin1(kPaintMark));
    mark.setInjectionPoint(QWebEngineScript::DocumentReady);
    mark.setWorldId(QWebEngineScript::ApplicationWorld);
    mark.setRunsOnSubFrames(false);
    view->page()->scripts().insert(mark);

    paintPoll_.setInterval(kPaintPollMs);
    frameTimer_.setSingleShot(true);
    faceTimer_.setInterval(1000);
    connect(view->page(), &QWebEnginePage::loadingChanged, this, &PageCover::loadingChanged);
    connect(view->page(), &QWebEnginePage::renderProcessTerminated, this, &PageCover::failed);
    connect(&paintPoll_, &QTimer::timeout, this, &PageCover::askWhetherPainted);
    connect(&frameTimer_, &QTimer::timeout, this, [this] {
        keepFrame();
        frameTimer_.start(kFrameEveryMs);
    });
    connect(&faceTimer_, &QTimer::timeout, this, &PageCover::refresh);
    blankCheck_.setSingleShot(true);
    blankCheck_.setInterval(kBlankCheckMs);
    connect(&blankCheck_, &QTimer::timeout, this, &PageCover::refresh);
    refresh();
}

void PageCover::watchDrawing(QObject* child) {
    // The engine draws each renderer's frames through a Qt Quick widget of its own, made anew
    // when a renderer is replaced.
    auto* drawing = qobject_cast<QQuickWidget*>(child);
    if (!drawing)
        return;
    viewReplaced_ = drawings_++ > 0;
    connect(drawing->quickWindow(), &QQuickWindow::afterRendering, this, [this] {
        if (!paintPoll_.isActive())
            return; // only a load that waits for its paint cares
        lastDrawnAt_ = double(QDateTime::currentMSecsSinceEpoch());
        if (firstFrameAt_ > 0 && lastDrawnAt_ >= firstFrameAt_) {
            state_.viewRendered(now());
            refresh();
        }
    });
}

double PageCover::now() const {
    return double(clock_.elapsed()) / 1000.0;
}

void PageCover::loadingChanged(const QWebEngineLoadingInfo& info) {
    switch (info.status()) {
    case QWebEngineLoadingInfo::LoadStartedStatus:
        keepFrame(); // the page that showed until now, before the load replaces it
        state_.loadStarted();
        loadStartedAt_ = QDateTime::currentMSecsSinceEpoch();
        firstFrameAt_ = 0;
        shownReported_ = false;
        blankSince_ = -1;
        ++askGeneration_;
        break;
    case QWebEngineLoadingInfo::LoadSucceededStatus:
    case QWebEngineLoadingInfo::LoadStoppedStatus:
        // A main document answered with an error status is a failure, reported as such.
        if (info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain &&
            info.errorCode() >= 400)
            return;
        state_.loadSucceeded();
        ++askGeneration_;
        break;
    case QWebEngineLoadingInfo::LoadFailedStatus:
        return; // the browser reports failures that count through failed()
    }
    refresh();
}

void PageCover::failed() {
    state_.failed();
    refresh();
}

void PageCover::setDark(bool dark) {
    state_.setDark(dark);
    frame_ = QImage();
    refresh();
}

void PageCover::keepFrame() {
    if (!state_.pageShown(now()))
        return;
    QImage picture = view_->grab().toImage();
    if (picture.isNull())
        return;
    // Three bytes a pixel: a 1920x1080 sign keeps 6 MiB.
    frame_ = picture.convertToFormat(QImage::Format_RGB888);
    frame_.setDevicePixelRatio(picture.devicePixelRatio());
    state_.frameTaken(now());
}

void PageCover::askWhetherPainted() {
    if (!state_.waitsForPaint(now())) {
        refresh();
        return;
    }
    view_->page()->runJavaScript(
        QString::fromLatin1(state_.hasLoaded() ? kAskPaintedAfterLoad : kAskPainted),
        QWebEngineScript::ApplicationWorld,
        [this, generation = askGeneration_](const QVariant& answer) {
            const QVariantList marks = answer.toList();
            const double paintedAt = marks.value(1).toDouble();
            if (generation != askGeneration_ || paintedAt <= 0)
                return;
            state_.painted(now(), paintedAt >= double(loadStartedAt_) - kFrameMs, viewReplaced_);
            // The view drew after the page's first frame was made: that drawing holds it.
            if (firstFrameAt_ <= 0)
                firstFrameAt_ = marks.value(0).toDouble();
            if (lastDrawnAt_ >= firstFrameAt_)
                state_.viewRendered(now());
            refresh();
        });
    refresh(); // a page that painted a while ago may now count as shown
}

void PageCover::refresh() {
    const double at = now();
    const lumira::CoverState::Face face = state_.face(at);
    if (state_.waitsForPaint(at)) {
        if (!paintPoll_.isActive())
            paintPoll_.start();
    } else {
        paintPoll_.stop();
    }
    if (face == lumira::CoverState::Face::Page) {
        if (!shownReported_ && viewStillBlank(at)) {
            blankCheck_.start();
            return;
        }
        hide();
        if (!shownReported_) {
            shownReported_ = true;
            if (viewReplaced_) {
                // A new view kept under the cover may still hold its first, empty picture.
                for (QQuickWidget* drawing : view_->findChildren<QQuickWidget*>()) {
                    drawing->quickWindow()->update();
                    drawing->update();
                }
            }
            viewReplaced_ = false;
            frameTimer_.start(kFirstFrameMs);
            emit shown();
        }
        return;
    }
    frameTimer_.stop();
    if (face != lumira::CoverState::Face::KeptFrame || !staleWatch_)
        faceTimer_.stop();
    else if (!faceTimer_.isActive())
        faceTimer_.start(); // the frame may go stale
    if (face != face_ || isHidden()) {
        face_ = face;
        update();
    }
    if (isHidden()) {
        show();
        raise();
    }
}

bool PageCover::viewStillBlank(double at) {
    if (isHidden())
        return false; // nothing to keep off the screen
    if (blankSince_ < 0)
        blankSince_ = at;
    // A page that is white itself shows after the wait.
    return at - blankSince_ < kBlankViewSeconds && blankWhite(view_->grab().toImage());
}

void PageCover::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    lumira::paintCoverFace(painter, rect(), face_, frame_, offline_);
}

bool PageCover::eventFilter(QObject* watched, QEvent* event) {
    if (watched == view_ && event->type() == QEvent::ChildAdded)
        watchDrawing(static_cast<QChildEvent*>(event)->child());
    if (watched == view_ && (event->type() == QEvent::Resize || event->type() == QEvent::Move))
        setGeometry(view_->geometry());
    return QWidget::eventFilter(watched, event);
}
