#pragma once

#include <string>
#include <vector>

namespace bench {

double median(std::vector<double> values);       // 0 for none
double worst(const std::vector<double>& values); // the largest; 0 for none

// One line of the result table.
struct Row {
    std::string figure;    // what was measured, with its unit and run count
    std::string lumira;    // e.g. "412.0 / 530.2" (median / worst)
    std::string reference; // "-" when there is none
    std::string compared;  // ratio or difference against the reference
    std::string bar;
    bool pass = false;
    bool informative = false; // no bar: the result column shows "info"
};

// "median / worst" with one decimal; "no data" for none.
std::string medianWorst(const std::vector<double>& values);
std::string fixed(double value, int decimals = 1);

void printTable(const std::vector<Row>& rows);

} // namespace bench
