#include "status/sign_watch.h"

#include "common/program_folder.h"
#include "display/browser.h"
#include "display/form1.h"
#include "display/placement.h"
#include "display/window_keeper.h"
#include "platform/renderer_end.h"
#include "platform/x11_display.h"
#include "version.h"

#include <QGuiApplication>
#include <QScreen>
#include <unistd.h>

namespace lumira {

SignWatch::SignWatch(QObject* parent) : QObject(parent), state_(QDateTime::currentDateTime()) {
    uptime_.start();
}

void SignWatch::attach(Form1& display, WindowKeeper* keeper) {
    display_ = &display;
    keeper_ = keeper;
    Browser& browser = display.wb1();
    connect(&browser, &Browser::pageShown, this,
            [this] { state_.shown(QDateTime::currentDateTime()); });
    connect(&browser, &Browser::failureNoted, this,
            [this](const QString& reason) { state_.failed(QDateTime::currentDateTime(), reason); });
    connect(&browser, &Browser::rendererRestarted, this,
            [this](const QString& why) { state_.rendererRestarted(why); });
    connect(&display, &Form1::darkChanged, this,
            [this](bool dark) { state_.darkChanged(QDateTime::currentDateTime(), dark); });
    if (display.dark())
        state_.darkChanged(QDateTime::currentDateTime(), true);
}

SignReport SignWatch::report() const {
    SignReport report;
    report.version =
        QStringLiteral("%1.%2.%3").arg(version::major).arg(version::minor).arg(version::revision);
    report.folder = programFolder();
    report.history = state_.history();
    report.uptimeSeconds = uptime_.elapsed() / 1000;
    report.screenPicture = !platform::inWaylandSession();
    if (!display_)
        return report;
    report.address = display_->URL;
    report.settingsOpen = display_->settingsOpen();
    const QRect window = display_->placedGeometry();
    const QRect page = pageRect(*display_);
    report.configured = page;
    report.engine = display_->wb1().engine();
    if (const auto facts = keeper_ ? keeper_->pageWindowFacts() : std::nullopt) {
        // The browser's own window shows the page.
        report.actual = facts->client;
        report.above = facts->above && facts->viewable && !facts->minimised;
    } else if (const auto facts = keeper_ ? keeper_->facts() : std::nullopt) {
        // The page as the window actually stands: its client area less the window's margin.
        report.actual =
            QRect(facts->client.topLeft(), facts->client.size() - (window.size() - page.size()));
        report.above = facts->above && facts->viewable && !facts->minimised;
    }
    return report;
}

void addMemory(SignReport& report) {
    report.programMiB = platform::residentMiB(::getpid());
    for (const qint64 pid : platform::ourRenderers())
        report.rendererMiB += platform::ownMemoryMiB(pid);
}

QImage SignWatch::picture() const {
    if (!display_)
        return {};
    const QRect rect = pageRect(*display_);
    if (platform::inWaylandSession())
        return display_->grab(QRect(QPoint(0, 0), rect.size())).toImage();
    QScreen* screen = QGuiApplication::screenAt(rect.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QPoint origin = screen->geometry().topLeft();
    return screen
        ->grabWindow(0, rect.x() - origin.x(), rect.y() - origin.y(), rect.width(), rect.height())
        .toImage();
}

SignWatch::Outcome SignWatch::reload() {
    if (!display_)
        return Outcome::NoWindow;
    return display_->reloadPage() ? Outcome::Done : Outcome::Dark;
}

SignWatch::Outcome SignWatch::takeAddress(const QString& address) {
    if (!display_)
        return Outcome::NoWindow;
    // The settings window saves its own address box when it closes.
    if (display_->settingsOpen())
        return Outcome::SettingsOpen;
    return display_->takeAddress(address) ? Outcome::Done : Outcome::NotSaved;
}

const char* whyNotDone(SignWatch::Outcome outcome) {
    switch (outcome) {
    case SignWatch::Outcome::Done:
        break;
    case SignWatch::Outcome::NoWindow:
        return "the sign is not showing yet: OK on the welcome window opens it";
    case SignWatch::Outcome::Dark:
        return "dark hours: the page loads when they end";
    case SignWatch::Outcome::SettingsOpen:
        return "the settings window is open; its close saves its own address";
    case SignWatch::Outcome::NotSaved:
        return "the configuration file could not be written";
    }
    return "";
}

} // namespace lumira
