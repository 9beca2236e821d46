// Times and resource use of the sign's program against minimal Qt programs doing the same
// thing, on the X display in $DISPLAY (bench/run.sh provides one). Prints a table; the exit
// code is 0 whatever the figures are.
#include "bench/measure.h"
#include "bench/report.h"
#include "tests/e2e/lumira_under_test.h"
#include "tests/harness/process_tree.h"
#include "tests/harness/program_runner.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QUrl>
#include <algorithm>
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
    std::string only = "abcdefg"; // the figures to measure
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
        else if (const char* v = value("--only"))
            options.only = v;
        else if (arg == "--show-output")
            options.showOutput = true;
        else {
            std::fprintf(
                stderr,
                "usage: %s [--program-dir=DIR] [--ref-label=EXE] [--ref-webview=EXE] "
                "[--idle-seconds=N] [--retry-seconds=N] [--only=abcdefg] [--show-output]\n",
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
    harness::X11Session x;
    harness::ProgramRunner folder(options.programDir);
    folder.writeFile("start.htm", e2e::solidPage(kPageColour));
    const QString pageUrl =
        QUrl::fromLocalFile(QString::fromStdString(folder.folder() + "/start.htm")).toString();

    const Subject lumira{"lumira",
                         QString::fromStdString(folder.executable()),
                         {},
                         e2e::kWelcome,
                         e2e::kDisplay,
                         [](harness::X11Session& s, xcb_window_t welcome) {
                             const harness::Rect c = s.rootGeometry(welcome);
                             // OK button, twips 3720,1080 975x375 at 15 twips per pixel
                             s.click(c.x + (3720 + 975 / 2) / 15, c.y + (1080 + 375 / 2) / 15);
                         }};
    const Subject label{"bench_ref_label", options.refLabel, {},
                        "Reference",       "ReferencePage",  nullptr};
    const Subject webview{"bench_ref_webview",
                          options.refWebview,
                          {pageUrl},
                          "Reference",
                          "ReferencePage",
                          [](harness::X11Session& s, xcb_window_t window) {
                              const harness::Rect c = s.rootGeometry(window);
                              s.click(c.x + c.w / 2, c.y + c.h / 2);
                          }};
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
        folder.writeIni("[Main]\r\nURL=http://127.0.0.1:1/sign\r\n");
        const auto memory = retryMemory(x, lumira, options.retrySeconds, out);
        folder.removeFile("lumira.ini");
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

    std::printf("Lumira benchmark on DISPLAY=%s; times in ms as median / worst; runs: a %d, b %d "
                "(+1 warm-up each), c/f %d; p = processes in the tree\n",
                qgetenv("DISPLAY").constData(), options.launchRuns, options.paintRuns,
                options.repeats);
    printTable(rows);
    return 0;
}
