#include "platform/text_viewer.h"

#include <QProcess>

namespace lumira::platform {

namespace {
std::function<void(const QString&)>& launcher() {
    static std::function<void(const QString&)> current;
    return current;
}
} // namespace

void openInTextViewer(const QString& path) {
    if (launcher()) {
        launcher()(path);
        return;
    }
    // The path is one argument of its own: no shell, so blanks and any other character pass.
    QProcess::startDetached(QStringLiteral("xdg-open"), {path});
}

void setTextViewerLauncher(std::function<void(const QString& path)> replacement) {
    launcher() = std::move(replacement);
}

} // namespace lumira::platform
