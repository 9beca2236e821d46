// The status report: every fact about the sign the status server and `lumira --status` give,
// as JSON for scripts and in the text format monitoring systems scrape.
#pragma once

#include "status/sign_state.h"

#include <QByteArray>
#include <QDateTime>
#include <QRect>
#include <QString>
#include <optional>

namespace lumira {

struct SignReport {
    QString version;
    QString folder;
    QString address;
    QString engine; // what shows the page, and what it last did of its own accord
    SignHistory history;
    std::optional<QRect> configured; // none before the display window exists
    std::optional<QRect> actual;
    bool above = false;
    bool settingsOpen = false;
    bool screenPicture = true; // the picture is read off the screen, not the window's own
    long long uptimeSeconds = 0;
    double programMiB = 0;
    double rendererMiB = 0;
};

// The window is where it belongs and above.
bool windowPlaced(const SignReport& report);

QByteArray reportJson(const SignReport& report);
QByteArray reportMetrics(const SignReport& report);

// `lumira --status`'s exit status for a report: 0 starting, showing or dark, 2 failing, 1 a
// report that cannot be read.
int exitStatusOf(const QByteArray& json);

} // namespace lumira
