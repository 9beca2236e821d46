#include "status/sign_state.h"

namespace lumira {

SignState::SignState(const QDateTime& start) {
    history_.since = start;
}

void SignState::enter(SignStateName state, const QDateTime& at) {
    if (history_.state == state)
        return;
    history_.state = state;
    history_.since = at;
}

void SignState::shown(const QDateTime& at) {
    history_.lastSuccess = at;
    enter(SignStateName::Showing, at);
}

void SignState::failed(const QDateTime& at, const QString& reason) {
    if (history_.state == SignStateName::Dark)
        return;
    ++history_.failuresTotal;
    history_.lastFailure = at;
    history_.lastFailureReason = reason;
    enter(SignStateName::Retrying, at);
}

void SignState::darkChanged(const QDateTime& at, bool dark) {
    enter(dark ? SignStateName::Dark : SignStateName::Starting, at);
}

void SignState::rendererRestarted(const QString& why) {
    if (why == QLatin1String("hang"))
        ++history_.hangs;
    else if (why == QLatin1String("memory"))
        ++history_.memory;
    else
        ++history_.crashes;
}

const char* stateName(SignStateName state) {
    switch (state) {
    case SignStateName::Showing:
        return "showing";
    case SignStateName::Retrying:
        return "retrying";
    case SignStateName::Dark:
        return "dark";
    case SignStateName::Starting:
        break;
    }
    return "starting";
}

} // namespace lumira
