#include "display/pointer_hider.h"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QWidget>

namespace lumira {

namespace {
constexpr int kRestMs = 3000;
} // namespace

PointerHider::PointerHider(QWidget& display) : QObject(&display), display_(display) {
    rest_.setSingleShot(true);
    rest_.setInterval(kRestMs);
    connect(&rest_, &QTimer::timeout, this, &PointerHider::rested);
    // The page's own widgets receive the pointer's moves, so they are watched program-wide.
    qApp->installEventFilter(this);
    rest_.start();
}

PointerHider::~PointerHider() {
    show();
}

bool PointerHider::eventFilter(QObject*, QEvent* event) {
    if (event->type() == QEvent::MouseMove || event->type() == QEvent::Enter ||
        event->type() == QEvent::Leave) {
        show();
        rest_.start();
    }
    return false;
}

void PointerHider::rested() {
    if (hidden_ || !display_.isVisible() || !display_.geometry().contains(QCursor::pos()))
        return;
    QApplication::setOverrideCursor(Qt::BlankCursor);
    hidden_ = true;
}

void PointerHider::show() {
    if (!hidden_)
        return;
    QApplication::restoreOverrideCursor();
    hidden_ = false;
}

} // namespace lumira
