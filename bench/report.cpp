#include "bench/report.h"

#include <algorithm>
#include <cstdio>

namespace bench {

double median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

double worst(const std::vector<double>& values) {
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

std::string fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string medianWorst(const std::vector<double>& values) {
    return values.empty() ? "no data" : fixed(median(values)) + " / " + fixed(worst(values));
}

void printTable(const std::vector<Row>& rows) {
    const char* format = "%-44s %-17s %-17s %-12s %-26s %s\n";
    std::printf(format, "figure", "lumira", "reference", "vs ref", "bar", "result");
    for (const Row& row : rows)
        std::printf(format, row.figure.c_str(), row.lumira.c_str(), row.reference.c_str(),
                    row.compared.c_str(), row.bar.c_str(),
                    row.informative ? "info"
                    : row.pass      ? "PASS"
                                    : "FAIL");
    std::fflush(stdout);
}

} // namespace bench
