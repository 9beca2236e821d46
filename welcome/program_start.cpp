#include "welcome/program_start.h"

#include "common/options.h"
#include "common/program_folder.h"
#include "common/settings_file.h"
#include "display/browser_engine.h"
#include "display/engine_choice.h"
#include "display/engine_setup.h"
#include "display/form1.h"
#include "display/pointer_hider.h"
#include "display/window_keeper.h"
#include "platform/end_signals.h"
#include "platform/global_shortcuts.h"
#include "platform/opengl_probe.h"
#include "platform/runtime_folder.h"
#include "platform/screen_awake.h"
#include "platform/single_instance.h"
#include "platform/window_state.h"
#include "platform/x11_display.h"
#include "settings/form2.h"
#include "status/sign_watch.h"
#include "status/status_server.h"
#include "ui/module3.h"
#include "ui/screen_twips.h"
#include "welcome/command_line.h"
#include "welcome/form3.h"

#include <QApplication>
#include <QEvent>
#include <QFileInfo>
#include <QIcon>
#include <QPointer>
#include <QTimer>
#include <cstdio>
#include <memory>

namespace lumira {

namespace {

constexpr int kDisplayAnswerMs = 5000;

// Runs `action` once, from the event loop, after `window` has painted for the first time.
class AfterFirstPaint final : public QObject {
public:
    AfterFirstPaint(QWidget* window, std::function<void()> action)
        : QObject(window), action_(std::move(action)) {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            watched->removeEventFilter(this);
            QTimer::singleShot(0, this, [this] {
                action_();
                deleteLater();
            });
        }
        return false;
    }

private:
    std::function<void()> action_;
};

// The program's windows: each exists at most once and is created when first shown.
class Program final : public QObject {
public:
    explicit Program(platform::SingleInstance& instance) {
        // Section Options is read once, at start: AutoEnter is needed by the welcome window.
        const QString cfgfn = settingsFile();
        options_ = readOptions(
            [&cfgfn](const std::string& key) { return readSetting(cfgfn, "Options", key); },
            physicalMemoryMiB());
        // Which engine shows the page is settled before its module loads behind the welcome
        // window.
        setChosenEngine(chooseEngine(options_.engine,
                                     findChromium(qEnvironmentVariable("PATH").toStdString())));
        if (!chosenEngine().warning.empty())
            std::fprintf(stderr, "lumira: %s\n", chosenEngine().warning.c_str());
        const std::string exposed = exposedTokenWarning(cfgfn, options_.statusToken);
        if (!exposed.empty())
            std::fprintf(stderr, "lumira: %s\n", exposed.c_str());
        connect(&endSignals_, &platform::EndSignals::endRequested, this, &Program::end);
        connect(&instance, &platform::SingleInstance::activationRequested, this,
                &Program::comeForward);
        connect(&instance, &platform::SingleInstance::settingsRequested, this,
                &Program::openSettings);
        instance.setReply(platform::SingleInstance::Request::Report, [this](const QByteArray&) {
            SignReport report = watch_.report();
            addMemory(report);
            return reportJson(report);
        });
        answerCommands(instance, watch_);
        startStatusServer();
    }

    void showWelcome() {
        auto* form3 = new Form3(
            screenTwipsPerPixel(), [this] { showDisplay(); }, options_.autoEnterSeconds);
        form3_ = form3;
        form3->show();
        // The engine's libraries load while the operator reads the welcome window, so OK
        // does not wait for them; the engine itself starts with the display window. Its shared
        // OpenGL context comes first, from the probe.
        new AfterFirstPaint(form3, [] {
            if (chosenEngine().kind == EngineKind::QtWebEngine)
                platform::probeOpenGl();
            loadBrowserEngine();
        });
    }

private:
    void showDisplay() {
        if (form1_)
            return;
        // Before Qt WebEngine, also when OK came before the first paint; Chromium has its own.
        if (chosenEngine().kind == EngineKind::QtWebEngine)
            platform::probeOpenGl();
        if (!loadBrowserEngine()) {
            // The system's browser engine is missing or broken: nothing can be shown.
            std::fprintf(stderr, "lumira: the browser engine could not be loaded: %s\n",
                         browserEngineError().c_str());
            QCoreApplication::exit(1);
            return;
        }
        prepareEngineDrawing(parseRenderingOption(options_.rendering));
        const TwipsFactors factors = screenTwipsPerPixel();
        const WatchLimits limits{options_.loadTimeoutSeconds, options_.hangTimeoutSeconds,
                                 options_.memoryLimitMiB};
        const CoverOptions cover{options_.offlinePage, options_.staleAfterMinutes};
        form1_ = std::make_unique<Form1>(
            factors,
            [factors, limits, cover](QWidget* host) {
                return makeWebBrowser(host, factors, limits, cover);
            },
            [this]() -> QWidget& { return settingsWindow(); },
            SignHours{options_.darkHours, options_.reloadEveryMinutes});
        connect(form1_.get(), &Form1::unloading, this, &Program::end);
        form1_->show();
        // What keeps the sign showing for months without anyone at the PC.
        watch_.attach(*form1_, new WindowKeeper(*form1_));
        new PointerHider(*form1_);
        new platform::ScreenAwake(form1_.get());
        if (platform::inWaylandSession()) {
            // Shift+F12 reaches an X11 program there only while an X11 window has the focus.
            auto* shortcuts = new platform::GlobalShortcuts(form1_.get());
            connect(shortcuts, &platform::GlobalShortcuts::activated, this, &Program::openSettings);
            connect(shortcuts, &platform::GlobalShortcuts::settled, this,
                    &Program::tellWhoServesTheHotkey);
        }
    }

