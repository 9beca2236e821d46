#pragma once

#include "common/twips.h"
#include "display/page_retry.h"
#include "display/sign_schedule.h"

#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

class Browser;
namespace lumira::platform {
class KeyState;
}

// Form1, the display window: borderless, above every other window, no taskbar button. Its
// face is the browser wb1 at the rectangle from lumira.ini. It watches Shift+F12 for the
// settings window and loads its start-up page again after a failure.
class Form1 final : public QWidget {
    Q_OBJECT
public:
    using BrowserFactory = std::function<std::unique_ptr<Browser>(QWidget* host)>;
    // Returns the settings window, loading it when it is not loaded.
    using SettingsWindow = std::function<QWidget&()>;

    Form1(lumira::TwipsFactors factors, BrowserFactory makeBrowser, SettingsWindow settings,
          lumira::SignHours hours = {});
    ~Form1() override;

    QString cfgfn; // configuration file path, read by the settings window
    QString URL;   // the page-error retry loads it: the start-up address, then the saved one

    // The settings window has written the configuration file: from now on the retry loads
    // the address as stored there, as the next start would.
    void takeSavedAddress();

    Browser& wb1() { return *wb1_; }
    lumira::PageRetry& Timer_err() { return retry_; }
    lumira::TwipsFactors factors() const { return factors_; }

    // Position and size in twips, as the settings window sets them live.
    void setLeft(float twips);
    void setTop(float twips);
    void setWidth(float twips);
    void setHeight(float twips);
    // Opens the settings window and puts it on top, as Shift+F12 does.
    void showSettings();
    // Where the window belongs, in device pixels: as start-up or the settings window put it.
    QRect placedGeometry() const { return placed_; }

    // Dark hours: the sign shows black and its page is unloaded.
    bool dark() const { return schedule_.dark(); }
    bool settingsOpen() const { return settingsOpen_; }
    // Loads URL again, as the scheduled reload does; false in dark hours, when nothing loads.
    bool reloadPage();
    // Stores `address` as URL in the configuration file, as the settings window's close saves
    // it, and loads it (after the dark hours, when they hold). False when the file could not
    // be written; nothing then changes.
    bool takeAddress(const QString& address);

signals:
    // The exit prompt was answered Yes: the program is to end.
    void unloading();
    void darkChanged(bool dark);
    // The window's place or size was set (placedGeometry), before the window system has it.
    void placed();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override; // the settings window's show/hide

private:
    void Form_Load();
    bool Form_QueryUnload(); // true cancels the unload
    void sysKey_Timer_Timer();
    void wb1_NavigateError();
    void Timer_err_Timer();
    void schedule_DarkChanged(bool dark);
    void schedule_ReloadDue();
    void watchedKeysChanged(bool anyDown);
    bool keyTest(int virtualKey) const;

    // Timer_err's switch is a QTimer.
    class ErrTimer final : public lumira::RetrySwitch {
    public:
        QTimer timer;
        void switchOn() override { timer.start(); }
        void switchOff() override { timer.stop(); }
        bool isOn() const override { return timer.isActive(); }
    };

    lumira::TwipsFactors factors_;
    QRect placed_{0, 0, 1, 1};
    std::unique_ptr<Browser> wb1_;
    SettingsWindow settings_;
    std::unique_ptr<lumira::platform::KeyState> keys_;
    QTimer sysKey_Timer; // Shift+F12 poll, 5 ms, running while Shift or F12 is down
    ErrTimer errTimer_;  // Timer_err, 5000 ms
    lumira::PageRetry retry_;
    lumira::SignSchedule schedule_;
    bool settingsOpen_ = false;
};
