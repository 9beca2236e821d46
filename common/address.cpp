#include "common/address.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace lumira {

namespace {

// "name:" at the start, where what follows is not a port number ("host:8080", "host:80/x",
// "host:80?id=3", "host:80#top").
bool hasScheme(const QString& address) {
    static const QRegularExpression scheme(
        QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*:(?!\\d+([/?#]|$))"));
    return scheme.match(address).hasMatch();
}

} // namespace

QUrl addressToUrl(const QString& address, const QString& folder) {
    const QString text = address.trimmed();
    if (text.isEmpty())
        return {};
    if (hasScheme(text))
        return QUrl(text);
    if (QDir::isAbsolutePath(text))
        return QUrl::fromLocalFile(text);
    const QString inFolder = QDir(folder).filePath(text);
    if (QFileInfo::exists(inFolder))
        return QUrl::fromLocalFile(QDir::cleanPath(inFolder));
    return QUrl::fromUserInput(text);
}

} // namespace lumira
