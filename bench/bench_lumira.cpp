// Times and resource use of the sign's program against minimal Qt programs doing the same
// thing, on the X display in $DISPLAY (bench/run.sh provides one). Prints a table; the exit
// code is 0 whatever the figures are.
#include "bench/measure.h"
#include "bench/report.h"
#include "tests/e2e/lumira_under_test.h"
#include "tests/harness/http_client.h"
#include "tests/harness/process_tree.h"
#include "tests/harness/program_runner.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUrl>
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

using namespace bench;

namespace {

constexpr uint32_t kPageColour = 0x1f8f4a;

struct Options {
    std::string programDir = LUMIRA_PROGRAM_DIR;
    QString refLabel = BENCH_REF_LABEL;
    QString refWebview = BENCH_REF_WEBVIEW;
    int idleSeconds = 30;
    int retrySeconds = 180;
    int launchRuns = 7, paintRuns = 5, repeats = 20;
    bool showOutput = false;
    int animatedRuns = 3, animatedSeconds = 10, memoryCycles = 20;
    std::string beforeDir;           // an earlier build's program folder, for figure j
    std::string only = "abcdefghil"; // the figures to measure; j needs --before-dir, k is long
    bool wants(char figure) const { return only.find(figure) != std::string::npos; }
};

Options parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](const std::string& key) -> const char* {
            return arg.rfind(key + "=", 0) == 0 ? argv[i] + key.size() + 1 : nullptr;
        };
        if (const char* v = value("--program-dir"))
            options.programDir = v;
        else if (const char* v = value("--ref-label"))
            options.refLabel = QFileInfo(QString::fromLocal8Bit(v)).absoluteFilePath();
        else if (const char* v = value("--ref-webview"))
            options.refWebview = QFileInfo(QString::fromLocal8Bit(v)).absoluteFilePath();
        else if (const char* v = value("--idle-seconds"))
            options.idleSeconds = std::max(1, std::atoi(v));
        else if (const char* v = value("--retry-seconds"))
            options.retrySeconds = std::max(5, std::atoi(v));
        else if (const char* v = value("--before-dir"))
            options.beforeDir = v;
        else if (const char* v = value("--only"))
            options.only = v;
        else if (arg == "--show-output")
            options.showOutput = true;
        else {
            std::fprintf(
                stderr,
                "usage: %s [--program-dir=DIR] [--ref-label=EXE] [--ref-webview=EXE] "
                "[--idle-seconds=N] [--retry-seconds=N] [--only=abcdefghijkl] [--before-dir=DIR] "
                "[--show-output]\n",
                argv[0]);
            std::exit(2);
        }
    }
    return options;
}

void progress(const char* what) {
    std::fprintf(stderr, "bench: %s\n", what);
}

// Runs `measure` on both subjects `runs` times plus one unrecorded warm-up each, alternating
// which goes first so slow drift of the machine falls on both alike.
template <typename Measure>
std::pair<std::vector<double>, std::vector<double>> interleaved(int runs, Measure measure) {
    std::vector<double> lumira, reference;
    for (int round = -1; round < runs; ++round) {
        for (int k = 0; k < 2; ++k) {
            const bool lumiraTurn = (round + k) % 2 == 0;
            const auto ms = measure(lumiraTurn);
            if (ms && round >= 0)
                (lumiraTurn ? lumira : reference).push_back(*ms);
        }
    }
    return {lumira, reference};
}

// lumira.ini for the figures measured on Qt WebEngine, the engine they were set for; without
// it the program would take Chromium where it is installed.
std::string qtIni(const std::vector<std::string>& main = {},
                  const std::vector<std::string>& options = {}) {
    return iniText("qtwebengine", main, options);
}

// "median / worst", with the count of runs that gave a figure when some did not.
std::string timesText(const std::vector<double>& ms, int runs) {
    const std::string text = medianWorst(ms);
    return int(ms.size()) == runs
               ? text
               : text + " (" + std::to_string(ms.size()) + "/" + std::to_string(runs) + ")";
}

Row ratioRow(const std::string& figure,
             const std::pair<std::vector<double>, std::vector<double>>& r, int runs, double limit) {
    const double ratio = median(r.second) > 0 ? median(r.first) / median(r.second) : 0;
    const bool complete = int(r.first.size()) == runs && int(r.second.size()) == runs;
    return {figure,
            timesText(r.first, runs),
            timesText(r.second, runs),
            fixed(ratio, 2) + "x",
            "<= " + fixed(limit, 1) + "x ref median",
            complete && ratio > 0 && ratio <= limit};
}

// A sign's typical page: a line of text scrolling by (CSS animation) and a clock, on the page
// colour, leaving the probe pixel's area plain.
std::string animatedPage() {
    return "<!doctype html><html><head><meta charset=\"utf-8\"><title>Animated</title><style>"
           "html,body{margin:0;height:100%;overflow:hidden;background:#1f8f4a;color:#ff0}"
           "#clock{position:absolute;top:2px;left:4px;font:bold 20px sans-serif}"
           "#line{position:absolute;bottom:4px;white-space:nowrap;font:bold 28px sans-serif;"
           "animation:by 8s linear infinite}"
           "@keyframes by{from{transform:translateX(100vw)}to{transform:translateX(-100%)}}"
           "</style></head><body><div id=\"clock\"></div>"
           "<div id=\"line\">欢迎光临 Lumira LED 显示屏 今日特价 12:00 开始</div><script>"
           "function t(){document.getElementById('clock').textContent="
           "new Date().toLocaleTimeString();}t();setInterval(t,1000);</script></body></html>";
}

