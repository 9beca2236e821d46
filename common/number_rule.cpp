#include "common/number_rule.h"

#include "common/blanks.h"

#include <cmath>
#include <cstdlib>
#include <locale.h>
#include <string>

namespace lumira {
namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isSign(char c) {
    return c == '+' || c == '-';
}

size_t digitRun(std::string_view s, size_t i) {
    size_t n = 0;
    while (i + n < s.size() && isDigit(s[i + n]))
        ++n;
    return n;
}

// True when `s` (already trimmed) is exactly a decimal number.
bool isDecimal(std::string_view s) {
    size_t i = 0;
    if (i < s.size() && isSign(s[i]))
        ++i;
    const size_t whole = digitRun(s, i);
    i += whole;
    size_t fraction = 0;
    if (i < s.size() && s[i] == '.') {
        fraction = digitRun(s, ++i);
        i += fraction;
    }
    if (whole + fraction == 0)
        return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && isSign(s[i]))
            ++i;
        const size_t exponent = digitRun(s, i);
        if (exponent == 0)
            return false;
        i += exponent;
    }
    return i == s.size();
}

locale_t cLocale() {
    static const locale_t loc = newlocale(LC_ALL_MASK, "C", locale_t{});
    return loc;
}

} // namespace

std::optional<double> parseNumber(std::string_view text) {
    text = trimBlanks(text);
    if (!isDecimal(text) || cLocale() == locale_t{})
        return std::nullopt;
    const std::string s(text);
    char* end = nullptr;
    const double value = strtod_l(s.c_str(), &end, cLocale());
    if (end != s.c_str() + s.size() || std::isinf(value))
        return std::nullopt; // overflow: no usable value
    return value;
}

bool isNumber(std::string_view text) {
    return parseNumber(text).has_value();
}

} // namespace lumira
