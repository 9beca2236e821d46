// The number rule on any text: a number is finite, reads the same with blanks around, and the
// shortest text of its value reads back as the same value.
#include "common/number_rule.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto value = lumira::parseNumber(text);
    if (value.has_value() != lumira::isNumber(text))
        std::abort();
    if (!value)
        return 0;
    if (!std::isfinite(*value) || lumira::parseNumber(" \t" + text + " ") != value)
        std::abort();
    char shortest[64];
    const auto written = std::to_chars(shortest, shortest + sizeof shortest, *value);
    if (lumira::parseNumber(std::string(shortest, written.ptr)) != value)
        std::abort();
    return 0;
}