Subject lumiraSubject(const harness::ProgramRunner& folder) {
    return {"lumira",
            QString::fromStdString(folder.executable()),
            {},
            e2e::kWelcome,
            e2e::kDisplay,
            [](harness::X11Session& s, xcb_window_t welcome) {
                const harness::Rect c = s.rootGeometry(welcome);
                // OK button, twips 3720,1080 975x375 at 15 twips per pixel
                s.click(c.x + (3720 + 975 / 2) / 15, c.y + (1080 + 375 / 2) / 15);
            }};
}

Subject webviewSubject(const Options& options, const QStringList& arguments) {
    return {"bench_ref_webview",
            options.refWebview,
            arguments,
            "Reference",
            "ReferencePage",
            [](harness::X11Session& s, xcb_window_t window) {
                const harness::Rect c = s.rootGeometry(window);
                s.click(c.x + c.w / 2, c.y + c.h / 2);
            }};
}

// CPU of the program tree plus the X server while an animated page runs, median over runs.
struct Animated {
    std::vector<double> cpu;
    std::vector<double> rssMiB;
};

Animated runAnimated(harness::X11Session& x, const Subject& subject, pid_t xServer,
                     const Options& options, bool out) {
    Animated figures;
    for (int run = 0; run < options.animatedRuns; ++run) {
        if (const auto f =
                idleFigures(x, subject, kPageColour, xServer, options.animatedSeconds, out)) {
            figures.cpu.push_back(f->treeCpuPercent + f->xCpuPercent);
            figures.rssMiB.push_back(double(f->rssKb) / 1024);
        }
    }
    return figures;
}

// Chromium showing the page (of that title) as an application window at the sign's rectangle,
// when installed, with a fresh profile for every start; `software` as the program decides when
// OpenGL is not accelerated.
std::optional<Subject> chromiumSubject(const QString& pageUrl, const std::string& title, int width,
                                       int height, bool software) {
    const QString chromium = QStringLiteral("/usr/bin/chromium");
    if (!QFileInfo(chromium).isExecutable())
        return std::nullopt;
    QStringList arguments{QStringLiteral("--app=") + pageUrl,
                          QStringLiteral("--window-position=100,100"),
                          QStringLiteral("--window-size=%1,%2").arg(width).arg(height),
                          QStringLiteral("--no-first-run"),
                          QStringLiteral("--no-default-browser-check"),
                          QStringLiteral("--disable-background-networking"),
                          QStringLiteral("--disable-component-update"),
                          QStringLiteral("--disable-sync")};
    if (software)
        arguments << QStringLiteral("--disable-gpu") << QStringLiteral("--disable-gpu-compositing");
    if (geteuid() == 0)
        arguments << QStringLiteral("--no-sandbox");
    Subject subject{"chromium", chromium, arguments,
                    title,      title,    [](harness::X11Session&, xcb_window_t) {}};
    subject.freshProfile = true;
    return subject;
}

