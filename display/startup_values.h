#pragma once

#include <QString>
#include <functional>
#include <string>

namespace lumira {

// The display window's start-up address and rectangle in pixels, defaults applied.
struct StartupValues {
    QString url;
    double left = 100;
    double top = 100;
    double width = 320;
    double height = 240;
};

// Reads wWidth, wHeight, wTop, wLeft and URL through `read` (key to stored text), in that
// order. An empty address becomes defaultPage; a value that is not a number, or that the
// window system cannot take, becomes its default.
StartupValues readStartupValues(const std::function<std::string(const std::string& key)>& read,
                                const QString& defaultPage);

// The address a start uses for a stored URL value: the value itself, or defaultPage when it
// is empty.
QString startupAddress(const std::string& stored, const QString& defaultPage);

} // namespace lumira
