#pragma once

#include "display/chromium/devtools_framing.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QObject>

class QSocketNotifier;

namespace lumira::chromium {

// Chromium as a child process of the sign, in a process group of its own, spoken to over its
// DevTools pipe (it reads our messages on descriptor 3 and writes its own on 4) and over
// nothing else: no port is opened. Everything it starts ends with it.
class ChromiumProcess final : public QObject {
    Q_OBJECT
public:
    explicit ChromiumProcess(QObject* parent);
    ~ChromiumProcess() override; // ends Chromium and its processes, waiting at most 3 s

    // Starts `executable` with `arguments`; false when it could not be started.
    bool start(const QByteArray& executable, const QList<QByteArray>& arguments);
    void send(const QJsonObject& message);
    qint64 pid() const { return pid_; }
    bool running() const { return pid_ > 0; }
    // Ends Chromium and every process of its group: SIGTERM, then SIGKILL after `graceMs`.
    void end(int graceMs);

signals:
    void received(const QJsonObject& message);
    // The process ended or closed its pipe; `how` says in a few words ("exit 1", "signal 9").
    void ended(const QString& how);

private:
    void readMessages();
    void writePending();
    void reap();
    void closePipes();

    qint64 pid_ = 0;
    int pidFd_ = -1;
    int toChromium_ = -1;
    int fromChromium_ = -1;
    QSocketNotifier* readable_ = nullptr;
    QSocketNotifier* writable_ = nullptr;
    QSocketNotifier* exited_ = nullptr;
    QByteArray outgoing_;
    PipeFraming framing_;
};

} // namespace lumira::chromium
