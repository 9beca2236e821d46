#pragma once

#include "platform/window_facts.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QRect>
#include <QTimer>
#include <optional>

class Form1;

namespace lumira {
namespace platform {
class WindowEvents;
}

// Keeps the display window where and as it belongs, whatever another program, a window
// manager restart or a screen change does to it: back to its rectangle, mapped, not
// minimised, above, off the taskbar and on every workspace within a second; and raised again
// over a window of another program that covers it, at most once a second per such window, but
// never over the program's own settings window or exit prompt. It acts on the window system's
// events, read on a connection of its own, so an undisturbed sign costs nothing.
class WindowKeeper final : public QObject {
    Q_OBJECT
public:
    explicit WindowKeeper(Form1& display);

    // What the window system says of the display window now; nothing without an X server.
    std::optional<platform::WindowFacts> facts() const;

private:
    void soon();
    void check();
    void place(const QRect& actual);
    void uncover();

    Form1& display_;
    platform::WindowEvents* events_ = nullptr;
    QTimer tick_;  // every ten seconds, in case an event was missed
    QTimer soon_;  // shortly after the window system told of a change
    QTimer again_; // when a request held back by the one-second gap is allowed
    QElapsedTimer clock_;
    qint64 lastPlaced_ = -1000000;       // when the rectangle was last asked for
    QRect lastWrong_;                    // the rectangle the window had then
    QHash<uint32_t, qint64> raisedOver_; // covering window -> when we last raised over it
    bool toldOfDesktopLayer_ = false;
};

} // namespace lumira
