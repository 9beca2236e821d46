#include "platform/screen_awake.h"

#include "platform/window_system.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <cstdlib>
#include <xcb/dpms.h>
#include <xcb/screensaver.h>

namespace lumira::platform {

namespace {

const QString kService = QStringLiteral("org.freedesktop.ScreenSaver");
const QString kPath = QStringLiteral("/org/freedesktop/ScreenSaver");
const QString kGnomeService = QStringLiteral("org.gnome.SessionManager");
const QString kGnomePath = QStringLiteral("/org/gnome/SessionManager");
constexpr uint kGnomeInhibitIdle = 8;
const QString kReason = QStringLiteral("LED 显示屏正在显示");

bool hasExtension(xcb_connection_t* c, xcb_extension_t* extension) {
    const xcb_query_extension_reply_t* data = xcb_get_extension_data(c, extension);
    return data && data->present;
}

// A screen already blanked or powered down when the sign starts comes back on.
void wakeScreen(xcb_connection_t* c) {
    xcb_force_screen_saver(c, XCB_SCREEN_SAVER_RESET);
    if (!hasExtension(c, &xcb_dpms_id))
        return;
    auto* info = xcb_dpms_info_reply(c, xcb_dpms_info(c), nullptr);
    if (info && info->state && info->power_level != XCB_DPMS_DPMS_MODE_ON)
        xcb_dpms_force_level(c, XCB_DPMS_DPMS_MODE_ON);
    std::free(info);
}

} // namespace

ScreenAwake::ScreenAwake(QObject* parent) : QObject(parent) {
    if (xcb_connection_t* c = hasX11() ? x11Connection() : nullptr) {
        if (hasExtension(c, &xcb_screensaver_id)) {
            xcb_screensaver_suspend(c, 1);
            suspended_ = true;
        }
        wakeScreen(c);
        xcb_flush(c);
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    // Both asked, without waiting: a desktop offers one or the other (GNOME its session
    // manager's idle inhibit), and a missing service answers with an error that is dropped.
    inhibit(QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Inhibit"))
                << QStringLiteral("Lumira") << kReason,
            inhibitCookie_);
    inhibit(QDBusMessage::createMethodCall(kGnomeService, kGnomePath, kGnomeService,
                                           QStringLiteral("Inhibit"))
                << QStringLiteral("Lumira") << 0u << kReason << kGnomeInhibitIdle,
            gnomeCookie_);
}

void ScreenAwake::inhibit(const QDBusMessage& call, uint& cookie) {
    auto* watcher =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [&cookie](QDBusPendingCallWatcher* reply) {
                const QDBusPendingReply<uint> answer = *reply;
                if (answer.isValid())
                    cookie = answer.value();
                reply->deleteLater();
            });
}

ScreenAwake::~ScreenAwake() {
    if (suspended_) {
        if (xcb_connection_t* c = x11Connection()) {
            xcb_screensaver_suspend(c, 0);
            xcb_flush(c);
        }
    }
    // Sent without waiting for an answer; the services also drop them when the program's
    // bus connection closes.
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (inhibitCookie_ != 0)
        bus.send(
            QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("UnInhibit"))
            << inhibitCookie_);
    if (gnomeCookie_ != 0)
        bus.send(QDBusMessage::createMethodCall(kGnomeService, kGnomePath, kGnomeService,
                                                QStringLiteral("Uninhibit"))
                 << gnomeCookie_);
}

} // namespace lumira::platform
