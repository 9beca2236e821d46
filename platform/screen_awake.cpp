#include "platform/screen_awake.h"

#include "platform/window_system.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <cstdlib>
#include <xcb/dpms.h>
#include <xcb/screensaver.h>

namespace lumira::platform {

namespace {

const QString kService = QStringLiteral("org.freedesktop.ScreenSaver");
const QString kPath = QStringLiteral("/org/freedesktop/ScreenSaver");

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
    QDBusInterface screenSaver(kService, kPath, kService, bus);
    auto* watcher = new QDBusPendingCallWatcher(
        screenSaver.asyncCall(QStringLiteral("Inhibit"), QStringLiteral("Lumira"),
                              QStringLiteral("LED 显示屏正在显示")),
        this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* call) {
                const QDBusPendingReply<uint> reply = *call;
                if (reply.isValid())
                    inhibitCookie_ = reply.value();
                call->deleteLater();
            });
}

ScreenAwake::~ScreenAwake() {
    if (suspended_) {
        if (xcb_connection_t* c = x11Connection()) {
            xcb_screensaver_suspend(c, 0);
            xcb_flush(c);
        }
    }
    if (inhibitCookie_ != 0) {
        QDBusInterface screenSaver(kService, kPath, kService, QDBusConnection::sessionBus());
        screenSaver.call(QDBus::NoBlock, QStringLiteral("UnInhibit"), inhibitCookie_);
    }
}

} // namespace lumira::platform
