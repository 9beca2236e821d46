#include "ui/window_centre.h"

#include "platform/window_state.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace lumira {

void centreOnScreen(QWidget& window) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QMargins frame = platform::frameExtents(window);
    const QSize outer = window.size().grownBy(frame);
    const QRect area = screen->geometry();
    const QPoint frameTopLeft(area.x() + (area.width() - outer.width()) / 2,
                              area.y() + (area.height() - outer.height()) / 2);
    window.setGeometry(QRect(frameTopLeft + QPoint(frame.left(), frame.top()), window.size()));
}

} // namespace lumira
