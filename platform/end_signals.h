#pragma once

#include <QObject>

namespace lumira::platform {

// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal delivered on the user-interface thread,
// so the program can end in order instead of dying in the middle of a write. A SIGHUP that
// was ignored when the program started (nohup) stays ignored.
class EndSignals : public QObject {
    Q_OBJECT
public:
    explicit EndSignals(QObject* parent = nullptr);

signals:
    void endRequested();
};

} // namespace lumira::platform