    // Off unless section Options asks for it.
    void startStatusServer() {
        const ListenPlan plan = planListening(options_.status, options_.statusToken);
        if (!plan.warning.empty())
            std::fprintf(stderr, "lumira: %s\n", plan.warning.c_str());
        if (plan.enabled)
            server_ = std::make_unique<StatusServer>(watch_, plan, options_.statusToken);
    }

    static void tellWhoServesTheHotkey(bool portal) {
        std::fputs(portal ? "lumira: Wayland session: Shift+F12 is served by the desktop's "
                            "global shortcuts portal\n"
                          : "lumira: Wayland session without a global shortcuts portal: Shift+F12 "
                            "is seen only while an X11 window has the focus; bind it to "
                            "'lumira --settings' in the desktop's keyboard settings\n",
                   stderr);
    }

    QWidget& settingsWindow() {
        if (!form2_)
            form2_ = new Form2(*form1_, form1_->factors());
        return *form2_;
    }

    // Another launch from this folder: the window in use comes forward instead of a second
    // copy: the welcome window before OK, then the display window and an open settings window.
    void comeForward() {
        if (form3_) {
            platform::raiseAndActivate(*form3_);
            return;
        }
        if (form1_)
            Module3::setTopmost(*form1_);
        if (form2_ && form2_->isVisible())
            Module3::setTopmost(*form2_);
    }

    // `lumira --settings` or the desktop's global shortcut: Shift+F12 where the program cannot
    // see it. Before OK the welcome window comes forward instead.
    void openSettings() {
        if (form1_)
            form1_->showSettings();
        else
            comeForward();
    }

    // Ends in order: an open settings window saves its values first.
    void end() {
        if (form2_ && form2_->isVisible())
            form2_->close();
        QCoreApplication::exit(0);
    }

    platform::EndSignals endSignals_;
    Options options_; // section Options, read once at start
    QPointer<Form3> form3_;
    std::unique_ptr<Form1> form1_;
    QPointer<Form2> form2_;
    SignWatch watch_;                      // what the status report tells
    std::unique_ptr<StatusServer> server_; // stopped first, before the windows go
};

} // namespace

bool prepareProcess(int argc, char** argv) {
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    // A session's scale factors would put the page off the sign's device pixels.
    for (const char* scale :
         {"QT_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS", "QT_AUTO_SCREEN_SCALE_FACTOR"})
        qunsetenv(scale);
    const QString platform = qEnvironmentVariable("QT_QPA_PLATFORM");
    // The test platforms run without any window system.
    const bool windowless = platform.startsWith(QLatin1String("offscreen")) ||
                            platform.startsWith(QLatin1String("minimal"));
    if (!windowless) {
        const std::string display = platform::chosenDisplay(argc, argv);
        if (display.empty()) {
            std::fputs("lumira: no X display (DISPLAY is not set); Lumira needs X11 or XWayland.\n",
                       stderr);
            return false;
        }
        if (!platform::displayAnswers(display, kDisplayAnswerMs)) {
            std::fprintf(stderr,
                         "lumira: the X display %s cannot be reached; Lumira needs X11 or "
                         "XWayland.\n",
                         display.c_str());
            return false;
        }
        qputenv("DISPLAY", QByteArray::fromStdString(display)); // the watches use it too
        if (!platform.isEmpty() && platform != QLatin1String("xcb"))
            std::fprintf(stderr,
                         "lumira: QT_QPA_PLATFORM=%s ignored; Lumira runs on X11 (XWayland in a "
                         "Wayland session)\n",
                         qPrintable(platform));
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    platform::ensureRuntimeFolder();
    prepareEngineProcess();
    return true;
}

int runProgram(QApplication& app) {
    // One copy per program folder: a second launch brings the first one forward and ends.
    platform::SingleInstance instance(oneCopyKey());
    if (!instance.isFirst()) {
        std::fputs("lumira: Lumira already runs from this folder; its window comes forward\n",
                   stderr);
        return 0;
    }
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/assets/lumira.png")));
    Program program(instance);
    program.showWelcome();
    return app.exec();
}

} // namespace lumira
