#pragma once

#include "common/twips.h"

#include <QTimer>
#include <QWidget>
#include <functional>

class QLabel;
class QPushButton;
class LinkLabel;

// Form3, the welcome window: banner, title, version line, the Shift+F12 hint, OK and Help.
// It is the only window at launch; OK opens the display window and closes it for good.
class Form3 final : public QWidget {
    Q_OBJECT
public:
    // With `autoEnterSeconds` above 0, OK counts down ("确定 (N)") and presses itself; a key
    // or a click in the window stops the count.
    Form3(lumira::TwipsFactors factors, std::function<void()> openDisplay,
          int autoEnterSeconds = 0);

    QLabel* Image1;        // banner strip behind everything
    QLabel* Label1;        // title "Lumira"
    QLabel* Label2;        // version line
    QLabel* Label3;        // usage hint
    LinkLabel* Label8;     // Help link
    QPushButton* Command1; // OK

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Form_Load();
    void autoEnterTick();
    void showCountdown(); // "确定 (N)" on OK
    void stopAutoEnter();
    void Command1_Click();
    void Label8_Click();

    std::function<void()> openDisplay_;
    QTimer autoEnter_; // one tick a second while OK counts down
    int autoEnterLeft_ = 0;
};
