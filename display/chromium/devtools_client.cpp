#include "display/chromium/devtools_client.h"

#include "display/chromium/chromium_process.h"

namespace lumira::chromium {

DevToolsClient::DevToolsClient(ChromiumProcess& process, QObject* parent)
    : QObject(parent), process_(process) {
    connect(&process, &ChromiumProcess::received, this, &DevToolsClient::received);
}

void DevToolsClient::call(const QString& method, const QJsonObject& params, const QString& session,
                          Reply reply) {
    const int id = nextId_++;
    QJsonObject message{{"id", id}, {"method", method}, {"params", params}};
    if (!session.isEmpty())
        message.insert("sessionId", session);
    if (reply)
        replies_.insert(id, std::move(reply));
    process_.send(message);
}

void DevToolsClient::received(const QJsonObject& message) {
    const QString session = message.value("sessionId").toString();
    if (!message.contains("id")) {
        emit event(message.value("method").toString(), message.value("params").toObject(), session);
        return;
    }
    const Reply reply = replies_.take(message.value("id").toInt());
    if (!reply)
        return;
    const QJsonObject error = message.value("error").toObject();
    reply(message.value("result").toObject(),
          error.isEmpty() ? QString() : error.value("message").toString(QStringLiteral("error")));
}

} // namespace lumira::chromium
