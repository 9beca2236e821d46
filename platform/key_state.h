#pragma once

#include <QObject>
#include <memory>

namespace lumira::platform {

// The physical state of Shift and F12, seen whichever program has the keyboard focus.
// Queries read local state and never wait for the window system.
class KeyState : public QObject {
    Q_OBJECT
public:
    enum class Key { F12, Shift };

    using QObject::QObject;
    virtual bool isDown(Key key) const = 0;

    // The X11 watch where an X display is available, otherwise one that never sees a key.
    static std::unique_ptr<KeyState> create();

signals:
    // Shift or F12 went down or up; anyDown tells whether either of them is held now.
    void watchedKeysChanged(bool anyDown);
};

} // namespace lumira::platform
