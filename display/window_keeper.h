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
// events, read on a connection of its own, so an undisturbed sign costs nothing. A browser
// that shows the page in a top-level window of its own has that window kept the same way, on
// the page's rectangle and just above the display window.
class WindowKeeper final : public QObject {
    Q_OBJECT
public:
    explicit WindowKeeper(Form1& display);

    // What the window system says of the display window now; nothing without an X server.
    std::optional<platform::WindowFacts> facts() const;
    // The same of the browser's own window over the display window; nothing when there is none.
    std::optional<platform::WindowFacts> pageWindowFacts() const;

private:
    // The one-second gap between requests for the same wrong rectangle, per window.
    struct Placing {
        qint64 lastPlaced = -1000000; // when the rectangle was last asked for
        QRect lastWrong;              // the rectangle the window had then
    };

    void soon();
    void check();
    void keep(xcb_window_t window, const QRect& wanted, Placing& placing);
    void place(xcb_window_t window, const QRect& actual, const QRect& wanted, Placing& placing);
    void placePage();
    void uncover();

    Form1& display_;
    platform::WindowEvents* events_ = nullptr;
    QTimer tick_;  // every ten seconds, in case an event was missed
    QTimer soon_;  // shortly after the window system told of a change
    QTimer again_; // when a request held back by the one-second gap is allowed
    QElapsedTimer clock_;
    Placing displayPlacing_;
    Placing pagePlacing_;
    xcb_window_t page_ = XCB_NONE;       // the browser's own window over the display window, if any
    QHash<uint32_t, qint64> raisedOver_; // covering window -> when we last raised over it
    bool toldOfDesktopLayer_ = false;
};

} // namespace lumira
