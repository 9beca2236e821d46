// Section Options of lumira.ini, the drawing path chosen from it and from the display's
// OpenGL, and where the settings file lives.
#include "common/options.h"
#include "common/settings_file.h"
#include "tests/table_case.h"

#include <gtest/gtest.h>
#include <map>

namespace {

struct OptionsCase : table::Case {
    std::map<std::string, std::string> stored;
    long long physicalMiB;
    int load, hang, memory, autoEnter;
};

class OptionsTable : public testing::TestWithParam<OptionsCase> {};

TEST_P(OptionsTable, valuesWithinRangeOrTheirDefault) {
    const auto& row = GetParam();
    const lumira::Options options = lumira::readOptions(
        [&](const std::string& key) {
            const auto found = row.stored.find(key);
            return found == row.stored.end() ? std::string() : found->second;
        },
        row.physicalMiB);
    EXPECT_EQ(options.loadTimeoutSeconds, row.load);
    EXPECT_EQ(options.hangTimeoutSeconds, row.hang);
    EXPECT_EQ(options.memoryLimitMiB, row.memory);
    EXPECT_EQ(options.autoEnterSeconds, row.autoEnter);
}

INSTANTIATE_TEST_SUITE_P(
    Table, OptionsTable,
    testing::Values(
        OptionsCase{"none-stored", {}, 16384, 30, 15, 1024, 0},
        OptionsCase{"memory-default-is-a-quarter-of-a-small-machine", {}, 2048, 30, 15, 512, 0},
        OptionsCase{"memory-default-never-below-the-range", {}, 100, 30, 15, 64, 0},
        OptionsCase{"values-in-range",
                    {{"LoadTimeout", " 10 "},
                     {"HangTimeout", "5"},
                     {"MemoryLimit", "300"},
                     {"AutoEnter", "2"}},
                    16384,
                    10,
                    5,
                    300,
                    2},
        OptionsCase{"out-of-range-takes-the-default",
                    {{"LoadTimeout", "4"}, {"HangTimeout", "601"}, {"MemoryLimit", "63"}},
                    16384,
                    30,
                    15,
                    1024,
                    0},
        OptionsCase{"not-whole-numbers-take-the-default",
                    {{"LoadTimeout", "10.5"},
                     {"HangTimeout", "1e1"},
                     {"MemoryLimit", "+300"},
                     {"AutoEnter", "-1"}},
                    16384,
                    30,
                    15,
                    1024,
                    0},
        OptionsCase{"auto-enter-zero-is-off", {{"AutoEnter", "0"}}, 16384, 30, 15, 1024, 0}),
    table::CaseName());

TEST(SettingsFile, besideTheProgramWhenWritableOtherwisePerUser) {
    EXPECT_EQ(lumira::settingsFileFor("/opt/lumira", true, "/x", "/home/u"),
              "/opt/lumira/lumira.ini");
    EXPECT_EQ(lumira::settingsFileFor("/usr/lib/lumira", false, "/home/u/cfg", "/home/u"),
              "/home/u/cfg/lumira/lumira.ini");
    EXPECT_EQ(lumira::settingsFileFor("/usr/lib/lumira", false, "", "/home/u"),
              "/home/u/.config/lumira/lumira.ini");
    EXPECT_EQ(lumira::settingsFileFor("/usr/lib/lumira", false, "relative", "/home/u"),
              "/home/u/.config/lumira/lumira.ini")
        << "a relative XDG_CONFIG_HOME is ignored, as the XDG base-directory rules have it";
}

} // namespace
