#pragma once

#include "common/twips.h"

#include <QTimer>
#include <QWidget>

class Form1;
class LinkLabel;
class QLabel;
class QLineEdit;
class QPushButton;

// Form2, the settings window "显示设置": the page address and the display window's rectangle,
// applied live ten times a second, the browser buttons and one-pixel nudges. Closing it in
// any way saves the five values and puts the display window back on top.
class Form2 final : public QWidget {
    Q_OBJECT
public:
    Form2(Form1& display, lumira::TwipsFactors factors);

    QPushButton* Command5;  // Back
    QPushButton* Command3;  // Forward
    QPushButton* Command11; // Stop
    QPushButton* Command2;  // Refresh
    LinkLabel* Label8;      // Help link
    QLabel* Label4;         // "地址"
    QLineEdit* Text_url;    // page address
    QPushButton* Command4;  // Go
    QPushButton* Command9;  // nudge up
    QLabel* Label2;         // "左："
    QLineEdit* Text_left;   // left edge, pixels
    QLabel* Label3;         // "上："
    QLineEdit* Text_top;    // top edge, pixels
    QLabel* Label6;         // "像素"
    QPushButton* Command7;  // nudge left
    QPushButton* Command8;  // nudge right
    QLabel* Label1;         // "宽："
    QLineEdit* Text_width;  // browser width, pixels
    QLabel* Label5;         // "高："
    QLineEdit* Text_height; // browser height, pixels
    QPushButton* Command10; // nudge down
    QPushButton* Command6;  // Return
    QPushButton* Command1;  // Exit
    QTimer Timer1;          // live placement, 100 ms

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Form_Load();
    void Timer1_Timer();
    void Form_Unload();
    void Command6_Click();
    void Command1_Click();
    void Label8_Click();
    void Command4_Click();
    void Command5_Click();
    void Command3_Click();
    void Command2_Click();
    void Command11_Click();
    void Command9_Click();
    void Command10_Click();
    void Command7_Click();
    void Command8_Click();

    Form1& form1_;
    lumira::TwipsFactors factors_;
};