// Figure h: an animated page at two sizes, as the program draws it now, as it drew before
// (Rendering=gpu), in a bare QWebEngineView window and in Chromium's application mode; then
// the footprint and OK -> first paint, now against before.
std::vector<Row> animatedFigures(harness::X11Session& x, harness::ProgramRunner& folder,
                                 const Options& options, bool out) {
    std::vector<Row> rows;
    const pid_t xServer =
        harness::findXServer(qEnvironmentVariable("DISPLAY").toStdString()).value_or(0);
    folder.writeFile("start.htm", animatedPage());
    const QString pageUrl =
        QUrl::fromLocalFile(QString::fromStdString(folder.folder() + "/start.htm")).toString();
    const Subject lumira = lumiraSubject(folder);
    const auto useIni = [&](int width, int height, bool gpu) {
        folder.writeIni(
            qtIni({"wWidth=" + std::to_string(width), "wHeight=" + std::to_string(height)},
                  gpu ? std::vector<std::string>{"Rendering=gpu"} : std::vector<std::string>{}));
    };
    const auto cpuText = [](const Animated& a) {
        return a.cpu.empty() ? std::string("no page") : fixed(median(a.cpu), 1) + " %";
    };
    Animated before320, now320;
    for (auto [width, height] : {std::pair{320, 240}, {960, 540}}) {
        const std::string size = std::to_string(width) + "x" + std::to_string(height);
        progress(("h: animated page " + size).c_str());
        useIni(width, height, false);
        const Animated now = runAnimated(x, lumira, xServer, options, out);
        useIni(width, height, true);
        const Animated before = runAnimated(x, lumira, xServer, options, out);
        const Animated bare =
            runAnimated(x, webviewSubject(options, {pageUrl, QString::fromStdString(size)}),
                        xServer, options, out);
        const auto chromium = chromiumSubject(pageUrl, "Animated", width, height, false);
        const Animated app =
            chromium ? runAnimated(x, *chromium, xServer, options, out) : Animated{};
        if (width == 320) {
            before320 = before;
            now320 = now;
        }
        const std::string what = "h animated " + size + ", CPU tree + X (% core, " +
                                 std::to_string(options.animatedSeconds) + " s, median of " +
                                 std::to_string(options.animatedRuns) + ")";
        const double ratioBare = bare.cpu.empty() || now.cpu.empty()
                                     ? 0
                                     : median(now.cpu) / std::max(0.01, median(bare.cpu));
        rows.push_back({what + " vs bare QWebEngineView", cpuText(now), cpuText(bare),
                        fixed(ratioBare, 2) + "x", "<= 0.25x ref",
                        ratioBare > 0 && ratioBare <= 0.25});
        rows.push_back({what + " vs drawn as before (gpu)", cpuText(now), cpuText(before),
                        before.cpu.empty() || now.cpu.empty()
                            ? "-"
                            : fixed(median(now.cpu) / std::max(0.01, median(before.cpu)), 2) + "x",
                        "-", false, true});
        if (chromium) {
            const double ratio = app.cpu.empty() || now.cpu.empty()
                                     ? 0
                                     : median(now.cpu) / std::max(0.01, median(app.cpu));
            rows.push_back({what + " vs Chromium --app", cpuText(now), cpuText(app),
                            fixed(ratio, 2) + "x", "<= 2x ref", ratio > 0 && ratio <= 2});
        } else {
            rows.push_back({what + " vs Chromium --app", cpuText(now), "not installed", "-", "-",
                            false, true});
        }
    }
    if (!now320.rssMiB.empty() && !before320.rssMiB.empty()) {
        const double ratio = median(now320.rssMiB) / median(before320.rssMiB);
        rows.push_back({"h footprint RSS 320x240 (MiB), now vs before",
                        fixed(median(now320.rssMiB)), fixed(median(before320.rssMiB)),
                        fixed(ratio, 3) + "x", "<= 1.0x before", ratio <= 1.0});
    }
    progress("h: OK -> first paint, now vs before");
    useIni(320, 240, false);
    folder.writeFile("start.htm", e2e::solidPage(kPageColour));
    const auto paint = interleaved(options.paintRuns, [&](bool now) {
        useIni(320, 240, !now);
        return clickToPaint(x, lumira, kPageColour, out);
    });
    rows.push_back(
        ratioRow("h OK -> page painted (ms), now vs before", paint, options.paintRuns, 1.0));
    folder.writeIni(qtIni());
    return rows;
}

// Figure j: what keeping the page's frame and covering its loads cost, against an earlier
// build of the program in the same run: idle CPU with a static page, CPU with the animated
// page at 960x540, and the program's own memory with a 1920x1080 page shown and its frame kept.
std::vector<Row> coverFigures(harness::X11Session& x, harness::ProgramRunner& now,
                              const Options& options, bool out) {
    std::vector<Row> rows;
    harness::ProgramRunner before(options.beforeDir, "lumira-before");
    const pid_t xServer =
        harness::findXServer(qEnvironmentVariable("DISPLAY").toStdString()).value_or(0);
    const Subject subjects[2] = {lumiraSubject(now), lumiraSubject(before)};
    const auto setUp = [&](const std::string& page, const std::string& ini) {
        for (harness::ProgramRunner* folder : {&now, &before}) {
            folder->writeFile("start.htm", page);
            folder->writeIni(ini);
        }
    };
    // CPU now and before, each run as the animated figure runs it, and the row comparing them.
    const auto cpuRow = [&](const std::string& what, const Options& runs, bool ratio, double bar) {
        // Interleaved, so that whatever else the machine does falls on both alike.
        Animated a[2];
        Options one = runs;
        one.animatedRuns = 1;
        for (int run = 0; run < runs.animatedRuns; ++run) {
            for (int i = 0; i < 2; ++i) {
                const Animated figures = runAnimated(x, subjects[i], xServer, one, out);
                a[i].cpu.insert(a[i].cpu.end(), figures.cpu.begin(), figures.cpu.end());
            }
        }
        const std::string figure =
            what + " (% core, median of " + std::to_string(runs.animatedRuns) + ")";
        if (a[0].cpu.empty() || a[1].cpu.empty()) {
            rows.push_back({figure, "no page", "-", "-", "-", false});
            return;
        }
        const double n = median(a[0].cpu), b = median(a[1].cpu);
        rows.push_back({figure, fixed(n, 2), fixed(b, 2),
                        ratio ? fixed(n / b, 3) + "x" : (n >= b ? "+" : "") + fixed(n - b, 2),
                        ratio ? "<= " + fixed(bar, 2) + "x before" : "<= before + " + fixed(bar, 1),
                        ratio ? n / b <= bar : n - b <= bar});
    };

    Options runs = options;
    runs.animatedRuns = 5;
    progress("j: idle static page, now and before");
    setUp(e2e::solidPage(kPageColour), qtIni());
    Options idle = runs;
    idle.animatedSeconds = options.idleSeconds;
    cpuRow("j idle CPU, static page, tree + X", idle, false, 0.1);

    progress("j: animated page 960x540, now and before");
    setUp(animatedPage(), qtIni({"wWidth=960", "wHeight=540"}));
    cpuRow("j animated 960x540, CPU tree + X", runs, true, 1.05);

    progress("j: program memory with a 1920x1080 page and its frame, now and before");
    setUp(e2e::solidPage(kPageColour), qtIni({"wLeft=0", "wTop=0", "wWidth=1920", "wHeight=1080"}));
    std::vector<double> memory[2];
    for (int run = 0; run < options.animatedRuns; ++run) {
        for (int i = 0; i < 2; ++i) {
            if (const auto f = idleFigures(x, subjects[i], kPageColour, xServer, 1, out))
                memory[i].push_back(double(f->programRssKb) / 1024);
        }
    }
    if (memory[0].empty() || memory[1].empty()) {
        rows.push_back({"j program RSS, 1920x1080 page", "no page", "-", "-", "-", false});
    } else {
        const double n = median(memory[0]), b = median(memory[1]);
        rows.push_back({"j program RSS, 1920x1080 page shown (MiB, median of " +
                            std::to_string(options.animatedRuns) + ")",
                        fixed(n, 1), fixed(b, 1), (n >= b ? "+" : "") + fixed(n - b, 1),
                        "<= before + 8 MiB", n - b <= 8});
    }
    now.writeIni(qtIni());
    now.writeFile("start.htm", e2e::solidPage(kPageColour));
    return rows;
}

