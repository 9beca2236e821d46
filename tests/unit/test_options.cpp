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

// The program folder holds the settings only when nobody but its owner may write there and its
// lumira.ini is no link; otherwise the per-user file is used.
struct FolderCase : table::Case {
    std::filesystem::perms mode;
    bool linkedIni, holds;
};

class ProgramFolderTable : public testing::TestWithParam<FolderCase> {};

TEST_P(ProgramFolderTable, holdsTheSettingsOnlyWhenTheOwnersAlone) {
    QTemporaryDir dir;
    const std::filesystem::path folder = dir.filePath(QStringLiteral("程序")).toStdString();
    std::filesystem::create_directory(folder);
    if (GetParam().linkedIni)
        std::filesystem::create_symlink("/etc/hostname", folder / "lumira.ini");
    std::filesystem::permissions(folder, GetParam().mode);
    EXPECT_EQ(lumira::programFolderHoldsSettings(QString::fromStdString(folder.string())),
              GetParam().holds);
}

using std::filesystem::perms;
INSTANTIATE_TEST_SUITE_P(Table, ProgramFolderTable,
                         testing::Values(FolderCase{"owners-alone", perms(0755), false, true},
                                         FolderCase{"group-may-write", perms(0775), false, false},
                                         FolderCase{"anyone-may-write", perms(0777), false, false},
                                         FolderCase{"sticky-like-tmp", perms(01777), false, false},
                                         FolderCase{"read-only", perms(0555), false, false},
                                         FolderCase{"ini-is-a-link", perms(0755), true, false}),
                         table::CaseName());

// A StatusToken in a file that group or others may read: one warning naming the file and the fix.
struct TokenFileCase : table::Case {
    const char* fileName;
    std::filesystem::perms mode;
    const char* token;
    const char* fix; // what follows "chmod 600 ", %1 standing for the folder; nullptr: no warning
};

class TokenFileTable : public testing::TestWithParam<TokenFileCase> {};

TEST_P(TokenFileTable, warnsWhileOthersMayReadTheToken) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QString::fromUtf8(GetParam().fileName));
    std::ofstream(file.toStdString()) << "[Options]\nStatusToken=" << GetParam().token << "\n";
    std::filesystem::permissions(file.toStdString(), GetParam().mode);
    const std::string warning = lumira::exposedTokenWarning(file, GetParam().token);
    if (!GetParam().fix)
        EXPECT_EQ(warning, "");
    else
        EXPECT_EQ(warning, "StatusToken is set in " + file.toStdString() +
                               ", which other users can read; to keep the token to yourself: "
                               "chmod 600 " +
                               QString::fromUtf8(GetParam().fix).arg(dir.path()).toStdString());
}

INSTANTIATE_TEST_SUITE_P(
    Table, TokenFileTable,
    testing::Values(
        TokenFileCase{"anyone-may-read", "lumira.ini", perms(0644), "t", "%1/lumira.ini"},
        TokenFileCase{"group-may-read", "lumira.ini", perms(0640), "t", "%1/lumira.ini"},
        TokenFileCase{"owner-alone", "lumira.ini", perms(0600), "t", nullptr},
        TokenFileCase{"no-token", "lumira.ini", perms(0644), "", nullptr},
        TokenFileCase{"name-quoted-for-the-shell", "my 'sign'.ini", perms(0644), "t",
                      "'%1/my '\\''sign'\\''.ini'"}),
    table::CaseName());

} // namespace
