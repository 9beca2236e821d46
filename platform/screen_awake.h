#pragma once

#include <QObject>

class QDBusMessage;

namespace lumira::platform {

// Keeps the screen lit while it exists: the X screen saver is suspended (which holds off DPMS
// power saving too), a blanked or powered-down screen is woken, and when the session bus
// offers org.freedesktop.ScreenSaver (or GNOME's session manager) an inhibit is held there as
// well. All of it is given back when the object goes, and by the servers themselves when the
// program's connections close, however the program ends. No call waits for the bus.
class ScreenAwake final : public QObject {
    Q_OBJECT
public:
    explicit ScreenAwake(QObject* parent = nullptr);
    ~ScreenAwake() override;

private:
    void inhibit(const QDBusMessage& call, uint& cookie);

    bool suspended_ = false;
    uint inhibitCookie_ = 0; // org.freedesktop.ScreenSaver
    uint gnomeCookie_ = 0;   // org.gnome.SessionManager
};

} // namespace lumira::platform
