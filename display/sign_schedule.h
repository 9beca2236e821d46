#pragma once

#include "common/dark_hours.h"

#include <QObject>
#include <QTimer>
#include <vector>

namespace lumira {

// From section Options of lumira.ini.
struct SignHours {
    std::vector<DarkRange> darkHours; // DarkHours: the sign shows black inside them
    int reloadEveryMinutes = 0;       // ReloadEvery: the page loaded again, 0: never
};

// The display window's clock: dark hours and the scheduled reload. The clock is looked at
// just after each whole minute rather than once with a long timer, since a PC without a
// battery clock jumps when its time is set over the network.
class SignSchedule final : public QObject {
    Q_OBJECT
public:
    SignSchedule(QObject* parent, SignHours hours);

    // Inside dark hours, and the settings window is closed.
    bool dark() const { return dark_; }
    // While the settings window is open the page shows, dark hours or not.
    void setSettingsOpen(bool open);

signals:
    void darkChanged(bool dark);
    // ReloadEvery minutes have passed since the last one.
    void reloadDue();

private:
    void lookAtClock();

    SignHours hours_;
    QTimer minute_;
    QTimer reload_;
    bool settingsOpen_ = false;
    bool dark_ = false;
};

} // namespace lumira
