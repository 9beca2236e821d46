#pragma once

#include <QFont>

namespace lumira {

// 宋体 at the given size, falling back to a CJK serif face that Debian ships, so the
// Simplified Chinese texts keep their designed look and fit.
QFont songti(double points, bool bold = false, bool underline = false);

} // namespace lumira
