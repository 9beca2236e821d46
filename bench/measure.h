#pragma once

#include "tests/harness/x11_session.h"

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The pixel the page covers in both programs, watched for its first paint.
inline constexpr int kProbeX = 200, kProbeY = 200;

// A program under measurement: how to start it, its first window, and how to get to its page.
struct Subject {
    std::string name;
    QString executable;
    QStringList arguments;
    std::string firstTitle; // the window shown at launch
    std::string pageTitle;  // the window showing the page
    // Clicks what opens the page in the first window.
    std::function<void(harness::X11Session&, xcb_window_t first)> openPage;
    // A new --user-data-dir=<folder> for every start, removed when that copy has gone.
    bool freshProfile = false;
};

// lumira.ini: [Main] with `main` ("Key=value" lines), then [Options] with Engine=`engine`
// and `options`. One section each, as the program reads only the first of a name; an Engine
// line among `options` loses to `engine`.
std::string iniText(const std::string& engine, const std::vector<std::string>& main = {},
                    const std::vector<std::string>& options = {});

// One started copy of a subject in its own process group; stopped (SIGKILL to the group) when
// it goes. Both programs are started exactly alike: same environment, working folder /tmp,
// output discarded unless `showOutput`. A stop waits up to 5 s for every process that was in
// the copy's tree or process groups to end; any still running then is left behind by the
// program: it is reported on stderr, counted, and killed, so the next run starts clean.
class Child {
public:
    Child(const Subject& subject, bool showOutput);
    ~Child() { stop(); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    void start(); // throws std::runtime_error when it cannot
    pid_t pid() const { return pid_t(process_.processId()); }
    void stop();
    size_t leftBehind() const { return leftBehind_; } // by the last stop

private:
    const Subject& subject_;
    QProcess process_;
    std::unique_ptr<QTemporaryDir> profile_;
    size_t leftBehind_ = 0;
};

// Per subject name, over all stops so far: stops, stops that left processes behind, and those
// processes in all.
struct LeftBehind {
    int stops = 0, dirtyStops = 0;
    size_t processes = 0;
};
const std::map<std::string, LeftBehind>& leftBehindTally();

// Processes in the process groups of `root`'s tree that a walk down from `root` by parent pid
// misses, e.g. one whose parent ended. The bench's own group is not looked at.
std::vector<pid_t> outsideTree(pid_t root);

// Milliseconds from `since` until `condition` first holds, checked every millisecond.
std::optional<double> msUntil(Clock::time_point since, const std::function<bool()>& condition,
                              std::chrono::milliseconds timeout);

// Launch -> first window viewable.
std::optional<double> launchToWindow(harness::X11Session& x, const Subject& subject, bool output);
// Process start -> probe pixel shows `colour`, for a program that shows its page by itself.
std::optional<double> launchToPaint(harness::X11Session& x, const Subject& subject, uint32_t colour,
                                    bool output);
// Click in the first window -> probe pixel shows `colour`.
std::optional<double> clickToPaint(harness::X11Session& x, const Subject& subject, uint32_t colour,
                                   bool output);

struct IdleFigures {
    double treeCpuPercent = 0; // the program's process tree, % of one core
    double xCpuPercent = 0;    // the X server, % of one core
    long long rssKb = 0, pssKb = 0;
    long long programRssKb = 0; // the program's own process
    size_t processes = 0;
    size_t outsideTree = 0;            // of the tree's process groups, missed by the walk
    std::vector<std::string> commands; // of the tree's processes, arguments joined by blanks
};
// Opens the page, waits 5 s, reads memory, then CPU over `seconds` while nothing happens.
std::optional<IdleFigures> idleFigures(harness::X11Session& x, const Subject& subject,
                                       uint32_t colour, pid_t xServer, int seconds, bool output);

struct SettingsFigures {
    std::vector<double> open;    // Shift+F12 -> settings window viewable
    std::vector<double> moveBox; // last key of a new left edge -> display window there
};
// Opens the display window, then times the settings window and the live placement.
SettingsFigures settingsFigures(harness::X11Session& x, const Subject& lumira, uint32_t colour,
                                int repeats, bool output);

struct RetryMemory {
    long long startKb = 0, endKb = 0, peakKb = 0; // RSS of the process tree
    size_t processes = 0;
};
// Opens the display window on a start-up address that keeps failing and follows the tree's
// RSS over `seconds` of five-second retries, from the third attempt on.
std::optional<RetryMemory> retryMemory(harness::X11Session& x, const Subject& lumira, int seconds,
                                       bool output);

struct CycleMemory {
    long long afterFirstKb = 0, afterLastKb = 0; // RSS of the program's own process
    int cycles = 0;
    double seconds = 0;
};
// Opens the display window on a page that eats memory (lumira.ini sets a small MemoryLimit)
// and follows the program's own RSS over `cycles` renderer restarts.
std::optional<CycleMemory> cycleMemory(harness::X11Session& x, const Subject& lumira, int cycles,
                                       bool output);

struct StatusTimes {
    std::vector<double> status;     // GET /status, ms from the connect to the whole answer
    std::vector<double> screenshot; // GET /screenshot.png, each a picture of its own
    int width = 0, height = 0;      // of the last picture
    size_t pngBytes = 0;
};
// Opens the display window (lumira.ini puts the status server on 127.0.0.1:`port`) and times
// `repeats` answers of each request on loopback, after one unrecorded answer each: /status one
// after another, /screenshot.png 1.5 s apart, past the second for which a picture is shared.
std::optional<StatusTimes> statusTimes(harness::X11Session& x, const Subject& lumira,
                                       uint32_t colour, unsigned short port, int repeats,
                                       bool output);

} // namespace bench
