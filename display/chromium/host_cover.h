#pragma once

#include "display/cover_state.h"

#include <QImage>
#include <QWidget>

namespace lumira::chromium {

// Fills the display window under Chromium's window with what the sign is to show while that
// window is not there: the last good frame, the offline picture or black.
class HostCover final : public QWidget {
public:
    HostCover(QWidget* host, const QImage& offline) : QWidget(host), offline_(offline) {
        setAttribute(Qt::WA_OpaquePaintEvent);
    }
    void show(CoverState::Face face, const QImage& frame);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    CoverState::Face face_ = CoverState::Face::Black;
    QImage frame_;
    QImage offline_;
};

} // namespace lumira::chromium
