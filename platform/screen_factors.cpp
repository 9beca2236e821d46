#include "platform/screen_factors.h"

#include <QGuiApplication>
#include <QScreen>

namespace lumira::platform {

TwipsFactors screenTwipsPerPixel() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen || screen->logicalDotsPerInchX() <= 0 || screen->logicalDotsPerInchY() <= 0)
        return {};
    return {float(1440.0 / screen->logicalDotsPerInchX()),
            float(1440.0 / screen->logicalDotsPerInchY())};
}

} // namespace lumira::platform
