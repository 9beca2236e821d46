#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <optional>

class QSocketNotifier;

namespace lumira::platform {

// One running copy per key (the program folder) and user. The first copy holds a local socket
// named after the key, in the user's runtime folder /run/user/UID or, where that is missing,
// in the abstract namespace with both ends' user ids checked; a killed copy's socket is taken
// over. A later copy or `lumira --settings` reaches the first through it with a request of one
// byte and waits at most a bounded time for its answer of one byte, so a frozen first copy
// holds up nobody; `lumira --status` gets the copy's report after that byte, up to the end of
// the connection. Another user's name never stops a copy from running.
class SingleInstance final : public QObject {
    Q_OBJECT
public:
    enum class Request : char { ComeForward = 1, OpenSettings = 2, Report = 3 };

    // `runtimeBase`: where the users' runtime folders are (tests put theirs elsewhere).
    explicit SingleInstance(const QString& key, const QByteArray& runtimeBase = kRuntimeBase,
                            QObject* parent = nullptr);
    ~SingleInstance() override;

    // False when another copy already holds the key; it has been asked to come forward.
    bool isFirst() const { return first_; }

    // Asks the copy holding `key`; true when it answered within `timeoutMs`.
    static bool ask(const QString& key, Request request, int timeoutMs,
                    const QByteArray& runtimeBase = kRuntimeBase);
    // The report of the copy holding `key`, or nothing when none answered within `timeoutMs`.
    static std::optional<QByteArray> askForReport(const QString& key, int timeoutMs,
                                                  const QByteArray& runtimeBase = kRuntimeBase);

    // What a Report request is answered with; empty until set.
    void setReport(std::function<QByteArray()> report) { report_ = std::move(report); }

    static constexpr const char* kRuntimeBase = "/run/user";

signals:
    // A later copy was started with the same key.
    void activationRequested();
    // `lumira --settings` asked for the settings window.
    void settingsRequested();

private:
    void acceptAll();

    bool first_ = true;
    int listener_ = -1;
    QByteArray path_; // the socket's file, removed when the copy ends normally
    QSocketNotifier* notifier_ = nullptr;
    std::function<QByteArray()> report_;
};

} // namespace lumira::platform
