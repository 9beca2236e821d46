#pragma once

#include "display/cover_state.h"

#include <QImage>
#include <string>

class QPainter;
class QRect;

namespace lumira {

// The OfflinePage picture (in the program folder, or absolute); null when none is set or it
// cannot be read, which is said in one line.
QImage offlinePicture(const std::string& name);

// Paints what the cover shows over `rect`: the kept frame at its top left, the offline picture
// stretched over it, or black.
void paintCoverFace(QPainter& painter, const QRect& rect, CoverState::Face face,
                    const QImage& frame, const QImage& offline);

} // namespace lumira
