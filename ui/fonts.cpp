#include "ui/fonts.h"

#include <QStringList>

namespace lumira {

QFont songti(double points, bool bold, bool underline) {
    QFont font;
    QStringList families;
    families << QStringLiteral("宋体") << QStringLiteral("SimSun")
             << QStringLiteral("Noto Serif CJK SC") << QStringLiteral("Noto Sans CJK SC");
    font.setFamilies(families);
    font.setPointSizeF(points);
    font.setBold(bold);
    font.setUnderline(underline);
    return font;
}

} // namespace lumira
