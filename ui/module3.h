#pragma once

class QWidget;

// Module3: the z-order routines. They put a window into or out of the always-above band,
// raise and activate it, and never move or resize it.
namespace Module3 {
void setTopmost(QWidget& window);
void setNotTopmost(QWidget& window);
} // namespace Module3
