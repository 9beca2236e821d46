#include "common/number_rule.h"
#include "tests/table_case.h"

#include <clocale>
#include <gtest/gtest.h>
#include <optional>
#include <ostream>
#include <string>

namespace {

struct NumberCase : table::Case {
    std::string text;
    std::optional<double> value;
};

class NumberRule : public testing::TestWithParam<NumberCase> {};

TEST_P(NumberRule, DecidesNumberAndValue) {
    const NumberCase& c = GetParam();
    EXPECT_EQ(lumira::parseNumber(c.text), c.value);
    EXPECT_EQ(lumira::isNumber(c.text), c.value.has_value());
}

const NumberCase kCases[] = {
    {"plain-integer", "250", 250},
    {"blanks-around", " 250 ", 250},
    {"negative", "-20", -20},
    {"explicit-plus", "+7", 7},
    {"fraction", "100.5", 100.5},
    {"trailing-point", "5.", 5},
    {"leading-point", ".5", 0.5},
    {"exponent", "1e3", 1000},
    {"upper-exponent-negative", "1E-2", 0.01},
    {"tabs-sign-and-exponent-sign", "  -1.5e+2\t", -150},
    {"underflow-is-zero", "1e-999", 0},
    {"empty-is-not-a-number", "", std::nullopt},
    {"blank-is-not-a-number", " ", std::nullopt},
    {"word", "abc", std::nullopt},
    {"lone-minus", "-", std::nullopt},
    {"lone-plus", "+", std::nullopt},
    {"lone-point", ".", std::nullopt},
    {"exponent-without-digits", "1e", std::nullopt},
    {"exponent-without-mantissa", "e5", std::nullopt},
    {"thousands-separator", "1,000", std::nullopt},
    {"hexadecimal", "0x10", std::nullopt},
    {"trailing-letters", "12abc", std::nullopt},
    {"inner-blank", "1 2", std::nullopt},
    {"infinity", "inf", std::nullopt},
    {"not-a-number", "nan", std::nullopt},
    {"fullwidth-digits", "\xEF\xBC\x91\xEF\xBC\x92", std::nullopt},
    {"double-sign", "--1", std::nullopt},
    {"line-break-is-not-a-blank", "5\n", std::nullopt},
    {"overflow-is-unusable", "1e999", std::nullopt},
};

INSTANTIATE_TEST_SUITE_P(Table, NumberRule, testing::ValuesIn(kCases), table::CaseName());

TEST(NumberRuleLocale, CommaDecimalLocaleDoesNotChangeTheRule) {
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "fr_FR.UTF-8"))
        GTEST_SKIP() << "no comma-decimal locale installed";
    EXPECT_EQ(lumira::parseNumber("100.5"), 100.5);
    EXPECT_FALSE(lumira::isNumber("100,5"));
    std::setlocale(LC_NUMERIC, "C");
}

} // namespace
