#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <map>
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
// frozen first copy holds up nobody. A request that takes a payload (a new address) sends it
// after its byte, as four bytes of length, most significant first, and the bytes themselves;
// a request with a reply (`lumira --status`, `--reload`, `--address`) gets it after the answer
// byte, up to the end of the connection. Both ends check that the other is a process of the
// same user, so neither a payload nor a reply ever reaches another user.
class SingleInstance final : public QObject {
    Q_OBJECT
public:
    enum class Request : char {
        ComeForward = 1,
        OpenSettings = 2,
        Report = 3,
        Reload = 4,
        TakeAddress = 5, // the only one with a payload: the address
    };
    // The most a payload or a reply may hold.
    static constexpr qsizetype kLongest = 1 << 20;

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
    // The reply of the copy holding `key` to `request` (with `payload` where the request takes
    // one), or nothing when none answered within `timeoutMs` or the payload is too long.
    static std::optional<QByteArray> askFor(const QString& key, Request request,
                                            const QByteArray& payload, int timeoutMs,
                                            const QByteArray& runtimeBase = kRuntimeBase,
                                            const QByteArray& home = {});

    // What `request` is answered with, made on this copy's thread from the request's payload;
    // a request without a reply set is answered with an empty one.
    using Reply = std::function<QByteArray(const QByteArray& payload)>;
    void setReply(Request request, Reply reply) { replies_[request] = std::move(reply); }

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
    std::map<Request, Reply> replies_;
};

} // namespace lumira::platform
