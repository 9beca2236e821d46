#pragma once

#include <QObject>
#include <QString>

class QSocketNotifier;

namespace lumira::platform {

// One running copy per key (the program folder) and user. The first copy holds an abstract
// local socket named after the key, which the system releases however the copy ends, even
// by SIGKILL; a later copy reaches the first through it and asks it to come forward.
class SingleInstance final : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(const QString& key, QObject* parent = nullptr);
    ~SingleInstance() override;

    // False when another copy already holds the key; it has been asked to come forward.
    bool isFirst() const { return first_; }

signals:
    // A later copy was started with the same key.
    void activationRequested();

private:
    void acceptAll();

    bool first_ = true;
    int listener_ = -1;
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace lumira::platform
