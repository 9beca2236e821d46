// A stand-in for the desktop's GlobalShortcuts portal (org.freedesktop.portal.Desktop), written
// from the portal's published D-Bus interface, for a test's private session bus. It keeps the
// shortcuts bound in memory, prints "bound ID TRIGGER" for each one bound, and sends Activated
// for every bound "settings" shortcut when a line "activate" arrives on its standard input.
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QSocketNotifier>
#include <cstdio>
#include <unistd.h>

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");

struct Shortcut {
    QString id;
    QVariantMap properties;
};

QDBusArgument& operator<<(QDBusArgument& out, const Shortcut& shortcut) {
    out.beginStructure();
    out << shortcut.id << shortcut.properties;
    out.endStructure();
    return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, Shortcut& shortcut) {
    in.beginStructure();
    in >> shortcut.id >> shortcut.properties;
    in.endStructure();
    return in;
}

} // namespace

Q_DECLARE_METATYPE(Shortcut)

namespace {

class Portal final : public QDBusVirtualObject {
public:
    QString introspect(const QString&) const override {
        return QStringLiteral(
            "<interface name=\"org.freedesktop.portal.GlobalShortcuts\">"
            "<method name=\"CreateSession\"><arg type=\"a{sv}\" direction=\"in\"/>"
            "<arg type=\"o\" direction=\"out\"/></method>"
            "<method name=\"BindShortcuts\"><arg type=\"o\" direction=\"in\"/>"
            "<arg type=\"a(sa{sv})\" direction=\"in\"/><arg type=\"s\" direction=\"in\"/>"
            "<arg type=\"a{sv}\" direction=\"in\"/><arg type=\"o\" direction=\"out\"/></method>"
            "<method name=\"ListShortcuts\"><arg type=\"o\" direction=\"in\"/>"
            "<arg type=\"a{sv}\" direction=\"in\"/><arg type=\"o\" direction=\"out\"/></method>"
            "<signal name=\"Activated\"><arg type=\"o\"/><arg type=\"s\"/><arg type=\"t\"/>"
            "<arg type=\"a{sv}\"/></signal>"
            "<property name=\"version\" type=\"u\" access=\"read\"/></interface>");
    }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.interface() != kInterface || message.arguments().isEmpty())
            return false;
        const QVariantMap options = qdbus_cast<QVariantMap>(message.arguments().last());
        QString sender = message.service().mid(1);
        sender.replace(QLatin1Char('.'), QLatin1Char('_'));
        const QString request = kPath + QStringLiteral("/request/") + sender + QLatin1Char('/') +
                                options.value(QStringLiteral("handle_token")).toString();
        QVariantMap results;
        if (message.member() == QLatin1String("CreateSession")) {
            const QString session =
                kPath + QStringLiteral("/session/") + sender + QLatin1Char('/') +
                options.value(QStringLiteral("session_handle_token")).toString();
            sessions_ << session;
            results.insert(QStringLiteral("session_handle"), session); // "s", as published
        } else if (message.member() == QLatin1String("ListShortcuts")) {
            results.insert(QStringLiteral("shortcuts"), QVariant::fromValue(bound_));
        } else if (message.member() == QLatin1String("BindShortcuts")) {
            const auto wanted = qdbus_cast<QList<Shortcut>>(message.arguments().at(1));
            for (const Shortcut& shortcut : wanted) {
                std::printf(
                    "bound %s %s\n", qPrintable(shortcut.id),
                    qPrintable(
                        shortcut.properties.value(QStringLiteral("preferred_trigger")).toString()));
                bound_ << shortcut;
            }
            std::fflush(stdout);
            results.insert(QStringLiteral("shortcuts"), QVariant::fromValue(wanted));
        } else {
            return false;
        }
        connection.send(message.createReply(QVariant::fromValue(QDBusObjectPath(request))));
        QDBusMessage response = QDBusMessage::createSignal(
            request, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
        response << 0u << results;
        connection.send(response);
        return true;
    }

    void activate() {
        for (const Shortcut& shortcut : bound_)
            for (const QString& session : sessions_) {
                QDBusMessage activated =
                    QDBusMessage::createSignal(kPath, kInterface, QStringLiteral("Activated"));
                activated << QVariant::fromValue(QDBusObjectPath(session)) << shortcut.id
                          << qulonglong(0) << QVariantMap();
                QDBusConnection::sessionBus().send(activated);
            }
    }

private:
    QList<Shortcut> bound_;
    QStringList sessions_;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    qDBusRegisterMetaType<Shortcut>();
    qDBusRegisterMetaType<QList<Shortcut>>();
    QDBusConnection bus = QDBusConnection::sessionBus();
    Portal portal;
    if (!bus.registerVirtualObject(kPath, &portal) || !bus.registerService(kService)) {
        std::fprintf(stderr, "portal stand-in: cannot take %s\n", qPrintable(kService));
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buffer[256];
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got <= 0) {
            QCoreApplication::quit();
            return;
        }
        if (QByteArray(buffer, int(got)).contains("activate"))
            portal.activate();
    });
    return app.exec();
}
