#pragma once

#include <QString>

namespace lumira {

// The welcome window's version line: " V 1.0.0 " for version 1.0.0.
QString versionLine(int major, int minor, int revision);

} // namespace lumira
