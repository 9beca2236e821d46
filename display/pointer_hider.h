#pragma once

#include <QObject>
#include <QTimer>

class QWidget;

namespace lumira {

// Hides the mouse pointer while it rests over the display window (after three seconds
// without moving) and shows it again as soon as it moves.
class PointerHider final : public QObject {
    Q_OBJECT
public:
    explicit PointerHider(QWidget& display);
    ~PointerHider() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void rested();
    void show();

    QWidget& display_;
    QTimer rest_;
    bool hidden_ = false;
};

} // namespace lumira
