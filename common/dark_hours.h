// DarkHours in section Options: times of day when the sign shows black.
#pragma once

#include <string>
#include <vector>

namespace lumira {

// From `from` up to, not including, `to`, in minutes after midnight (0..1439). A range whose
// end is not after its start runs past midnight (22:00-07:00).
struct DarkRange {
    int from = 0;
    int to = 0;
    bool operator==(const DarkRange&) const = default;
};

// "22:00-07:00, 12:30-13:00": ranges separated by commas, each two times H:MM or HH:MM of the
// 24-hour clock; blanks around the parts are allowed. A range that cannot be read, or that
// starts and ends at the same minute, is left out.
std::vector<DarkRange> parseDarkHours(const std::string& text);

// Whether minute `minuteOfDay` (0..1439) lies inside one of `ranges`.
bool isDark(const std::vector<DarkRange>& ranges, int minuteOfDay);

} // namespace lumira
