#include "display/cover_face.h"

#include "common/program_folder.h"

#include <QDir>
#include <QImageReader>
#include <QPainter>
#include <cstdio>

namespace lumira {

QImage offlinePicture(const std::string& name) {
    if (name.empty())
        return {};
    const QString given = QString::fromStdString(name);
    const QString path = QDir::isAbsolutePath(given) ? given : inProgramFolder(given);
    QImageReader reader(path);
    QImage picture = reader.read();
    if (picture.isNull())
        std::fprintf(stderr, "lumira: the offline picture %s cannot be read (%s); black is shown\n",
                     qUtf8Printable(path), qUtf8Printable(reader.errorString()));
    return picture;
}

void paintCoverFace(QPainter& painter, const QRect& rect, CoverState::Face face,
                    const QImage& frame, const QImage& offline) {
    painter.fillRect(rect, Qt::black);
    if (face == CoverState::Face::KeptFrame) {
        painter.drawImage(rect.topLeft(), frame);
    } else if (face == CoverState::Face::Offline && !offline.isNull()) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(rect, offline);
    }
}

} // namespace lumira
