#include "platform/global_shortcuts.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QTimer>

namespace lumira::platform {

namespace {
const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString kRequest = QStringLiteral("org.freedesktop.portal.Request");
const QString kRegistry = QStringLiteral("org.freedesktop.host.portal.Registry");
const QString kAppId = QStringLiteral("org.lumira.Lumira");

QStringList shortcutIds(const QVariant& value) {
    QStringList ids;
    if (!value.canConvert<QDBusArgument>())
        return ids;
    const auto list = qdbus_cast<QList<PortalShortcut>>(value.value<QDBusArgument>());
    for (const PortalShortcut& shortcut : list)
        ids << shortcut.id;
    return ids;
}
} // namespace

const QString GlobalShortcuts::kShortcutId = QStringLiteral("settings");

QDBusArgument& operator<<(QDBusArgument& out, const PortalShortcut& shortcut) {
    out.beginStructure();
    out << shortcut.id << shortcut.properties;
    out.endStructure();
    return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, PortalShortcut& shortcut) {
    in.beginStructure();
    in >> shortcut.id >> shortcut.properties;
    in.endStructure();
    return in;
}

GlobalShortcuts::GlobalShortcuts(QObject* parent) : QObject(parent) {
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<QList<PortalShortcut>>();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        QTimer::singleShot(0, this, [this] { settle(false); });
        return;
    }
    // A program outside a sandbox names itself to the portal first where the portal can be
    // told (newer portals); an older one answers with an error, and the session is opened
    // either way.
    QDBusMessage registration =
        QDBusMessage::createMethodCall(kService, kPath, kRegistry, QStringLiteral("Register"));
    registration << kAppId << QVariantMap();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(registration), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                createSession();
            });
}

void GlobalShortcuts::createSession() {
    call(Step::CreateSession, QStringLiteral("CreateSession"),
         {QVariantMap{{QStringLiteral("session_handle_token"), QStringLiteral("lumira")}}});
}

// A portal method answers at once with a request object and later with that object's
// Response signal; the signal is subscribed to before the call so it cannot be missed.
void GlobalShortcuts::call(Step step, const QString& method, const QList<QVariant>& arguments) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    step_ = step;
    const QString token = QStringLiteral("lumira%1").arg(++tokens_);
    QString sender = bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    requestPath_ = kPath + QStringLiteral("/request/") + sender + QLatin1Char('/') + token;
    bus.connect(kService, requestPath_, kRequest, QStringLiteral("Response"), this,
                SLOT(onResponse(uint, QVariantMap)));

    QList<QVariant> withToken = arguments;
    QVariantMap options = withToken.takeLast().toMap();
    options.insert(QStringLiteral("handle_token"), token);
    withToken << options;
    QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
    message.setArguments(withToken);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(message), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* reply) {
                reply->deleteLater();
                if (reply->isError())
                    settle(false); // no portal, or one without global shortcuts
            });
}

void GlobalShortcuts::onResponse(uint response, const QVariantMap& results) {
    QDBusConnection::sessionBus().disconnect(kService, requestPath_, kRequest,
                                             QStringLiteral("Response"), this,
                                             SLOT(onResponse(uint, QVariantMap)));
    if (response != 0) { // refused by the user or the desktop
        settle(false);
        return;
    }
    switch (step_) {
    case Step::CreateSession: {
        const QVariant handle = results.value(QStringLiteral("session_handle"));
        session_ = handle.canConvert<QDBusObjectPath>() ? handle.value<QDBusObjectPath>().path()
                                                        : handle.toString();
        QDBusConnection::sessionBus().connect(
            kService, kPath, kInterface, QStringLiteral("Activated"), this,
            SLOT(onActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
        call(Step::List, QStringLiteral("ListShortcuts"),
             {QVariant::fromValue(QDBusObjectPath(session_)), QVariantMap()});
        break;
    }
    case Step::List:
        handleShortcuts(results, true);
        break;
    case Step::Bind:
        handleShortcuts(results, false);
        break;
    case Step::Done:
        break;
    }
}

void GlobalShortcuts::handleShortcuts(const QVariantMap& results, bool bindWhenMissing) {
    if (shortcutIds(results.value(QStringLiteral("shortcuts"))).contains(kShortcutId)) {
        settle(true);
        return;
    }
    if (!bindWhenMissing) {
        settle(false);
        return;
    }
    const PortalShortcut settings{
        kShortcutId,
        {{QStringLiteral("description"), QStringLiteral("打开 Lumira 显示设置")},
         {QStringLiteral("preferred_trigger"), QStringLiteral("SHIFT+F12")}}};
    call(Step::Bind, QStringLiteral("BindShortcuts"),
         {QVariant::fromValue(QDBusObjectPath(session_)),
          QVariant::fromValue(QList<PortalShortcut>{settings}), QString(), QVariantMap()});
}

void GlobalShortcuts::onActivated(const QDBusObjectPath& session, const QString& shortcutId,
                                  qulonglong, const QVariantMap&) {
    if (session.path() == session_ && shortcutId == kShortcutId)
        emit activated();
}

void GlobalShortcuts::settle(bool served) {
    if (step_ == Step::Done)
        return;
    step_ = Step::Done;
    emit settled(served);
}

} // namespace lumira::platform
