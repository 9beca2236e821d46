#include "platform/opengl_probe.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <optional>

namespace lumira::platform {

namespace {
OpenGlInfo ask() {
    OpenGlInfo info;
    QOpenGLContext context;
    if (!context.create())
        return info;
    QOffscreenSurface surface;
    surface.setFormat(context.format());
    surface.create();
    if (!surface.isValid() || !context.makeCurrent(&surface))
        return info;
    info.contextMade = true;
    if (const auto* name = context.functions()->glGetString(GL_RENDERER))
        info.renderer = reinterpret_cast<const char*>(name);
    context.doneCurrent();
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
