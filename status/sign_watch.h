#pragma once

#include "status/sign_state.h"
#include "status/status_report.h"

#include <QElapsedTimer>
#include <QImage>
#include <QObject>
#include <QPointer>

class Form1;

namespace lumira {
class WindowKeeper;

// Follows the sign on the window's thread for the status report: the browser's successes and
// failures, the dark hours, renderer restarts; and answers for the display window, which it
// reaches only here: its facts, its picture, the two remote commands.
class SignWatch final : public QObject {
    Q_OBJECT
public:
    explicit SignWatch(QObject* parent = nullptr);

    // The display window exists from now on (after OK on the welcome window).
    void attach(Form1& display, WindowKeeper* keeper);

    // Every fact but the memory figures (see addMemory), read now.
    SignReport report() const;
    // The configured rectangle as the screen shows it, covering windows included; in a Wayland
    // session, where the screen cannot be read, the display window's own picture. Null before
    // the display window exists.
    QImage picture() const;

    enum class Outcome { Done, NoWindow, Dark, SettingsOpen, NotSaved };
    Outcome reload();
    Outcome takeAddress(const QString& address);

private:
    // The page's rectangle on the screen, where the window is placed: the sign's pixels.

    QPointer<Form1> display_;
    QPointer<WindowKeeper> keeper_;
    SignState state_;
    QElapsedTimer uptime_;
};

// Why a command was not carried out, in one line; an empty text for Done.
const char* whyNotDone(SignWatch::Outcome outcome);

// The program's and its renderers' memory: read from /proc, on any thread.
void addMemory(SignReport& report);

} // namespace lumira
