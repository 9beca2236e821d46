#include "display/engine_setup.h"

#include "display/engine_choice.h"
#include "platform/opengl_probe.h"

#include <QLoggingCategory>
#include <QtGlobal>
#include <cstdio>
#include <unistd.h>

namespace lumira {

namespace {
bool drawnInSoftware = false;

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
    // The engine holds the old page's picture for half a second after a navigation to the same
    // site, until the new one paints text or an image: a page of colour alone shows the old
    // document (white after a failure or the dark hours) for that long after it has painted.
    // The cover over the view keeps loads off the screen instead. An operator's own list of
    // disabled features is left as it is.
    if (!qgetenv("QTWEBENGINE_CHROMIUM_FLAGS").contains("--disable-features="))
        appendEngineFlag("--disable-features=PaintHolding");
    // Rules from QT_LOGGING_RULES or QT_LOGGING_CONF are applied after these and win.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false"));
}

void prepareEngineDrawing(RenderingOption option) {
    if (chosenEngine().kind == EngineKind::Chromium) {
        // Chromium judges the PC's graphics itself, in its own GPU process: the program
        // makes no OpenGL context of its own (a software rasteriser would cost it 25 MiB).
        drawnInSoftware = option == RenderingOption::Software;
        std::fprintf(stderr, "lumira: %s\n",
                     drawnInSoftware ? "pages are drawn in software without a GPU process, since "
                                       "Rendering=software"
                                     : "Chromium chooses how pages are drawn for this PC's "
                                       "graphics");
        return;
    }
    RenderingPath path;
    if (option == RenderingOption::Auto) {
        const platform::OpenGlInfo& gl = platform::probeOpenGl();
        path = chooseRenderingPath(option, gl.contextMade, gl.renderer);
    } else {
        path = chooseRenderingPath(option, false, {});
    }
    drawnInSoftware = path.software;
    if (path.software) {
        qputenv("QT_QUICK_BACKEND", "software");
        appendEngineFlag("--disable-gpu");
        appendEngineFlag("--disable-gpu-compositing");
    }
    std::fprintf(stderr, "lumira: pages are drawn %s, since %s\n",
                 path.software ? "in software without a GPU process" : "with the GPU",
                 path.reason.c_str());
}

bool pagesDrawnInSoftware() {
    return drawnInSoftware;
}

} // namespace lumira
