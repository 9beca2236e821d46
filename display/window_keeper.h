#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QTimer>

class Form1;

namespace lumira {

// Keeps the display window where and as it belongs, whatever another program, a window
// manager restart or a screen change does to it: back to its rectangle, mapped, not
// minimised, above and off the taskbar within a second; and raised again over a window of
// another program that covers it, at most once a second per such window, but never over the
// program's own settings window or exit prompt. It acts on the window system's events, so an
// undisturbed sign costs nothing.
class WindowKeeper final : public QObject {
    Q_OBJECT
public:
    explicit WindowKeeper(Form1& display);

private:
    void check();
    void uncover();

    Form1& display_;
    QTimer tick_; // every ten seconds, in case an event was missed
    QTimer soon_; // right after the window system told of a change
    QElapsedTimer clock_;
    qint64 lastPlaced_ = -1000000;       // when the rectangle was last put right
    QHash<uint32_t, qint64> raisedOver_; // covering window -> when we last raised over it
};

} // namespace lumira