// Figure k: the status server on loopback with a 1920x1080 sign: how long /status and a new
// picture take to answer, and what the server costs while nobody asks (idle CPU of the tree and
// the X server, as figure d measures it), on against off in runs taken in turns.
std::vector<Row> statusFigures(harness::X11Session& x, harness::ProgramRunner& folder,
                               const Options& options, bool out) {
    constexpr int kIdleRuns = 5;
    std::vector<Row> rows;
    const pid_t xServer =
        harness::findXServer(qEnvironmentVariable("DISPLAY").toStdString()).value_or(0);
    const std::vector<std::string> sign{"wLeft=0", "wTop=0", "wWidth=1920", "wHeight=1080"};
    // A port of its own for every start: the last one's closed connections may still hold theirs.
    const auto useIni = [&](bool statusOn) {
        const unsigned short port = harness::freeLoopbackPort();
        folder.writeIni(statusOn ? qtIni(sign, {"Status=" + std::to_string(port)}) : qtIni(sign));
        return port;
    };
    folder.writeFile("start.htm", e2e::solidPage(kPageColour));
    const Subject lumira = lumiraSubject(folder);

    progress("k: answers of the status server on loopback, 1920x1080 sign");
    const unsigned short port = useIni(true);
    const auto times = statusTimes(x, lumira, kPageColour, port, options.repeats, out);
    const std::string runs = std::to_string(options.repeats) + " runs";
    if (times) {
        rows.push_back({"k GET /status on loopback (ms, " + runs + ")",
                        timesText(times->status, options.repeats), "-", "-", "-", false, true});
        rows.push_back({"k GET /screenshot.png, a new " + std::to_string(times->width) + "x" +
                            std::to_string(times->height) + " picture (ms, " + runs + ")",
                        timesText(times->screenshot, options.repeats) + ", " +
                            fixed(double(times->pngBytes) / 1024) + " KiB",
                        "-", "-", "-", false, true});
    } else {
        rows.push_back({"k status server answers", "page not shown", "-", "-", "-", false});
    }

    progress("k: idle CPU with the status server on and off");
    std::vector<double> cpu[2]; // on, off
    for (int run = 0; run < kIdleRuns; ++run) {
        for (int k = 0; k < 2; ++k) {
            const bool statusOn = (run + k) % 2 == 0; // which goes first alternates
            useIni(statusOn);
            if (const auto f =
                    idleFigures(x, lumira, kPageColour, xServer, options.idleSeconds, out))
                cpu[statusOn ? 0 : 1].push_back(f->treeCpuPercent + f->xCpuPercent);
        }
    }
    const std::string figure = "k idle CPU, tree + X, Status on vs off (% core, " +
                               std::to_string(options.idleSeconds) + " s, median of " +
                               std::to_string(kIdleRuns) + ")";
    if (cpu[0].empty() || cpu[1].empty() || !xServer) {
        rows.push_back({figure, cpu[0].empty() ? "no page" : "-", cpu[1].empty() ? "no page" : "-",
                        xServer ? "-" : "no X pid", "-", false});
    } else {
        const double on = median(cpu[0]), off = median(cpu[1]);
        rows.push_back({figure, fixed(on, 2), fixed(off, 2),
                        (on >= off ? "+" : "") + fixed(on - off, 2), "<= off + 0.05",
                        on - off <= 0.05});
    }
    folder.writeIni(qtIni());
    return rows;
}

