#include "platform/opengl_probe.h"

#include <QCoreApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <memory>
#include <optional>

// QtGui's own, exported for Qt's modules: the context every later one shares its resources with.
QT_BEGIN_NAMESPACE
Q_GUI_EXPORT void qt_gl_set_global_share_context(QOpenGLContext* context);
Q_GUI_EXPORT QOpenGLContext* qt_gl_global_share_context();
QT_END_NAMESPACE

namespace lumira::platform {

namespace {
QOpenGLContext* shared = nullptr;

void dropShared() {
    if (qt_gl_global_share_context() == shared)
        qt_gl_set_global_share_context(nullptr);
    delete shared;
    shared = nullptr;
}

OpenGlInfo ask() {
    OpenGlInfo info;
    auto context = std::make_unique<QOpenGLContext>();
    if (!context->create())
        return info;
    QOffscreenSurface surface;
    surface.setFormat(context->format());
    surface.create();
    if (!surface.isValid() || !context->makeCurrent(&surface))
        return info;
    info.contextMade = true;
    if (const auto* name = context->functions()->glGetString(GL_RENDERER))
        info.renderer = reinterpret_cast<const char*>(name);
    context->doneCurrent();
    // Kept as the context the engine's views share with, which the engine otherwise asks for
    // before the application starts: making it then would hold up the first window.
    if (!qt_gl_global_share_context()) {
        shared = context.release();
        qt_gl_set_global_share_context(shared);
        // Set late on purpose, as the engine itself does when it makes the context; Qt's
        // warning that it belongs before the application is no news here.
        const QtMessageHandler previous =
            qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
        qInstallMessageHandler(previous);
        qAddPostRoutine(dropShared);
    }
    return info;
}
} // namespace

const OpenGlInfo& probeOpenGl() {
    static std::optional<OpenGlInfo> known;
    if (!known)
        known = ask();
    return *known;
}

} // namespace lumira::platform
