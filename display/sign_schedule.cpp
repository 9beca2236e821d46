#include "display/sign_schedule.h"

#include <QTime>

namespace lumira {

namespace {
constexpr int kPastTheMinuteMs = 50;

int minuteOfDay(const QTime& time) {
    return time.hour() * 60 + time.minute();
}

// Just after the next whole minute.
int msToNextMinute(const QTime& time) {
    return 60000 - (time.second() * 1000 + time.msec()) + kPastTheMinuteMs;
}
} // namespace

SignSchedule::SignSchedule(QObject* parent, SignHours hours)
    : QObject(parent), hours_(std::move(hours)) {
    minute_.setSingleShot(true);
    connect(&minute_, &QTimer::timeout, this, &SignSchedule::lookAtClock);
    if (hours_.reloadEveryMinutes > 0) {
        reload_.setInterval(hours_.reloadEveryMinutes * 60 * 1000);
        connect(&reload_, &QTimer::timeout, this, &SignSchedule::reloadDue);
        reload_.start();
    }
    if (!hours_.darkHours.empty())
        lookAtClock(); // no one listens yet: this only sets where start-up begins
}

void SignSchedule::setSettingsOpen(bool open) {
    settingsOpen_ = open;
    if (!hours_.darkHours.empty())
        lookAtClock();
}

void SignSchedule::lookAtClock() {
    const QTime now = QTime::currentTime();
    minute_.start(msToNextMinute(now));
    const bool dark = !settingsOpen_ && isDark(hours_.darkHours, minuteOfDay(now));
    if (dark == dark_)
        return;
    dark_ = dark;
    emit darkChanged(dark);
}

} // namespace lumira
