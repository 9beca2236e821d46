#include "platform/key_state.h"

#include "platform/window_system.h"
#include "platform/x11_key_state.h"

namespace lumira::platform {

namespace {
// Without a keyboard to watch no key is ever down.
class NoKeyState final : public KeyState {
public:
    bool isDown(Key) const override { return false; }
};
} // namespace

std::unique_ptr<KeyState> KeyState::create() {
    if (hasX11()) {
        auto x11 = std::make_unique<X11KeyState>();
        if (x11->isWatching())
            return x11;
    }
    return std::make_unique<NoKeyState>();
}

} // namespace lumira::platform
