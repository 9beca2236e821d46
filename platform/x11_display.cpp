#include "platform/x11_display.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <future>
#include <thread>
#include <xcb/xcb.h>

namespace lumira::platform {

std::string chosenDisplay(int argc, char** argv) {
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "-display") == 0 || std::strcmp(argv[i], "--display") == 0)
            return argv[i + 1];
    const char* display = std::getenv("DISPLAY");
    return display ? display : "";
}

bool displayAnswers(const std::string& name, int timeoutMs) {
    // The connection is tried on a thread of its own, which is left behind if it hangs.
    auto answer = std::make_shared<std::promise<bool>>();
    std::future<bool> answered = answer->get_future();
    std::thread([name, answer] {
        xcb_connection_t* c = xcb_connect(name.c_str(), nullptr);
        const bool ok = xcb_connection_has_error(c) == 0;
        xcb_disconnect(c);
        answer->set_value(ok);
    }).detach();
    return answered.wait_for(std::chrono::milliseconds(timeoutMs)) == std::future_status::ready &&
           answered.get();
}

bool inWaylandSession() {
    const char* type = std::getenv("XDG_SESSION_TYPE");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (type && std::strcmp(type, "wayland") == 0) || (wayland && *wayland);
}

} // namespace lumira::platform
