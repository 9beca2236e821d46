#include "ui/link_label.h"

#include <QMouseEvent>
#include <QPixmap>

namespace {
// The pointing hand drawn for the program; its hotspot is the fingertip.
QCursor pointingHand() {
    const QPixmap hand(QStringLiteral(":/assets/link-hand.png"));
    return hand.isNull() ? QCursor(Qt::PointingHandCursor) : QCursor(hand, 13, 1);
}
} // namespace

LinkLabel::LinkLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    QPalette blue = palette();
    blue.setColor(QPalette::WindowText, QColor(0, 0, 255));
    setPalette(blue);
    setCursor(pointingHand());
}

void LinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}