// A page of one colour with a title, by which Chromium's window is found.
std::string staticPage() {
    return "<!doctype html><html><head><meta charset=\"utf-8\"><title>Static</title><style>"
           "html,body{margin:0;height:100%;overflow:hidden;background:#1f8f4a}</style></head>"
           "<body></body></html>";
}

// Runs `measure` on figure l's three subjects `runs` times, each round starting with the next
// subject so slow drift of the machine falls on all alike, after one unrecorded round when
// `warmUp`.
template <typename T, typename Measure>
std::array<std::vector<T>, 3> rounds(int runs, bool warmUp, Measure measure) {
    std::array<std::vector<T>, 3> results;
    for (int round = warmUp ? -1 : 0; round < runs; ++round) {
        for (int k = 0; k < 3; ++k) {
            const int which = (round + 3 + k) % 3;
            const std::optional<T> value = measure(which);
            if (value && round >= 0)
                results[which].push_back(*value);
        }
    }
    return results;
}

// The median with its unit, and how many runs gave a figure when some did not.
std::string medianText(const std::vector<double>& values, int runs, const std::string& unit,
                       int decimals = 1) {
    if (values.empty())
        return "no page";
    const std::string text = fixed(median(values), decimals) + unit;
    return int(values.size()) == runs
               ? text
               : text + " (" + std::to_string(values.size()) + "/" + std::to_string(runs) + ")";
}

