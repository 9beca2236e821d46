#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <optional>

class QSocketNotifier;

namespace lumira::platform {

// One running copy per key (the program folder) and user. The first copy holds a local socket
// named after the key in a folder no other user can reach: the user's runtime folder
// /run/user/UID when it is the user's with mode 0700, otherwise ~/.cache/lumira (the home from
// the password database, not the environment, so that a copy started by a timer and one started
// from the desktop find each other), made with mode 0700 and checked before every use: the
// user's, mode 0700, and no symbolic link nor folder another user can change on the way. A lock
// file beside the socket is held while the copy runs, so a killed copy's socket is taken over
// and two copies starting at once never both take it. Where no such folder can be had, or the
// socket's path is too long for a socket address, the copy runs unguarded and says so in one line
// on stderr. A later copy or `lumira --settings` looks in both folders and reaches the first
// with a request of one byte and waits at most a bounded time for its answer of one byte, so a
// frozen first copy holds up nobody; `lumira --status` gets the copy's report after that byte,
// up to the end of the connection. Both ends check that the other is a process of the same user.
class SingleInstance final : public QObject {
    Q_OBJECT
public:
    enum class Request : char { ComeForward = 1, OpenSettings = 2, Report = 3 };

    // `runtimeBase`: where the users' runtime folders are; `home`: the user's home, empty for the
    // one in the password database (tests put both elsewhere).
    explicit SingleInstance(const QString& key, const QByteArray& runtimeBase = kRuntimeBase,
                            const QByteArray& home = {}, QObject* parent = nullptr);
    ~SingleInstance() override;

    // False when another copy already holds the key; it has been asked to come forward.
    bool isFirst() const { return first_; }

    // Asks the copy holding `key`; true when it answered within `timeoutMs`.
    static bool ask(const QString& key, Request request, int timeoutMs,
                    const QByteArray& runtimeBase = kRuntimeBase, const QByteArray& home = {});
    // The report of the copy holding `key`, or nothing when none answered within `timeoutMs`.
    static std::optional<QByteArray> askForReport(const QString& key, int timeoutMs,
                                                  const QByteArray& runtimeBase = kRuntimeBase,
                                                  const QByteArray& home = {});

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
    int lock_ = -1;   // held while this copy runs
    QByteArray path_; // the socket's file, removed when the copy ends normally
    QSocketNotifier* notifier_ = nullptr;
    std::function<QByteArray()> report_;
};

} // namespace lumira::platform
