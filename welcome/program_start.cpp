#include "welcome/program_start.h"

#include "display/browser_engine.h"
#include "display/form1.h"
#include "platform/end_signals.h"
#include "platform/screen_factors.h"
#include "settings/form2.h"
#include "welcome/form3.h"

#include <QApplication>
#include <QEvent>
#include <QIcon>
#include <QPointer>
#include <QTimer>
#include <cstdio>
#include <memory>

namespace lumira {

namespace {

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
    Program() { connect(&endSignals_, &platform::EndSignals::endRequested, this, &Program::end); }

    void showWelcome() {
        auto* form3 = new Form3(platform::screenTwipsPerPixel(), [this] { showDisplay(); });
        form3->show();
        // The engine's libraries load while the operator reads the welcome window, so OK
        // does not wait for them; the engine itself starts with the display window.
        new AfterFirstPaint(form3, [] { loadBrowserEngine(); });
    }

private:
    void showDisplay() {
        if (form1_)
            return;
        if (!loadBrowserEngine()) {
            // The system's browser engine is missing or broken: nothing can be shown.
            std::fprintf(stderr, "lumira: the browser engine could not be loaded: %s\n",
                         browserEngineError().c_str());
            QCoreApplication::exit(1);
            return;
        }
        const TwipsFactors factors = platform::screenTwipsPerPixel();
        form1_ = std::make_unique<Form1>(
            factors, [factors](QWidget* host) { return makeWebBrowser(host, factors); },
            [this]() -> QWidget& { return settingsWindow(); });
        connect(form1_.get(), &Form1::unloading, this, &Program::end);
        form1_->show();
    }

    QWidget& settingsWindow() {
        if (!form2_)
            form2_ = new Form2(*form1_, form1_->factors());
        return *form2_;
    }

    // Ends in order: an open settings window saves its values first.
    void end() {
        if (form2_ && form2_->isVisible())
            form2_->close();
        QCoreApplication::exit(0);
    }

    platform::EndSignals endSignals_;
    std::unique_ptr<Form1> form1_;
    QPointer<Form2> form2_;
};

} // namespace

bool prepareProcess() {
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        if (qEnvironmentVariableIsEmpty("DISPLAY")) {
            std::fputs("lumira: no X display (DISPLAY is not set); Lumira needs X11 or XWayland.\n",
                       stderr);
            return false;
        }
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    return true;
}

int runProgram(QApplication& app) {
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/assets/lumira.png")));
    Program program;
    program.showWelcome();
    return app.exec();
}

} // namespace lumira