// Figure l: the program on its Chromium engine against Chromium alone (chromium --app, drawing
// as the program makes it draw) at the sign's 960x540 rectangle, with the Qt WebEngine engine
// beside: CPU with the animated page, the tree's footprint, idle CPU with a static page, the
// first paint; and that the program's process tree holds its Chromium and leaves none behind.
std::vector<Row> chromiumEngineFigures(harness::X11Session& x, harness::ProgramRunner& folder,
                                       const Options& options, bool out) {
    enum { kEngine, kAlone, kQt }; // the three subjects
    constexpr int kIdleRuns = 3;
    std::vector<Row> rows;
    const pid_t xServer =
        harness::findXServer(qEnvironmentVariable("DISPLAY").toStdString()).value_or(0);
    const QString pageUrl =
        QUrl::fromLocalFile(QString::fromStdString(folder.folder() + "/start.htm")).toString();
    const std::vector<std::string> sign{"wLeft=100", "wTop=100", "wWidth=960", "wHeight=540"};
    Subject engine = lumiraSubject(folder), qt = lumiraSubject(folder);
    engine.name = "lumira Engine=chromium";
    qt.name = "lumira Engine=qtwebengine";

    progress("l: the program's Chromium, its arguments and process tree");
    folder.writeFile("start.htm", staticPage());
    folder.writeIni(iniText("chromium", sign));
    const auto probe = idleFigures(x, engine, kPageColour, xServer, 1, out);
    const auto browser =
        probe ? std::find_if(probe->commands.begin(), probe->commands.end(),
                             [](const std::string& c) {
                                 return c.find(" --remote-debugging-pipe") != std::string::npos;
                             })
              : std::vector<std::string>::const_iterator{};
    if (!probe || browser == probe->commands.end()) {
        rows.push_back({"l the program's Chromium", probe ? "not in its tree" : "page not shown",
                        "-", "-", "-", false});
        folder.writeIni(qtIni());
        return rows;
    }
    const bool software = (*browser + " ").find(" --disable-gpu ") != std::string::npos;
    const auto aloneAnimated = chromiumSubject(pageUrl, "Animated", 960, 540, software);
    const auto aloneStatic = chromiumSubject(pageUrl, "Static", 960, 540, software);
    if (!aloneAnimated || !aloneStatic) {
        rows.push_back({"l against Chromium alone", "-", "not installed", "-", "-", false});
        folder.writeIni(qtIni());
        return rows;
    }
    const auto subject = [&](int which, const Subject& alone) -> const Subject& {
        if (which != kAlone)
            folder.writeIni(iniText(which == kEngine ? "chromium" : "qtwebengine", sign));
        return which == kEngine ? engine : which == kAlone ? alone : qt;
    };

    progress("l: animated page 960x540, CPU and footprint; Chromium engine, alone, Qt WebEngine");
    folder.writeFile("start.htm", animatedPage());
    size_t missed = probe->outsideTree; // processes of the program's groups the walk missed
    const auto animated = rounds<IdleFigures>(options.animatedRuns, true, [&](int which) {
        const auto f = idleFigures(x, subject(which, *aloneAnimated), kPageColour, xServer,
                                   options.animatedSeconds, out);
        if (f && which == kEngine)
            missed = std::max(missed, f->outsideTree);
        return f;
    });
    progress("l: idle CPU with a static page; Chromium engine, alone, Qt WebEngine");
    folder.writeFile("start.htm", staticPage());
    const auto idle = rounds<IdleFigures>(kIdleRuns, false, [&](int which) {
        return idleFigures(x, subject(which, *aloneStatic), kPageColour, xServer,
                           options.idleSeconds, out);
    });
    progress("l: first paint; Chromium engine, alone, Qt WebEngine");
    const auto paint = rounds<double>(options.paintRuns, true, [&](int which) {
        const Subject& s = subject(which, *aloneStatic);
        return which == kAlone ? launchToPaint(x, s, kPageColour, out)
                               : clickToPaint(x, s, kPageColour, out);
    });
    folder.writeIni(qtIni());
    folder.writeFile("start.htm", e2e::solidPage(kPageColour));

    const auto field = [](const std::vector<IdleFigures>& runs, double (*of)(const IdleFigures&)) {
        std::vector<double> values;
        for (const IdleFigures& f : runs)
            values.push_back(of(f));
        return values;
    };
    // One engine of the program against Chromium alone: medians and their ratio, barred for
    // the Chromium engine.
    const auto ratioRows = [&](const std::string& figure,
                               const std::array<std::vector<double>, 3>& v, int runs,
                               const std::string& unit, double bar) {
        for (int which : {kEngine, kQt}) {
            const double ratio = v[which].empty() || median(v[kAlone]) <= 0
                                     ? 0
                                     : median(v[which]) / median(v[kAlone]);
            const bool complete = int(v[which].size()) == runs && int(v[kAlone].size()) == runs;
            rows.push_back({figure + (which == kEngine ? ", Chromium engine" : ", Qt WebEngine"),
                            medianText(v[which], runs, unit), medianText(v[kAlone], runs, unit),
                            ratio > 0 ? fixed(ratio, 2) + "x" : "-",
                            which == kEngine ? "<= " + fixed(bar, 2) + "x ref" : "-",
                            complete && ratio > 0 && ratio <= bar, which == kQt});
        }
    };
    const auto split = [&](const std::array<std::vector<IdleFigures>, 3>& runs,
                           double (*of)(const IdleFigures&)) {
        return std::array<std::vector<double>, 3>{field(runs[0], of), field(runs[1], of),
                                                  field(runs[2], of)};
    };
    const auto cpu = [](const IdleFigures& f) { return f.treeCpuPercent + f.xCpuPercent; };
    const auto pss = [](const IdleFigures& f) { return double(f.pssKb) / 1024; };
    const auto rss = [](const IdleFigures& f) { return double(f.rssKb) / 1024; };
    const auto processes = [](const IdleFigures& f) { return double(f.processes); };
    const std::string of = " (median of " + std::to_string(options.animatedRuns);
    ratioRows("l animated 960x540, CPU tree + X" + of + ", " +
                  std::to_string(options.animatedSeconds) + " s)",
              split(animated, cpu), options.animatedRuns, " %", 1.15);
    ratioRows("l footprint PSS of the tree, animated page" + of + ")", split(animated, pss),
              options.animatedRuns, " MiB", 1.1);
    ratioRows("l footprint RSS of the tree, animated page" + of + ")", split(animated, rss),
              options.animatedRuns, " MiB", 1.1);
    const auto count = split(animated, processes);
    rows.push_back({"l processes in the tree, animated page, Chromium engine",
                    medianText(count[kEngine], options.animatedRuns, "p", 0),
                    medianText(count[kAlone], options.animatedRuns, "p", 0),
                    "Qt: " + medianText(count[kQt], options.animatedRuns, "p", 0), "-", false,
                    true});

    const auto idleCpu = split(idle, cpu);
    for (int which : {kEngine, kQt}) {
        const bool complete =
            idleCpu[which].size() == kIdleRuns && idleCpu[kAlone].size() == kIdleRuns;
        const double more = median(idleCpu[which]) - median(idleCpu[kAlone]);
        rows.push_back({"l idle CPU, static page, tree + X (median of " +
                            std::to_string(kIdleRuns) + ", " + std::to_string(options.idleSeconds) +
                            " s)" + (which == kEngine ? ", Chromium engine" : ", Qt WebEngine"),
                        medianText(idleCpu[which], kIdleRuns, " %", 2),
                        medianText(idleCpu[kAlone], kIdleRuns, " %", 2),
                        complete ? (more >= 0 ? "+" : "") + fixed(more, 2) : "-",
                        which == kEngine ? "<= ref + 0.1" : "-", complete && more <= 0.1,
                        which == kQt});
    }

    for (int which : {kEngine, kQt}) {
        const bool both = !paint[which].empty() && median(paint[kAlone]) > 0;
        rows.push_back({std::string("l OK -> page painted (ms; ref: start -> painted), ") +
                            (which == kEngine ? "Chromium engine" : "Qt WebEngine"),
                        timesText(paint[which], options.paintRuns),
                        timesText(paint[kAlone], options.paintRuns),
                        both ? fixed(median(paint[which]) / median(paint[kAlone]), 2) + "x" : "-",
                        "-", false, true});
    }

    // The tree walk by parent pid must find Chromium below the program, though it runs in a
    // process group of its own.
    const std::string executable = browser->substr(0, browser->find(' '));
    const auto chromiumProcesses =
        std::count_if(probe->commands.begin(), probe->commands.end(), [&](const std::string& c) {
            return c.compare(0, executable.size(), executable) == 0;
        });
    rows.push_back(
        {"l the program's tree holds its Chromium (at the first page)",
         std::to_string(probe->processes) + "p, " + std::to_string(chromiumProcesses) + " Chromium",
         "-", std::to_string(missed) + " missed", "Chromium in it, 0 missed",
         chromiumProcesses >= 2 && missed == 0});
    rows.push_back({"l Chromium draws, in the program and alone", software ? "software" : "GPU",
                    software ? "software" : "GPU", "-", "same --disable-gpu", false, true});

    const auto& tally = leftBehindTally();
    const auto leftText = [&](const Subject& s) {
        const auto found = tally.find(s.name);
        const LeftBehind counts = found == tally.end() ? LeftBehind{} : found->second;
        return std::to_string(counts.processes) + "p in " + std::to_string(counts.dirtyStops) +
               "/" + std::to_string(counts.stops) + " stops";
    };
    const auto engineLeft = tally.find(engine.name);
    rows.push_back({"l processes running 5 s after the program was killed", leftText(engine),
                    leftText(*aloneStatic), "Qt: " + leftText(qt), "none",
                    engineLeft != tally.end() && engineLeft->second.stops > 0 &&
                        engineLeft->second.processes == 0});
    return rows;
}

