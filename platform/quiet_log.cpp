#include "platform/quiet_log.h"

#include <QString>
#include <QtGlobal>
#include <cstring>

namespace lumira::platform {

namespace {
QtMessageHandler previous = nullptr;

void filter(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (context.category && std::strcmp(context.category, "qt.qpa.xcb") == 0 &&
        message.startsWith(QLatin1String("Unhandled client message")))
        return;
    previous(type, context, message);
}
} // namespace

void dropWindowSystemChatter() {
    if (!previous)
        previous = qInstallMessageHandler(filter);
}

} // namespace lumira::platform
