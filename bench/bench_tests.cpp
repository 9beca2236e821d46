// The bench's own checks: the lumira.ini it writes as the program reads it, and what it finds
// of a program's processes when it stops one.
#include "bench/measure.h"
#include "common/ini_sm.h"
#include "tests/harness/process_tree.h"
#include "tests/table_case.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <array>
#include <csignal>
#include <fstream>
#include <thread>

namespace {

using namespace bench;

bool running(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(in, line);
    const size_t close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z';
}

struct IniRow : table::Case {
    const char* engine;
    std::vector<std::string> main, options;
    std::vector<std::array<const char*, 3>> read; // section, key, value the program reads
};

class IniText : public testing::TestWithParam<IniRow> {};

TEST_P(IniText, ProgramReadsEveryKeyWritten) {
    const IniRow& row = GetParam();
    QTemporaryDir dir;
    const std::string path = dir.filePath(QStringLiteral("lumira.ini")).toStdString();
    std::ofstream(path, std::ios::binary) << iniText(row.engine, row.main, row.options);
    for (const auto& [section, key, value] : row.read)
        EXPECT_EQ(readIniValue(section, key, path), value) << section << "/" << key;
}

INSTANTIATE_TEST_SUITE_P(
    Bench, IniText,
    testing::Values(
        IniRow{{"engine-alone"}, "chromium", {}, {}, {{"Options", "Engine", "chromium"}}},
        IniRow{{"rectangle-and-engine"},
               "qtwebengine",
               {"wWidth=960", "wHeight=540"},
               {},
               {{"Main", "wWidth", "960"}, {"Options", "Engine", "qtwebengine"}}},
        IniRow{{"other-options-in-the-one-section-read"},
               "qtwebengine",
               {},
               {"Rendering=gpu", "Status=8080"},
               {{"Options", "Engine", "qtwebengine"},
                {"Options", "Rendering", "gpu"},
                {"Options", "Status", "8080"}}},
        IniRow{{"engine-among-the-options-loses"},
               "qtwebengine",
               {},
               {"Engine=chromium"},
               {{"Options", "Engine", "qtwebengine"}}}),
    table::CaseName{});

TEST(BenchChild, FreshProfileForEveryStartRemovedAtItsStop) {
    Subject shell{"sh",
                  QStringLiteral("/bin/sh"),
                  {QStringLiteral("-c"), QStringLiteral("sleep 60; wait"), QStringLiteral("sh")},
                  "",
                  "",
                  nullptr};
    shell.freshProfile = true;
    Child child(shell, false);
    std::vector<std::string> profiles;
    for (int start = 0; start < 2; ++start) {
        child.start();
        // The last argument, once the shell has replaced the starting process.
        std::string argument;
        for (int tries = 0; tries < 100 && argument.rfind("--user-data-dir=", 0) != 0; ++tries) {
            std::this_thread::sleep_for(10ms);
            std::ifstream in("/proc/" + std::to_string(child.pid()) + "/cmdline");
            for (std::string each; std::getline(in, each, '\0');)
                argument = each;
        }
        ASSERT_EQ(argument.rfind("--user-data-dir=", 0), 0u) << argument;
        profiles.push_back(argument.substr(argument.find('=') + 1));
        EXPECT_TRUE(QFileInfo(QString::fromStdString(profiles.back())).isDir());
        child.stop();
        EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(profiles.back())));
    }
    EXPECT_NE(profiles[0], profiles[1]);
}

// A shell that starts `script`'s processes, and how many the stop must find still running.
struct StopRow : table::Case {
    const char* script;
    size_t processes; // in the tree once all have started
    size_t outside;   // in its groups but not found by the walk down from the shell
    size_t left;      // running 5 s after the group was killed
};

class ChildStop : public testing::TestWithParam<StopRow> {};

TEST_P(ChildStop, FindsWhatOutlivesTheGroup) {
    const StopRow& row = GetParam();
    const Subject shell{
        "sh", QStringLiteral("/bin/sh"), {QStringLiteral("-c"), row.script}, "", "", nullptr};
    Child child(shell, false);
    child.start();
    const auto deadline = Clock::now() + 5s;
    while (harness::processTree(child.pid()).size() < row.processes && Clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    std::this_thread::sleep_for(100ms); // a subshell that forks and ends has ended
    const std::vector<pid_t> outside = outsideTree(child.pid());
    EXPECT_EQ(outside.size(), row.outside);
    std::vector<pid_t> all = harness::processTree(child.pid());
    all.insert(all.end(), outside.begin(), outside.end());
    child.stop();
    EXPECT_EQ(child.leftBehind(), row.left);
    std::this_thread::sleep_for(100ms);
    for (pid_t pid : all) // what was left behind has been killed
        EXPECT_FALSE(running(pid)) << pid;
}

INSTANTIATE_TEST_SUITE_P(
    Bench, ChildStop,
    testing::Values(
        StopRow{{"children-in-the-group"}, "sleep 60 & sleep 60; wait", 3, 0, 0},
        StopRow{{"child-in-a-session-of-its-own"}, "setsid sleep 60 & wait", 2, 0, 1},
        StopRow{{"grandchild-whose-parent-ended"}, "(sleep 60 &); sleep 60; wait", 2, 1, 0}),
    table::CaseName{});

} // namespace
