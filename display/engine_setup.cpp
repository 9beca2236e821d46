#include "display/engine_setup.h"

#include <QLoggingCategory>
#include <QtGlobal>
#include <cstdio>
#include <unistd.h>

namespace lumira {

namespace {
// Adds a switch to those the operator may have given the engine in QTWEBENGINE_CHROMIUM_FLAGS.
void appendEngineFlag(const char* flag) {
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    if (flags.split(' ').contains(flag))
        return;
    flags += flags.isEmpty() ? "" : " ";
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags + flag);
}
} // namespace

void prepareEngineProcess() {
    if (::geteuid() == 0) {
        appendEngineFlag("--no-sandbox");
        std::fputs("lumira: running as root, so the browser engine runs without its sandbox\n",
                   stderr);
    }
    // Rules from QT_LOGGING_RULES or QT_LOGGING_CONF are applied after these and win.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false"));
}

} // namespace lumira
