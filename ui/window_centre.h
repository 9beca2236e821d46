#pragma once

class QWidget;

namespace lumira {

// Places a window that is about to be shown so that its whole frame (title bar and borders
// included) is centred on the primary screen.
void centreOnScreen(QWidget& window);

} // namespace lumira
