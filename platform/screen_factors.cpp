#include "platform/screen_factors.h"

#include <QGuiApplication>
#include <QScreen>

namespace lumira::platform {

std::optional<ScreenDpi> primaryScreenDpi() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen || screen->logicalDotsPerInchX() <= 0 || screen->logicalDotsPerInchY() <= 0)
        return std::nullopt;
    return ScreenDpi{screen->logicalDotsPerInchX(), screen->logicalDotsPerInchY()};
}

} // namespace lumira::platform
