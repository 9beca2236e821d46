// Blanks as the configuration file and the number rule see them: spaces and tabs.
#pragma once

#include <string_view>

namespace lumira {

inline bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// `s` without the blanks before and after it.
inline std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

} // namespace lumira
