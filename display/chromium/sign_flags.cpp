#include "display/chromium/sign_flags.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace lumira::chromium {

namespace {
// Sets `path` (keys joined by '.') in `object`, making the objects on the way.
void setPath(QJsonObject& object, QStringView path, const QJsonValue& value) {
    const qsizetype dot = path.indexOf(u'.');
    const QString key = path.left(dot).toString();
    if (dot < 0) {
        object.insert(key, value);
        return;
    }
    QJsonObject inner = object.value(key).toObject();
    setPath(inner, path.mid(dot + 1), value);
    object.insert(key, inner);
}
} // namespace

QList<QByteArray> signArguments(const QString& profile, const QRect& place, bool root,
                                bool software) {
    QList<QByteArray> arguments{
        "--remote-debugging-pipe",
        "--user-data-dir=" + QFile::encodeName(profile),
        QByteArray("--app=") + kStartDocument,
        QByteArray("--window-position=") + QByteArray::number(place.x()) + ',' +
            QByteArray::number(place.y()),
        QByteArray("--window-size=") + QByteArray::number(std::max(1, place.width())) + ',' +
            QByteArray::number(std::max(1, place.height())),
        "--ozone-platform=x11", // a window the sign can place, in a Wayland session too
        "--force-device-scale-factor=1",
        "--no-first-run",
        "--no-default-browser-check",
        "--noerrdialogs",
        "--hide-crash-restore-bubble",
        "--disable-infobars",
        "--disable-hang-monitor",
        "--disable-background-networking",
        "--disable-component-update",
        "--disable-default-apps",
        "--disable-extensions",
        "--disable-sync",
        "--disable-breakpad",
        "--disable-domain-reliability",
        "--no-pings",
        "--password-store=basic",
        "--disable-renderer-backgrounding",
        "--disable-background-timer-throttling",
        "--disable-backgrounding-occluded-windows",
        "--block-new-web-contents",
        "--deny-permission-prompts",
        "--disable-prompt-on-repost",
        // No translation bar; every load asks the network, as the sign's cover expects; no
        // spare renderer kept warm.
        "--disable-features=Translate,BackForwardCache,MediaRouter,OptimizationHints,"
        "SpareRendererForSitePerProcess,DownloadBubble",
    };
    if (software) {
        arguments << "--disable-gpu"
                  << "--disable-gpu-compositing";
    }
    if (root) {
        arguments << "--no-sandbox"
                  << "--test-type"; // no bar about the missing sandbox over the page
    }
    return arguments;
}

void preparePreferences(const QString& profile) {
    const QString path = QDir(profile).filePath(QStringLiteral("Default/Preferences"));
    QDir().mkpath(QDir(profile).filePath(QStringLiteral("Default")));
    QJsonObject preferences;
    QFile existing(path);
    if (existing.open(QIODevice::ReadOnly))
        preferences = QJsonDocument::fromJson(existing.readAll()).object();
    existing.close();
    setPath(preferences, u"browser.custom_chrome_frame", false);
    setPath(preferences, u"translate.enabled", false);
    setPath(preferences, u"credentials_enable_service", false);
    setPath(preferences, u"profile.password_manager_enabled", false);
    setPath(preferences, u"profile.exit_type", QStringLiteral("Normal"));
    setPath(preferences, u"profile.exited_cleanly", true);
    setPath(preferences, u"download.prompt_for_download", false);
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(QJsonDocument(preferences).toJson(QJsonDocument::Compact));
        file.commit();
    }
}

} // namespace lumira::chromium
