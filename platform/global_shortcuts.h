#pragma once

#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QObject>
#include <QVariantMap>

namespace lumira::platform {

// One shortcut as the portal's calls carry it: an id and its properties (a(sa{sv}) entry).
struct PortalShortcut {
    QString id;
    QVariantMap properties;
};
QDBusArgument& operator<<(QDBusArgument& out, const PortalShortcut& shortcut);
const QDBusArgument& operator>>(const QDBusArgument& in, PortalShortcut& shortcut);

// Shift+F12 through the desktop's GlobalShortcuts portal (org.freedesktop.portal.Desktop),
// for a Wayland session, where an X11 program sees keys only while an X11 window has the
// focus. It opens a session, binds the settings shortcut only when the portal lists no
// binding of ours yet (the desktop may ask the user to confirm a new one), and reports each
// activation. Every call is asynchronous.
class GlobalShortcuts final : public QObject {
    Q_OBJECT
public:
    static const QString kShortcutId;

    explicit GlobalShortcuts(QObject* parent = nullptr);

signals:
    // Once: whether the portal serves the shortcut.
    void settled(bool served);
    // The shortcut was pressed.
    void activated();

private Q_SLOTS: // named in D-Bus signal connections, which take no function pointers
    void onResponse(uint response, const QVariantMap& results);
    void onActivated(const QDBusObjectPath& session, const QString& shortcutId,
                     qulonglong timestamp, const QVariantMap& options);

private:
    enum class Step { CreateSession, List, Bind, Done };

    void createSession();
    void call(Step step, const QString& method, const QList<QVariant>& arguments);
    void handleShortcuts(const QVariantMap& results, bool bindWhenMissing);
    void settle(bool served);

    Step step_ = Step::CreateSession;
    QString requestPath_;
    QString session_;
    int tokens_ = 0;
};

} // namespace lumira::platform

Q_DECLARE_METATYPE(lumira::platform::PortalShortcut)
