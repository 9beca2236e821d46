#include "display/form1.h"

#include "common/ini_sm.h"
#include "common/program_folder.h"
#include "common/settings_file.h"
#include "display/browser.h"
#include "display/exit_prompt.h"
#include "display/placement.h"
#include "display/startup_values.h"
#include "platform/key_state.h"
#include "platform/window_state.h"
#include "ui/module3.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QSessionManager>

namespace {
constexpr int kVirtualKeyShift = 16;
constexpr int kVirtualKeyF12 = 123;
constexpr int kKeyPollMs = 5;
constexpr int kRetryWaitMs = 5000;

// Shown when no address is stored.
QString defaultPage() {
    return lumira::inProgramFolder(QStringLiteral("start.htm"));
}
} // namespace

Form1::Form1(lumira::TwipsFactors factors, BrowserFactory makeBrowser, SettingsWindow settings,
             lumira::SignHours hours)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint), factors_(factors),
      wb1_(makeBrowser(this)), settings_(std::move(settings)),
      keys_(lumira::platform::KeyState::create()), retry_(*wb1_, errTimer_, URL),
      schedule_(this, std::move(hours)) {
    setWindowTitle(QStringLiteral("LED客户端"));
    setAutoFillBackground(true);
    QPalette background = palette();
    background.setColor(QPalette::Window, QColor(192, 192, 192));
    setPalette(background);

    sysKey_Timer.setInterval(kKeyPollMs);
    errTimer_.timer.setInterval(kRetryWaitMs);

    connect(&sysKey_Timer, &QTimer::timeout, this, &Form1::sysKey_Timer_Timer);
    connect(keys_.get(), &lumira::platform::KeyState::watchedKeysChanged, this,
            &Form1::watchedKeysChanged);
    connect(wb1_.get(), &Browser::NavigateError, this, &Form1::wb1_NavigateError);
    connect(&errTimer_.timer, &QTimer::timeout, this, &Form1::Timer_err_Timer);
    connect(&schedule_, &lumira::SignSchedule::darkChanged, this, &Form1::schedule_DarkChanged);
    connect(&schedule_, &lumira::SignSchedule::reloadDue, this, &Form1::schedule_ReloadDue);
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager& session) {
        if (session.allowsInteraction() && Form_QueryUnload())
            session.cancel();
    });

    Form_Load();
}

Form1::~Form1() = default;

void Form1::Form_Load() {
    cfgfn = lumira::settingsFile();
    const lumira::StartupValues values = lumira::readStartupValues(
        [this](const std::string& key) { return lumira::readSetting(cfgfn, "Main", key); },
        defaultPage());
    URL = values.url;

    lumira::placeDisplay(*this, values.left, values.top, values.width, values.height, factors_);
    if (schedule_.dark())
        wb1_->setDark(true); // started in dark hours: the page loads when they end
    else
        wb1_->Navigate(URL);
    lumira::platform::markSkipTaskbar(*this);
    Module3::setTopmost(*this);
}

void Form1::takeSavedAddress() {
    URL = lumira::startupAddress(lumira::readSetting(cfgfn, "Main", "URL"), defaultPage());
}

void Form1::setLeft(float twips) {
    placed_.moveLeft(lumira::toPixels(twips, factors_.x));
    setGeometry(placed_);
    emit placed();
}

void Form1::setTop(float twips) {
    placed_.moveTop(lumira::toPixels(twips, factors_.y));
    setGeometry(placed_);
    emit placed();
}

void Form1::setWidth(float twips) {
    placed_.setWidth(std::max(1, lumira::toPixels(twips, factors_.x)));
    setGeometry(placed_);
    emit placed();
}

void Form1::setHeight(float twips) {
    placed_.setHeight(std::max(1, lumira::toPixels(twips, factors_.y)));
    setGeometry(placed_);
    emit placed();
}

void Form1::closeEvent(QCloseEvent* event) {
    if (Form_QueryUnload()) {
        event->ignore();
        return;
    }
    event->accept();
    emit unloading();
}

bool Form1::Form_QueryUnload() {
    return !lumira::askToExit(this, windowTitle());
}

void Form1::watchedKeysChanged(bool anyDown) {
    // The poll runs only while a watched key is held, so an idle sign costs nothing; the
    // first tick runs at once, at the key press itself.
    if (!anyDown) {
        sysKey_Timer.stop();
        return;
    }
    if (!sysKey_Timer.isActive())
        sysKey_Timer.start();
    sysKey_Timer_Timer();
}

bool Form1::keyTest(int virtualKey) const {
    using Key = lumira::platform::KeyState::Key;
    switch (virtualKey) {
    case kVirtualKeyF12:
        return keys_->isDown(Key::F12);
    case kVirtualKeyShift:
        return keys_->isDown(Key::Shift);
    default:
        return false;
    }
}

void Form1::sysKey_Timer_Timer() {
    if (keyTest(kVirtualKeyF12) && keyTest(kVirtualKeyShift))
        showSettings();
}

void Form1::showSettings() {
    QWidget& form2 = settings_();
    form2.removeEventFilter(this);
    form2.installEventFilter(this);
    form2.show();
    Module3::setTopmost(form2);
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Show || event->type() == QEvent::Hide) {
        settingsOpen_ = event->type() == QEvent::Show;
        schedule_.setSettingsOpen(settingsOpen_);
    }
    return QWidget::eventFilter(watched, event);
}

void Form1::wb1_NavigateError() {
    if (schedule_.dark())
        return; // the page is unloaded on purpose
    retry_.failed();
}

void Form1::schedule_DarkChanged(bool dark) {
    emit darkChanged(dark);
    if (dark) {
        retry_.cancel();
        wb1_->setDark(true);
        return;
    }
    wb1_->setDark(false);
    wb1_->Navigate(URL);
}

bool Form1::reloadPage() {
    if (schedule_.dark())
        return false;
    wb1_->Navigate(URL);
    return true;
}

bool Form1::takeAddress(const QString& address) {
    const std::string value = address.toStdString();
    lumira::prepareSettingsWrite(cfgfn);
    // One replacement of the file, as the settings window saves it.
    writeIniValues("Main", {{"URL", value}}, cfgfn.toStdString());
    if (lumira::readSetting(cfgfn, "Main", "URL") != value)
        return false;
    takeSavedAddress();
    if (!schedule_.dark())
        wb1_->Navigate(URL);
    return true;
}

void Form1::schedule_ReloadDue() {
    // A pending retry loads the same address soon anyway.
    if (!schedule_.dark() && !retry_.pending())
        wb1_->Navigate(URL);
}

void Form1::Timer_err_Timer() {
    retry_.due();
}
