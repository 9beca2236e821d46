#include "common/dark_hours.h"

#include "common/blanks.h"

#include <optional>
#include <string_view>

namespace lumira {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// "H:MM" or "HH:MM", 00:00 to 23:59, as minutes after midnight.
std::optional<int> minuteOfDay(std::string_view text) {
    text = trimBlanks(text);
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon < 1 || colon > 2 || text.size() != colon + 3)
        return std::nullopt;
    for (size_t i = 0; i < text.size(); ++i) {
        if (i != colon && !isDigit(text[i]))
            return std::nullopt;
    }
    const int hours = colon == 1 ? text[0] - '0' : (text[0] - '0') * 10 + (text[1] - '0');
    const int minutes = (text[colon + 1] - '0') * 10 + (text[colon + 2] - '0');
    if (hours > 23 || minutes > 59)
        return std::nullopt;
    return hours * 60 + minutes;
}

std::optional<DarkRange> darkRange(std::string_view text) {
    const size_t dash = text.find('-');
    if (dash == std::string_view::npos)
        return std::nullopt;
    const auto from = minuteOfDay(text.substr(0, dash));
    const auto to = minuteOfDay(text.substr(dash + 1));
    if (!from || !to || *from == *to)
        return std::nullopt;
    return DarkRange{*from, *to};
}

} // namespace

std::vector<DarkRange> parseDarkHours(const std::string& text) {
    std::vector<DarkRange> ranges;
    std::string_view rest = text;
    while (!rest.empty()) {
        const size_t comma = rest.find(',');
        if (const auto range = darkRange(rest.substr(0, comma)))
            ranges.push_back(*range);
        if (comma == std::string_view::npos)
            break;
        rest.remove_prefix(comma + 1);
    }
    return ranges;
}

bool isDark(const std::vector<DarkRange>& ranges, int minuteOfDay) {
    for (const DarkRange& range : ranges) {
        const bool inside = range.from < range.to
                                ? minuteOfDay >= range.from && minuteOfDay < range.to
                                : minuteOfDay >= range.from || minuteOfDay < range.to;
        if (inside)
            return true;
    }
    return false;
}

} // namespace lumira
