#include "common/options.h"

#include "common/blanks.h"

#include <algorithm>
#include <charconv>
#include <unistd.h>

namespace lumira {

namespace {

struct Range {
    int low;
    int high;
};

// A whole decimal number within the range, blanks around it allowed; otherwise `fallback`.
int wholeNumberOr(const std::string& text, Range range, int fallback) {
    const std::string_view value = trimBlanks(text);
    int number = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
    if (value.empty() || error != std::errc() || end != value.data() + value.size())
        return fallback;
    return number >= range.low && number <= range.high ? number : fallback;
}

} // namespace

Options readOptions(const std::function<std::string(const std::string& key)>& read,
                    long long physicalMiB) {
    Options options;
    const int memoryDefault = int(std::clamp(physicalMiB / 4, 64LL, 1024LL));
    options.loadTimeoutSeconds = wholeNumberOr(read("LoadTimeout"), {5, 600}, 30);
    options.hangTimeoutSeconds = wholeNumberOr(read("HangTimeout"), {5, 600}, 15);
    options.memoryLimitMiB = wholeNumberOr(read("MemoryLimit"), {64, 65536}, memoryDefault);
    options.autoEnterSeconds = wholeNumberOr(read("AutoEnter"), {0, 3600}, 0);
    options.rendering = read("Rendering");
    options.offlinePage = std::string(trimBlanks(read("OfflinePage")));
    options.darkHours = parseDarkHours(read("DarkHours"));
    options.reloadEveryMinutes = wholeNumberOr(read("ReloadEvery"), {0, 10080}, 0);
    options.staleAfterMinutes = wholeNumberOr(read("StaleAfter"), {0, 10080}, 0);
    options.status = std::string(trimBlanks(read("Status")));
    options.statusToken = std::string(trimBlanks(read("StatusToken")));
    options.engine = std::string(trimBlanks(read("Engine")));
    return options;
}

long long physicalMemoryMiB() {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0)
        return 4096;
    return (static_cast<long long>(pages) * pageSize) >> 20;
}

} // namespace lumira
