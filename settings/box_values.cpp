#include "settings/box_values.h"

#include "common/number_rule.h"

#include <charconv>

namespace lumira {

QString loadedBoxText(const std::string& stored, const QString& loadValue) {
    return isNumber(stored) ? QString::fromStdString(stored) : loadValue;
}

std::optional<QString> periodicReplacement(const QString& box, const QString& checkValue) {
    if (isNumber(box.toStdString()))
        return std::nullopt;
    return checkValue;
}

double boxNumber(const QString& box, double fallback) {
    return parseNumber(box.toStdString()).value_or(fallback);
}

QString nudged(const QString& box, int delta) {
    const std::optional<double> value = parseNumber(box.toStdString());
    return value ? formatNumber(*value + delta) : box;
}

QString formatNumber(double value) {
    char text[64];
    const auto result =
        std::to_chars(text, text + sizeof text, value, std::chars_format::general, 15);
    return QString::fromLatin1(text, int(result.ptr - text));
}

} // namespace lumira
