#include "display/chromium/devtools_framing.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <utility>

namespace lumira::chromium {

std::vector<QJsonObject> PipeFraming::take(const QByteArray& bytes) {
    std::vector<QJsonObject> out;
    QByteArrayView rest(bytes);
    while (!rest.isEmpty()) {
        const qsizetype end = rest.indexOf('\0');
        if (end < 0) {
            if (skipping_)
                return out;
            if (pending_.size() + rest.size() > maxMessage_) {
                pending_.clear();
                skipping_ = true;
                ++bad_;
                return out;
            }
            pending_.append(rest);
            return out;
        }
        const QByteArrayView piece = rest.first(end);
        rest = rest.sliced(end + 1);
        if (std::exchange(skipping_, false))
            continue;
        if (pending_.isEmpty()) {
            finish(piece, out);
        } else {
            pending_.append(piece);
            finish(pending_, out);
            pending_.clear();
        }
    }
    return out;
}

void PipeFraming::finish(QByteArrayView message, std::vector<QJsonObject>& out) {
    if (message.size() > maxMessage_) {
        ++bad_;
        return;
    }
    QJsonParseError error;
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray::fromRawData(message.data(), message.size()), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        ++bad_;
        return;
    }
    out.push_back(document.object());
}

QByteArray PipeFraming::frame(const QJsonObject& message) {
    return QJsonDocument(message).toJson(QJsonDocument::Compact).append('\0');
}

} // namespace lumira::chromium
