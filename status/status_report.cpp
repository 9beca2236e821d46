#include "status/status_report.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

namespace lumira {

namespace {

// Local time with its offset, "+00:00" rather than "Z" in UTC.
QJsonValue isoTime(const QDateTime& time) {
    if (!time.isValid())
        return QJsonValue::Null;
    const int offset = time.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) + (offset < 0 ? '-' : '+') +
           QStringLiteral("%1:%2")
               .arg(minutes / 60, 2, 10, QChar('0'))
               .arg(minutes % 60, 2, 10, QChar('0'));
}

QJsonValue rectObject(const std::optional<QRect>& rect) {
    if (!rect)
        return QJsonValue::Null;
    return QJsonObject{
        {"x", rect->x()}, {"y", rect->y()}, {"w", rect->width()}, {"h", rect->height()}};
}

double tenths(double value) {
    return double(qRound64(value * 10)) / 10;
}

// One metric family: its help and type lines, then its samples.
class Metrics {
public:
    void family(const char* name, const char* type, const char* help) {
        text_ += QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
    }
    void sample(const char* name, const QByteArray& labels, double value) {
        text_ += name;
        if (!labels.isEmpty())
            text_ += '{' + labels + '}';
        text_ += ' ' + QByteArray::number(value, 'g', 15) + '\n';
    }
    QByteArray text() const { return text_; }

private:
    QByteArray text_;
};

} // namespace

bool windowPlaced(const SignReport& report) {
    return report.configured && report.actual && *report.configured == *report.actual &&
           report.above;
}

QByteArray reportJson(const SignReport& report) {
    const SignHistory& h = report.history;
    QJsonValue failure = QJsonValue::Null;
    if (h.lastFailure.isValid())
        failure = QJsonObject{{"time", isoTime(h.lastFailure)}, {"reason", h.lastFailureReason}};
    const QJsonObject json{
        {"version", report.version},
        {"folder", report.folder},
        {"address", report.address},
        {"engine", report.engine},
        {"state", stateName(h.state)},
        {"since", isoTime(h.since)},
        {"last_success", isoTime(h.lastSuccess)},
        {"last_failure", failure},
        {"failures_total", h.failuresTotal},
        {"renderer_restarts",
         QJsonObject{{"crash", h.crashes}, {"hang", h.hangs}, {"memory", h.memory}}},
        {"rect", QJsonObject{{"configured", rectObject(report.configured)},
                             {"actual", rectObject(report.actual)}}},
        {"above", report.above},
        {"settings_open", report.settingsOpen},
        {"screenshot", report.screenPicture ? "screen" : "window"},
        {"uptime_s", report.uptimeSeconds},
        {"memory_mib", QJsonObject{{"program", tenths(report.programMiB)},
                                   {"renderer", tenths(report.rendererMiB)}}},
    };
    return QJsonDocument(json).toJson(QJsonDocument::Indented);
}

QByteArray reportMetrics(const SignReport& report) {
    const SignHistory& h = report.history;
    Metrics m;
    m.family("lumira_up", "gauge", "1 while the program runs and answers.");
    m.sample("lumira_up", {}, 1);
    m.family("lumira_state", "gauge", "1 for the sign's current state, 0 for the others.");
    for (const SignStateName state : {SignStateName::Starting, SignStateName::Showing,
                                      SignStateName::Retrying, SignStateName::Dark})
        m.sample("lumira_state", QByteArray("state=\"") + stateName(state) + '"',
                 h.state == state ? 1 : 0);
    m.family("lumira_load_failures_total", "counter", "Page loads that failed since start.");
    m.sample("lumira_load_failures_total", {}, double(h.failuresTotal));
    m.family("lumira_renderer_restarts_total", "counter",
             "Renderer processes replaced since start, by cause.");
    m.sample("lumira_renderer_restarts_total", "reason=\"crash\"", double(h.crashes));
    m.sample("lumira_renderer_restarts_total", "reason=\"hang\"", double(h.hangs));
    m.sample("lumira_renderer_restarts_total", "reason=\"memory\"", double(h.memory));
    m.family("lumira_last_success_timestamp_seconds", "gauge",
             "When a page last reached the screen, seconds since the epoch; 0 never.");
    m.sample("lumira_last_success_timestamp_seconds", {},
             h.lastSuccess.isValid() ? double(h.lastSuccess.toMSecsSinceEpoch()) / 1000 : 0);
    m.family("lumira_resident_memory_bytes", "gauge",
             "Resident memory of the program and of its page's renderers.");
    m.sample("lumira_resident_memory_bytes", "process=\"program\"",
             std::round(report.programMiB * 1048576));
    m.sample("lumira_resident_memory_bytes", "process=\"renderer\"",
             std::round(report.rendererMiB * 1048576));
    m.family("lumira_window_placed", "gauge",
             "1 while the sign's window is at its rectangle and above every window.");
    m.sample("lumira_window_placed", {}, windowPlaced(report) ? 1 : 0);
    m.family("lumira_uptime_seconds", "gauge", "Seconds since the program started.");
    m.sample("lumira_uptime_seconds", {}, double(report.uptimeSeconds));
    return m.text();
}

int exitStatusOf(const QByteArray& json) {
    const QJsonDocument document = QJsonDocument::fromJson(json);
    if (!document.isObject())
        return 1;
    const QString state = document.object().value("state").toString();
    if (state == QLatin1String("retrying"))
        return 2;
    if (state == QLatin1String("starting") || state == QLatin1String("showing") ||
        state == QLatin1String("dark"))
        return 0;
    return 1;
}

} // namespace lumira
