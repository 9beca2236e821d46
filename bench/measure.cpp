#include "bench/measure.h"

#include "tests/harness/http_client.h"
#include "tests/harness/process_tree.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <unistd.h>

namespace bench {

namespace {

const std::string kSettings = "显示设置";
constexpr auto kTypingGap = 25ms;

// What /proc/<pid>/stat tells of a process that the checks on process groups need.
struct ProcessFacts {
    char state = '?';
    pid_t group = 0;
    unsigned long long started = 0; // clock ticks after boot: tells a reused pid apart
};

std::optional<ProcessFacts> factsOf(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(in, line);
    const size_t close = line.rfind(')'); // the command name may hold blanks and parentheses
    if (close == std::string::npos)
        return std::nullopt;
    // After the name: state ppid pgrp ... with the start time 20th.
    std::istringstream rest(line.substr(close + 1));
    std::vector<std::string> fields;
    for (std::string field; fields.size() < 20 && rest >> field;)
        fields.push_back(field);
    if (fields.size() < 20)
        return std::nullopt;
    try {
        return ProcessFacts{fields[0][0], pid_t(std::stol(fields[2])), std::stoull(fields[19])};
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

bool runs(pid_t pid, unsigned long long started) {
    const auto facts = factsOf(pid);
    return facts && facts->started == started && facts->state != 'Z';
}

std::vector<pid_t> allProcesses() {
    std::vector<pid_t> pids;
    if (DIR* proc = opendir("/proc")) {
        while (const dirent* entry = readdir(proc)) {
            char* end = nullptr;
            const long pid = std::strtol(entry->d_name, &end, 10);
            if (pid > 0 && *end == '\0')
                pids.push_back(pid_t(pid));
        }
        closedir(proc);
    }
    return pids;
}

std::string commandOf(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
    std::string command{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::replace(command.begin(), command.end(), '\0', ' ');
    while (!command.empty() && command.back() == ' ')
        command.pop_back();
    return command;
}

// The running processes of every process group that a process of `tree` is in, the bench's
// own group aside.
std::vector<pid_t> groupMembers(const std::vector<pid_t>& tree) {
    std::set<pid_t> groups;
    for (pid_t pid : tree) {
        if (const auto facts = factsOf(pid))
            groups.insert(facts->group);
    }
    groups.erase(::getpgrp());
    std::vector<pid_t> members;
    for (pid_t pid : allProcesses()) {
        const auto facts = factsOf(pid);
        if (facts && facts->state != 'Z' && groups.count(facts->group))
            members.push_back(pid);
    }
    return members;
}

std::map<std::string, LeftBehind>& tally() {
    static std::map<std::string, LeftBehind> byName;
    return byName;
}

// Waits until the window is gone so the next run starts on a clean screen.
void stopAndWaitGone(harness::X11Session& x, Child& child, const Subject& subject) {
    child.stop();
    x.waitForNoWindow(subject.firstTitle, 10s);
    x.waitForNoWindow(subject.pageTitle, 10s);
}

// Starts the subject, waits for its first window and opens the page window; when `colour`
// is given, the page has also painted in it when this returns.
std::optional<xcb_window_t> showPage(harness::X11Session& x, Child& child, const Subject& subject,
                                     std::optional<uint32_t> colour) {
    child.start();
    const auto first = x.waitForWindow(subject.firstTitle, 20s);
    if (!first)
        return std::nullopt;
    subject.openPage(x, *first);
    const auto page = x.waitForWindow(subject.pageTitle, 20s);
    if (!page ||
        (colour && !msUntil(
                       Clock::now(), [&] { return x.pixel(kProbeX, kProbeY) == *colour; }, 20s)))
        return std::nullopt;
    return page;
}

// Centre of a control whose rectangle in the window's client area is given in twips.
void clickTwips(harness::X11Session& x, xcb_window_t window, int left, int top, int width,
                int height) {
    const harness::Rect client = x.rootGeometry(window);
    x.click(client.x + int(std::lround((left + width / 2.0) / 15)),
            client.y + int(std::lround((top + height / 2.0) / 15)));
}

} // namespace

Child::Child(const Subject& subject, bool showOutput) : subject_(subject) {
    process_.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
    process_.setWorkingDirectory(QStringLiteral("/tmp"));
    if (showOutput) {
        process_.setProcessChannelMode(QProcess::ForwardedChannels);
    } else {
        process_.setStandardOutputFile(QProcess::nullDevice());
        process_.setStandardErrorFile(QProcess::nullDevice());
    }
    process_.setChildProcessModifier([] { ::setpgid(0, 0); });
}

void Child::start() {
    QStringList arguments = subject_.arguments;
    if (subject_.freshProfile) {
        profile_ = std::make_unique<QTemporaryDir>();
        if (!profile_->isValid())
            throw std::runtime_error("cannot make a profile folder for " + subject_.name);
        arguments << QStringLiteral("--user-data-dir=") + profile_->path();
    }
    process_.start(subject_.executable, arguments);
    if (!process_.waitForStarted(10000))
        throw std::runtime_error("cannot start " + subject_.executable.toStdString());
}

void Child::stop() {
    if (process_.state() == QProcess::NotRunning) {
        profile_.reset();
        return;
    }
    std::vector<pid_t> pids = harness::processTree(pid());
    for (pid_t member : groupMembers(pids)) {
        if (std::find(pids.begin(), pids.end(), member) == pids.end())
            pids.push_back(member);
    }
    std::vector<std::pair<pid_t, unsigned long long>> left;
    for (pid_t each : pids) {
        if (const auto facts = factsOf(each); facts && facts->state != 'Z')
            left.emplace_back(each, facts->started);
    }
    ::kill(-pid(), SIGKILL);
    process_.waitForFinished(5000);
    const auto deadline = Clock::now() + 5s;
    for (;;) {
        std::erase_if(left, [](const auto& p) { return !runs(p.first, p.second); });
        if (left.empty() || Clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(50ms);
    }
    leftBehind_ = left.size();
    LeftBehind& counts = tally()[subject_.name];
    ++counts.stops;
    if (!left.empty()) {
        ++counts.dirtyStops;
        counts.processes += left.size();
    }
    for (const auto& [each, started] : left) {
        std::fprintf(stderr, "bench: %s left process %d running 5 s after it was killed: %s\n",
                     subject_.name.c_str(), int(each), commandOf(each).c_str());
        ::kill(each, SIGKILL);
    }
    profile_.reset();
}

const std::map<std::string, LeftBehind>& leftBehindTally() {
    return tally();
}

std::vector<pid_t> outsideTree(pid_t root) {
    const std::vector<pid_t> tree = harness::processTree(root);
    std::vector<pid_t> outside;
    for (pid_t member : groupMembers(tree)) {
        if (std::find(tree.begin(), tree.end(), member) == tree.end())
            outside.push_back(member);
    }
    return outside;
}

std::string iniText(const std::string& engine, const std::vector<std::string>& main,
                    const std::vector<std::string>& options) {
    std::string text;
    if (!main.empty())
        text += "[Main]\r\n";
    for (const std::string& line : main)
        text += line + "\r\n";
    // The program takes the first Engine line of the section.
    text += "[Options]\r\nEngine=" + engine + "\r\n";
    for (const std::string& line : options)
        text += line + "\r\n";
    return text;
}

std::optional<double> msUntil(Clock::time_point since, const std::function<bool()>& condition,
                              std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        if (condition())
            return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
        std::this_thread::sleep_for(1ms);
    }
    return std::nullopt;
}

std::optional<double> launchToWindow(harness::X11Session& x, const Subject& subject, bool output) {
    Child child(subject, output);
    const auto start = Clock::now();
    child.start();
    const auto ms = msUntil(
        start, [&] { return !x.findClientWindows(subject.firstTitle).empty(); }, 20s);
    stopAndWaitGone(x, child, subject);
    return ms;
}

std::optional<double> launchToPaint(harness::X11Session& x, const Subject& subject, uint32_t colour,
                                    bool output) {
    if (x.pixel(kProbeX, kProbeY) == colour)
        throw std::runtime_error("the probe pixel shows the page colour before the start");
    Child child(subject, output);
    const auto start = Clock::now();
    child.start();
    const auto ms = msUntil(
        start, [&] { return x.pixel(kProbeX, kProbeY) == colour; }, 20s);
    stopAndWaitGone(x, child, subject);
    return ms;
}

std::optional<double> clickToPaint(harness::X11Session& x, const Subject& subject, uint32_t colour,
                                   bool output) {
    Child child(subject, output);
    child.start();
    const auto first = x.waitForWindow(subject.firstTitle, 20s);
    std::optional<double> ms;
    if (first) {
        std::this_thread::sleep_for(500ms); // let the first window settle
        if (x.pixel(kProbeX, kProbeY) == colour)
            throw std::runtime_error("the probe pixel shows the page colour before the click");
        const auto start = Clock::now();
        subject.openPage(x, *first);
        ms = msUntil(
            start, [&] { return x.pixel(kProbeX, kProbeY) == colour; }, 20s);
    }
    stopAndWaitGone(x, child, subject);
    return ms;
}

std::optional<IdleFigures> idleFigures(harness::X11Session& x, const Subject& subject,
                                       uint32_t colour, pid_t xServer, int seconds, bool output) {
    Child child(subject, output);
    if (!showPage(x, child, subject, colour)) {
        stopAndWaitGone(x, child, subject);
        return std::nullopt;
    }
    const harness::Rect screen = x.screenRect();
    x.moveMouse(screen.w - 1, screen.h - 1); // the pointer rests away from both programs
    std::this_thread::sleep_for(5s);

    IdleFigures figures;
    const auto tree = harness::processTree(child.pid());
    figures.processes = tree.size();
    figures.rssKb = harness::sumRssKb(tree);
    figures.pssKb = harness::sumPssKb(tree);
    figures.programRssKb = harness::sumRssKb({child.pid()});
    figures.outsideTree = outsideTree(child.pid()).size();
    for (pid_t pid : tree)
        figures.commands.push_back(commandOf(pid));

    const harness::CpuSample treeBefore = harness::sampleCpu(tree),
                             xBefore = harness::sampleCpu({xServer});
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const harness::CpuSample treeAfter = harness::sampleCpu(harness::processTree(child.pid())),
                             xAfter = harness::sampleCpu({xServer});
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    figures.treeCpuPercent =
        harness::percentOfCore(harness::ticksBetween(treeBefore, treeAfter), elapsed);
    figures.xCpuPercent = harness::percentOfCore(harness::ticksBetween(xBefore, xAfter), elapsed);
    stopAndWaitGone(x, child, subject);
    return figures;
}

SettingsFigures settingsFigures(harness::X11Session& x, const Subject& lumira, uint32_t colour,
                                int repeats, bool output) {
    SettingsFigures figures;
    Child child(lumira, output);
    const auto display = showPage(x, child, lumira, colour);
    if (!display) {
        stopAndWaitGone(x, child, lumira);
        return figures;
    }
    // Shift+F12 held as a person would hold it: until the window is there.
    auto openSettings = [&]() -> std::optional<double> {
        x.keyDown("Shift_L");
        std::this_thread::sleep_for(30ms);
        const auto start = Clock::now();
        x.keyDown("F12");
        const auto ms = msUntil(
            start, [&] { return !x.findClientWindows(kSettings).empty(); }, 5s);
        x.keyUp("F12");
        x.keyUp("Shift_L");
        return ms;
    };
    for (int i = 0; i < repeats; ++i) {
        if (const auto ms = openSettings())
            figures.open.push_back(*ms);
        else
            std::fprintf(stderr, "bench: c run %d: no settings window\n", i + 1);
        for (xcb_window_t window : x.findClientWindows(kSettings))
            x.closeWindow(window);
        x.waitForNoWindow(kSettings, 5s);
        std::this_thread::sleep_for(200ms);
    }

    openSettings();
    const auto settings = x.waitForWindow(kSettings, 5s);
    for (int i = 0; settings && i < repeats; ++i) {
        const int left = i % 2 ? 100 : 120;
        const std::string text = std::to_string(left);
        // Keys come at a fast typist's pace, kTypingGap apart.
        clickTwips(x, *settings, 840, 1440, 615, 270); // Text_left
        std::this_thread::sleep_for(kTypingGap);
        x.keyDown("Control_L");
        x.tap("a");
        x.keyUp("Control_L");
        for (char digit : text.substr(0, text.size() - 1)) {
            std::this_thread::sleep_for(kTypingGap);
            x.tap(std::string(1, digit));
        }
        std::this_thread::sleep_for(kTypingGap);
        const std::string last = text.substr(text.size() - 1);
        const auto start = Clock::now();
        x.keyDown(last);
        x.keyUp(last);
        if (const auto ms = msUntil(
                start, [&] { return x.rootGeometry(*display).x == left; }, 2s))
            figures.moveBox.push_back(*ms);
        else
            std::fprintf(stderr, "bench: f run %d: display window at x=%d, not %d\n", i + 1,
                         x.rootGeometry(*display).x, left);
        // A pause that varies against the program's 100 ms placement timer.
        std::this_thread::sleep_for(std::chrono::milliseconds(150 + (i * 37) % 100));
    }
    stopAndWaitGone(x, child, lumira);
    x.waitForNoWindow(kSettings, 5s);
    return figures;
}

std::optional<RetryMemory> retryMemory(harness::X11Session& x, const Subject& lumira, int seconds,
                                       bool output) {
    Child child(lumira, output);
    if (!showPage(x, child, lumira, std::nullopt)) {
        stopAndWaitGone(x, child, lumira);
        return std::nullopt;
    }
    std::this_thread::sleep_for(12s); // two failures and retries: the engine has settled
    RetryMemory figures;
    figures.startKb = figures.peakKb = harness::sumRssKb(harness::processTree(child.pid()));
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < end) {
        std::this_thread::sleep_for(std::min<Clock::duration>(5s, end - Clock::now()));
        const auto tree = harness::processTree(child.pid());
        figures.endKb = harness::sumRssKb(tree);
        figures.processes = tree.size();
        figures.peakKb = std::max(figures.peakKb, figures.endKb);
    }
    stopAndWaitGone(x, child, lumira);
    return figures;
}

std::optional<CycleMemory> cycleMemory(harness::X11Session& x, const Subject& lumira, int cycles,
                                       bool output) {
    Child child(lumira, output);
    if (!showPage(x, child, lumira, std::nullopt)) {
        stopAndWaitGone(x, child, lumira);
        return std::nullopt;
    }
    CycleMemory figures;
    const auto start = Clock::now();
    std::vector<pid_t> seen;
    const auto renderer = [&]() -> pid_t {
        const auto found = harness::rendererProcesses(child.pid());
        return found.empty() ? 0 : found.back();
    };
    // A cycle ends when a new renderer has taken over from an ended one.
    while (figures.cycles < cycles && Clock::now() - start < std::chrono::seconds(40 * cycles)) {
        std::this_thread::sleep_for(250ms);
        const pid_t now = renderer();
        if (now == 0 || std::find(seen.begin(), seen.end(), now) != seen.end())
            continue;
        if (!seen.empty()) {
            ++figures.cycles;
            const long long kb = harness::sumRssKb({child.pid()});
            if (figures.cycles == 1)
                figures.afterFirstKb = kb;
            figures.afterLastKb = kb;
        }
        seen.push_back(now);
    }
    figures.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    stopAndWaitGone(x, child, lumira);
    return figures;
}

std::optional<StatusTimes> statusTimes(harness::X11Session& x, const Subject& lumira,
                                       uint32_t colour, unsigned short port, int repeats,
                                       bool output) {
    Child child(lumira, output);
    if (!showPage(x, child, lumira, colour)) {
        stopAndWaitGone(x, child, lumira);
        return std::nullopt;
    }
    std::this_thread::sleep_for(2s); // the window in its place, the engine settled
    const std::string host = harness::loopbackHost(port);
    const auto ask = [&](const std::string& path) {
        return harness::httpExchange("127.0.0.1", port, harness::httpRequest("GET", path, host),
                                     10s);
    };
    StatusTimes times;
    for (int i = -1; i < repeats; ++i) {
        const harness::HttpReply reply = ask("/status");
        if (reply.answered(200) && i >= 0)
            times.status.push_back(reply.ms);
        std::this_thread::sleep_for(50ms);
    }
    for (int i = -1; i < repeats; ++i) {
        std::this_thread::sleep_for(1500ms);
        const harness::HttpReply reply = ask("/screenshot.png");
        const std::string& png = reply.body;
        if (!reply.answered(200) || png.size() < 24 || png.compare(1, 3, "PNG") != 0) {
            std::fprintf(stderr, "bench: k picture %d: %s %d\n", i + 1,
                         harness::outcomeName(reply.outcome), reply.status);
            continue;
        }
        // IHDR: width and height, big-endian, at bytes 16 and 20.
        const auto at = [&](size_t offset) {
            int value = 0;
            for (size_t k = 0; k < 4; ++k)
                value = (value << 8) | static_cast<unsigned char>(png[offset + k]);
            return value;
        };
        times.width = at(16);
        times.height = at(20);
        times.pngBytes = png.size();
        if (i >= 0)
            times.screenshot.push_back(reply.ms);
    }
    stopAndWaitGone(x, child, lumira);
    return times;
}

} // namespace bench
