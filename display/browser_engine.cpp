#include "display/browser_engine.h"

#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

// The module's bytes, placed in the program by engine_image.cpp.
extern "C" const unsigned char lumira_engine_image_begin[];
extern "C" const unsigned char lumira_engine_image_end[];

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

bool writeAll(int fd, const unsigned char* data, size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

// Copies the module into an anonymous in-memory file and opens it from there, so the
// program needs no file beside it and leaves none behind.
std::string openModule(void** handle) {
    const int fd = ::memfd_create("lumira-browser", MFD_CLOEXEC);
    if (fd < 0)
        return std::string("memfd_create: ") + std::strerror(errno);
    const auto size = static_cast<size_t>(lumira_engine_image_end - lumira_engine_image_begin);
    std::string error;
    if (!writeAll(fd, lumira_engine_image_begin, size)) {
        error = std::string("writing the module: ") + std::strerror(errno);
    } else {
        const std::string path = "/proc/self/fd/" + std::to_string(fd);
        *handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!*handle)
            error = ::dlerror();
    }
    ::close(fd);
    return error;
}

} // namespace

bool loadBrowserEngine() {
    Engine& state = engine();
    if (state.tried)
        return state.create != nullptr;
    state.tried = true;
    void* handle = nullptr;
    state.error = openModule(&handle);
    if (!handle)
        return false;
    state.create = reinterpret_cast<CreateWebBrowser>(::dlsym(handle, kCreateWebBrowserSymbol));
    if (!state.create)
        state.error = ::dlerror();
    return state.create != nullptr;
}

std::unique_ptr<Browser> makeWebBrowser(QWidget* host, TwipsFactors factors) {
    if (!loadBrowserEngine())
        return nullptr;
    return std::unique_ptr<Browser>(engine().create(host, &factors));
}

const std::string& browserEngineError() {
    return engine().error;
}

} // namespace lumira
