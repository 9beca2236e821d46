// What the sign has been doing, for the status report: its state and since when, its last
// success and failure, and how often its renderer had to be replaced and why.
#pragma once

#include <QDateTime>
#include <QString>

namespace lumira {

enum class SignStateName { Starting, Showing, Retrying, Dark };

struct SignHistory {
    SignStateName state = SignStateName::Starting;
    QDateTime since;
    QDateTime lastSuccess; // null: no page has reached the screen yet
    QDateTime lastFailure; // null: nothing has failed
    QString lastFailureReason;
    long long failuresTotal = 0;
    long long crashes = 0; // renderer restarts by cause
    long long hangs = 0;
    long long memory = 0;
};

// Starting until the page shows; Showing while it does; Retrying from a failure until a page
// shows again; Dark in dark hours, Starting again when they end and the page loads. A failure
// in dark hours is the page being unloaded on purpose and is not counted.
class SignState {
public:
    explicit SignState(const QDateTime& start);

    void shown(const QDateTime& at);
    void failed(const QDateTime& at, const QString& reason);
    void darkChanged(const QDateTime& at, bool dark);
    // `why`: "crash", "hang" or "memory".
    void rendererRestarted(const QString& why);

    const SignHistory& history() const { return history_; }

private:
    void enter(SignStateName state, const QDateTime& at);

    SignHistory history_;
};

// The name the report and the metrics use: starting, showing, retrying, dark.
const char* stateName(SignStateName state);

} // namespace lumira
