#include "display/browser_engine.h"

#include "common/program_folder.h"
#include "display/engine_choice.h"

#include <dlfcn.h>
#include <string>

namespace lumira {

namespace {

struct Engine {
    bool tried = false;
    CreateWebBrowser create = nullptr;
    std::string error;
};

Engine& engine() {
    static Engine instance;
    return instance;
}

} // namespace

bool loadBrowserEngine() {
    Engine& state = engine();
    if (state.tried)
        return state.create != nullptr;
    state.tried = true;
    const QByteArray path =
        inProgramFolder(QString::fromLatin1(moduleFileOf(chosenEngine().kind))).toLocal8Bit();
    void* handle = ::dlopen(path.constData(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        state.error = ::dlerror();
        return false;
    }
    state.create = reinterpret_cast<CreateWebBrowser>(::dlsym(handle, kCreateWebBrowserSymbol));
    if (!state.create)
        state.error = ::dlerror();
    return state.create != nullptr;
}

std::unique_ptr<Browser> makeWebBrowser(QWidget* host, TwipsFactors factors, WatchLimits limits,
                                        const CoverOptions& cover) {
    if (!loadBrowserEngine())
        return nullptr;
    return std::unique_ptr<Browser>(engine().create(host, &factors, &limits, &cover));
}

const std::string& browserEngineError() {
    return engine().error;
}

} // namespace lumira
