#pragma once

#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <functional>

namespace lumira::chromium {

class ChromiumProcess;

// Commands to Chromium's DevTools and their answers, matched by id; events go out as a signal.
class DevToolsClient final : public QObject {
    Q_OBJECT
public:
    // `error` is empty when the command succeeded.
    using Reply = std::function<void(const QJsonObject& result, const QString& error)>;

    DevToolsClient(ChromiumProcess& process, QObject* parent);

    // `session`: the page's session for page commands, empty for the browser's own.
    void call(const QString& method, const QJsonObject& params = {}, const QString& session = {},
              Reply reply = {});
    // Answers still awaited are dropped (the process ended); their replies never run.
    void forgetReplies() { replies_.clear(); }

signals:
    void event(const QString& method, const QJsonObject& params, const QString& session);

private:
    void received(const QJsonObject& message);

    ChromiumProcess& process_;
    int nextId_ = 1;
    QHash<int, Reply> replies_;
};

} // namespace lumira::chromium
