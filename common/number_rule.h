// The one rule for "is this text a number, and what is its value" used by every reader of
// numbers in Lumira (configuration values, edit fields, imported lists).
#pragma once

#include <optional>
#include <string_view>

namespace lumira {

// Returns the value when `text`, ignoring spaces and tabs before and after it, is a plain
// decimal number: optional sign, digits with an optional fractional part (at least one digit
// in all, so "5.", ".5" and "5.5" count), optional exponent (e/E, optional sign, digits).
// Everything else is not a number: the empty text, hex, "inf", "nan", thousands separators,
// non-ASCII digits. Values too large for a double (e.g. "1e999") are not numbers either,
// since they cannot be used; values too small to represent become 0 (or the nearest
// subnormal). The result never depends on the process locale.
std::optional<double> parseNumber(std::string_view text);

// Same as parseNumber(text).has_value().
bool isNumber(std::string_view text);

} // namespace lumira
