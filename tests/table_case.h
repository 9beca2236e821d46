// Table-driven tests: each row is named after its case ("lone-minus-becomes-zero").
#pragma once

#include <algorithm>
#include <gtest/gtest.h>
#include <ostream>
#include <string>

namespace table {

// A row's first member; the test log names the case rather than dumping its bytes (found for
// every derived row, where a PrintTo overload would lose to the test framework's own).
struct Case {
    const char* name;
    friend std::ostream& operator<<(std::ostream& out, const Case& row) { return out << row.name; }
};

// For INSTANTIATE_TEST_SUITE_P: the case name as a test name ('-' is not allowed there).
struct CaseName {
    template <class Row> std::string operator()(const testing::TestParamInfo<Row>& info) const {
        std::string name = info.param.name;
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    }
};

} // namespace table
