#include "display/startup_values.h"

#include "common/number_rule.h"
#include "common/twips.h"

namespace lumira {

namespace {
double valueOr(const std::string& text, double fallback, bool (*placeable)(double)) {
    const std::optional<double> value = parseNumber(text);
    return value && placeable(*value) ? *value : fallback;
}
} // namespace

StartupValues readStartupValues(const std::function<std::string(const std::string& key)>& read,
                                const QString& defaultPage) {
    const std::string width = read("wWidth");
    const std::string height = read("wHeight");
    const std::string top = read("wTop");
    const std::string left = read("wLeft");
    StartupValues values;
    values.url = startupAddress(read("URL"), defaultPage);
    values.top = valueOr(top, 100, isPlaceableCoordinate);
    values.left = valueOr(left, 100, isPlaceableCoordinate);
    values.width = valueOr(width, 320, isPlaceableExtent);
    values.height = valueOr(height, 240, isPlaceableExtent);
    return values;
}

QString startupAddress(const std::string& stored, const QString& defaultPage) {
    return stored.empty() ? defaultPage : QString::fromStdString(stored);
}

} // namespace lumira
