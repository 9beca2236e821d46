// Section Options of lumira.ini, the drawing path chosen from it and from the display's
// OpenGL, and where the settings file lives.
#include "common/options.h"
#include "common/settings_file.h"
#include "tests/table_case.h"

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <tuple>

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

struct DarkHoursCase : table::Case {
    std::string text;
    std::vector<lumira::DarkRange> ranges;
};

class DarkHoursTable : public testing::TestWithParam<DarkHoursCase> {};

TEST_P(DarkHoursTable, readableRangesKeptOthersLeftOut) {
    EXPECT_EQ(lumira::parseDarkHours(GetParam().text), GetParam().ranges);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DarkHoursTable,
    testing::Values(
        DarkHoursCase{"empty", "", {}},
        DarkHoursCase{"past-midnight", "22:00-07:00", {{1320, 420}}},
        DarkHoursCase{"two-with-blanks", " 7:05 - 8:00 ,12:30-13:00", {{425, 480}, {750, 780}}},
        DarkHoursCase{"bad-one-left-out", "24:00-07:00,1:60-2:00,x,12:00-13:00", {{720, 780}}},
        DarkHoursCase{"empty-range-left-out", "08:00-08:00", {}},
        DarkHoursCase{"not-a-clock", "8-9,08:0-09:00,008:00-09:00,08:00-09:00-10:00", {}}),
    table::CaseName());

TEST(DarkHours, insideFromTheStartUpToTheEnd) {
    const std::vector<lumira::DarkRange> night{{1320, 420}}, lunch{{720, 780}};
    EXPECT_TRUE(lumira::isDark(night, 1320));
    EXPECT_TRUE(lumira::isDark(night, 0));
    EXPECT_TRUE(lumira::isDark(night, 419));
    EXPECT_FALSE(lumira::isDark(night, 420));
    EXPECT_FALSE(lumira::isDark(night, 1319));
    EXPECT_TRUE(lumira::isDark(lunch, 720));
    EXPECT_FALSE(lumira::isDark(lunch, 780));
    EXPECT_FALSE(lumira::isDark({}, 0));
}

TEST(Options, pageOptionsWithinRangeOrTheirDefault) {
    const auto read = [](std::map<std::string, std::string> stored) {
        return lumira::readOptions([&](const std::string& key) { return stored[key]; }, 4096);
    };
    const lumira::Options none = read({});
    EXPECT_EQ(none.reloadEveryMinutes, 0);
    EXPECT_EQ(none.staleAfterMinutes, 0);
    EXPECT_TRUE(none.offlinePage.empty());
    EXPECT_TRUE(none.darkHours.empty());
    const lumira::Options set = read({{"ReloadEvery", "15"},
                                      {"StaleAfter", "10080"},
                                      {"OfflinePage", " logo.png "},
                                      {"DarkHours", "22:00-07:00"}});
    EXPECT_EQ(set.reloadEveryMinutes, 15);
    EXPECT_EQ(set.staleAfterMinutes, 10080);
    EXPECT_EQ(set.offlinePage, "logo.png");
    EXPECT_EQ(set.darkHours.size(), 1u);
    const lumira::Options bad = read({{"ReloadEvery", "-1"}, {"StaleAfter", "10081"}});
    EXPECT_EQ(bad.reloadEveryMinutes, 0);
    EXPECT_EQ(bad.staleAfterMinutes, 0);
}

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

// Beside the program only while nobody but its owner may write the folder.
TEST(SettingsFile, programFolderThatOthersMayWriteHoldsNoSettings) {
    QTemporaryDir dir;
    const std::pair<int, bool> rows[] = {{0755, true}, {0775, false}, {0777, false}};
    for (const auto& [mode, holds] : rows) {
        std::filesystem::permissions(dir.path().toStdString(), std::filesystem::perms(mode));
        EXPECT_EQ(lumira::programFolderHoldsSettings(dir.path()), holds) << std::oct << mode;
    }
}

// A StatusToken in a file that group or others may read: a warning naming the file and the fix.
TEST(SettingsFile, aTokenOthersMayReadIsWarnedAbout) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("my 'sign'.ini"));
    std::ofstream(file.toStdString()) << "[Options]\nStatusToken=t\n";
    const std::string fix = "chmod 600 '" + dir.path().toStdString() + "/my '\\''sign'\\''.ini'";
    const std::tuple<int, const char*, bool> rows[] = {
        {0644, "t", true}, {0640, "t", true}, {0600, "t", false}, {0644, "", false}};
    for (const auto& [mode, token, warned] : rows) {
        std::filesystem::permissions(file.toStdString(), std::filesystem::perms(mode));
        const std::string warning = lumira::exposedTokenWarning(file, token);
        EXPECT_EQ(warning.starts_with("StatusToken is set in " + file.toStdString()) &&
                      warning.ends_with(fix),
                  warned)
            << std::oct << mode << " " << warning;
    }
}

} // namespace
