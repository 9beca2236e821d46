#include "display/chromium/host_cover.h"

#include "display/cover_face.h"

#include <QPainter>

namespace lumira::chromium {

void HostCover::show(CoverState::Face face, const QImage& frame) {
    // The page itself shows in Chromium's window; here its last frame stands in for it.
    if (face == CoverState::Face::Page)
        face = frame.isNull() ? CoverState::Face::Black : CoverState::Face::KeptFrame;
    if (face == face_ && frame.cacheKey() == frame_.cacheKey() && isVisible())
        return;
    face_ = face;
    frame_ = frame;
    QWidget::show();
    update();
}

void HostCover::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paintCoverFace(painter, rect(), face_, frame_, offline_);
}

} // namespace lumira::chromium
