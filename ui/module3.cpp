#include "ui/module3.h"

#include "platform/window_state.h"

namespace Module3 {

void setTopmost(QWidget& window) {
    lumira::platform::setAbove(window, true);
}

void setNotTopmost(QWidget& window) {
    lumira::platform::setAbove(window, false);
}

} // namespace Module3