Row aloneRow(const std::string& figure, const std::vector<double>& ms, int runs, double limit) {
    return {figure,
            timesText(ms, runs),
            "-",
            "-",
            "median < " + fixed(limit, 0) + " ms",
            int(ms.size()) == runs && median(ms) < limit};
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const Options options = parse(argc, argv);
    // Profiles and caches the engines keep go to a folder of the run's own, not the user's.
    QTemporaryDir cache;
    if (!cache.isValid() || !qputenv("XDG_CACHE_HOME", QFile::encodeName(cache.path()))) {
        std::fprintf(stderr, "bench: no folder for the engines' caches\n");
        return 1;
    }
    harness::X11Session x;
    harness::ProgramRunner folder(options.programDir);
    folder.writeFile("start.htm", e2e::solidPage(kPageColour));
    folder.writeIni(qtIni());
    const QString pageUrl =
        QUrl::fromLocalFile(QString::fromStdString(folder.folder() + "/start.htm")).toString();

    const Subject lumira = lumiraSubject(folder);
    const Subject label{"bench_ref_label", options.refLabel, {},
                        "Reference",       "ReferencePage",  nullptr};
    const Subject webview = webviewSubject(options, {pageUrl});
    const bool out = options.showOutput;
    std::vector<Row> rows;

    if (options.wants('a')) {
        progress("a: launch to first window");
        const auto launch = interleaved(
            options.launchRuns, [&](bool l) { return launchToWindow(x, l ? lumira : label, out); });
        rows.push_back(
            ratioRow("a launch -> welcome/Reference mapped (ms)", launch, options.launchRuns, 1.2));
    }

    if (options.wants('b')) {
        progress("b: click to first paint of the page");
        const auto paint = interleaved(options.paintRuns, [&](bool l) {
            return clickToPaint(x, l ? lumira : webview, kPageColour, out);
        });
        rows.push_back(
            ratioRow("b OK/go click -> page pixel painted (ms)", paint, options.paintRuns, 1.1));
    }

    SettingsFigures settings;
    if (options.wants('c') || options.wants('f')) {
        progress("c, f: settings window and live placement");
        settings = settingsFigures(x, lumira, kPageColour, options.repeats, out);
    }
    if (options.wants('c'))
        rows.push_back(
            aloneRow("c Shift+F12 -> settings mapped (ms)", settings.open, options.repeats, 50));

    const auto xServer = harness::findXServer(qEnvironmentVariable("DISPLAY").toStdString());
    std::optional<IdleFigures> idleL, idleR;
    if (options.wants('d') || options.wants('e')) {
        progress("d, e: idle page, memory then CPU (lumira)");
        idleL = idleFigures(x, lumira, kPageColour, xServer.value_or(0), options.idleSeconds, out);
        progress("d, e: idle page, memory then CPU (reference)");
        idleR = idleFigures(x, webview, kPageColour, xServer.value_or(0), options.idleSeconds, out);
    }
    const std::string secs = std::to_string(options.idleSeconds) + " s";
    if (idleL && idleR) {
        const double tree = idleL->treeCpuPercent - idleR->treeCpuPercent;
        const double xs = idleL->xCpuPercent - idleR->xCpuPercent;
        rows.push_back({"d idle CPU, program tree (% core, " + secs + ")",
                        fixed(idleL->treeCpuPercent, 2), fixed(idleR->treeCpuPercent, 2),
                        (tree >= 0 ? "+" : "") + fixed(tree, 2), "-", false, true});
        rows.push_back({"d idle CPU, X server (% core, " + secs + ")",
                        xServer ? fixed(idleL->xCpuPercent, 2) : "no X pid",
                        xServer ? fixed(idleR->xCpuPercent, 2) : "no X pid",
                        (xs >= 0 ? "+" : "") + fixed(xs, 2), "-", false, true});
        // The bar: the key watch, the program and the X server together cost no measurable
        // CPU over the same engine showing the same page without any watch.
        rows.push_back({"d idle CPU, tree + X server (% core, " + secs + ")",
                        fixed(idleL->treeCpuPercent + idleL->xCpuPercent, 2),
                        fixed(idleR->treeCpuPercent + idleR->xCpuPercent, 2),
                        (tree + xs >= 0 ? "+" : "") + fixed(tree + xs, 2), "<= ref + 0.1",
                        xServer && tree + xs <= 0.1});
        // RSS carries the bar: PSS shares pages out among every process on the machine mapping
        // the same libraries, so it moves with whatever else runs.
        auto memoryRow = [&](const std::string& what, long long l, long long r, bool barred) {
            const double ratio = r > 0 ? double(l) / double(r) : 0;
            auto mib = [&](long long kb, size_t n) {
                return fixed(double(kb) / 1024) + " MiB/" + std::to_string(n) + "p";
            };
            rows.push_back({"e memory " + what + ", tree after 5 s idle", mib(l, idleL->processes),
                            mib(r, idleR->processes), fixed(ratio, 3) + "x",
                            barred ? "<= 1.05x ref" : "-", ratio > 0 && ratio <= 1.05, !barred});
        };
        memoryRow("RSS", idleL->rssKb, idleR->rssKb, true);
        memoryRow("PSS", idleL->pssKb, idleR->pssKb, false);
    } else if (options.wants('d') || options.wants('e')) {
        rows.push_back({"d/e idle page", idleL ? "ok" : "page not shown",
                        idleR ? "ok" : "page not shown", "-", "-", false});
    }

    if (options.wants('f'))
        rows.push_back(aloneRow("f left box typed -> window moved (ms)", settings.moveBox,
                                options.repeats, 110));

    if (options.wants('g')) {
        progress("g: memory over retries of a failing start-up address");
        // Port 1 on loopback refuses every connection: each load fails and is retried.
        folder.writeIni(qtIni({"URL=http://127.0.0.1:1/sign"}));
        const auto memory = retryMemory(x, lumira, options.retrySeconds, out);
        folder.writeIni(qtIni());
        const std::string figure =
            "g memory RSS over " + std::to_string(options.retrySeconds) + " s of retries";
        if (memory) {
            const double ratio = double(memory->endKb) / double(memory->startKb);
            auto mib = [](long long kb) { return fixed(double(kb) / 1024); };
            rows.push_back({figure,
                            mib(memory->startKb) + " -> " + mib(memory->endKb) + " MiB (peak " +
                                mib(memory->peakKb) + ")/" + std::to_string(memory->processes) +
                                "p",
                            "-", fixed(ratio, 3) + "x", "<= 1.05x its start", ratio <= 1.05});
        } else {
            rows.push_back({figure, "display window not shown", "-", "-", "-", false});
        }
    }

    if (options.wants('h')) {
        const auto add = [&](const std::vector<Row>& more) {
            rows.insert(rows.end(), more.begin(), more.end());
        };
        add(animatedFigures(x, folder, options, out));
    }

    if (options.wants('i')) {
        progress("i: program memory over renderer restarts of a page that eats memory");
        folder.writeFile("start.htm",
                         e2e::solidPage(kPageColour, "var kept=[];setInterval(function(){"
                                                     "kept.push(new Array(1000000).fill("
                                                     "Math.random()));},100);"));
        folder.writeIni(qtIni({}, {"MemoryLimit=64"}));
        const auto memory = cycleMemory(x, lumira, options.memoryCycles, out);
        folder.writeIni(qtIni());
        folder.writeFile("start.htm", e2e::solidPage(kPageColour));
        const std::string figure = "i program RSS over renderer restarts (MemoryLimit=64)";
        if (memory && memory->cycles > 1) {
            const double ratio = double(memory->afterLastKb) / double(memory->afterFirstKb);
            rows.push_back({figure,
                            fixed(double(memory->afterFirstKb) / 1024) + " -> " +
                                fixed(double(memory->afterLastKb) / 1024) + " MiB over " +
                                std::to_string(memory->cycles) + " cycles, " +
                                fixed(memory->seconds, 0) + " s",
                            "-", fixed(ratio, 3) + "x", "<= 1.05x after the first", ratio <= 1.05});
        } else {
            rows.push_back({figure, "no restarts seen", "-", "-", "-", false});
        }
    }

    if (options.wants('j') && !options.beforeDir.empty())
        for (const Row& row : coverFigures(x, folder, options, out))
            rows.push_back(row);

    if (options.wants('k'))
        for (const Row& row : statusFigures(x, folder, options, out))
            rows.push_back(row);

    if (options.wants('l'))
        for (const Row& row : chromiumEngineFigures(x, folder, options, out))
            rows.push_back(row);

    std::printf("Lumira benchmark on DISPLAY=%s; times in ms as median / worst; runs: a %d, b %d "
                "(+1 warm-up each), c/f %d; p = processes in the tree\n",
                qgetenv("DISPLAY").constData(), options.launchRuns, options.paintRuns,
                options.repeats);
    printTable(rows);
    return 0;
}
