#pragma once

#include <QObject>
#include <QString>

class QSocketNotifier;

namespace lumira::platform {

// One running copy per key (the program folder) and user. The first copy holds an abstract
// local socket named after the key, which the system releases however the copy ends, even
// by SIGKILL; a later copy or `lumira --settings` reaches the first through it with a request
// of one byte and waits a bounded time for its answer of one byte.
class SingleInstance final : public QObject {
    Q_OBJECT
public:
    enum class Request : char { ComeForward = 1, OpenSettings = 2 };

    explicit SingleInstance(const QString& key, QObject* parent = nullptr);
    ~SingleInstance() override;

    // False when another copy already holds the key; it has been asked to come forward.
    bool isFirst() const { return first_; }

    // Asks the copy holding `key`; true when it answered within `timeoutMs`.
    static bool ask(const QString& key, Request request, int timeoutMs);

signals:
    // A later copy was started with the same key.
    void activationRequested();
    // `lumira --settings` asked for the settings window.
    void settingsRequested();

private:
    void acceptAll();

    bool first_ = true;
    int listener_ = -1;
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace lumira::platform
