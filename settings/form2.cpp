#include "settings/form2.h"

#include "common/ini_sm.h"
#include "common/settings_file.h"
#include "display/browser.h"
#include "display/form1.h"
#include "display/placement.h"
#include "settings/box_values.h"
#include "ui/fonts.h"
#include "ui/help_file.h"
#include "ui/link_label.h"
#include "ui/module3.h"
#include "ui/window_centre.h"

#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {
void check(QLineEdit* box, const QString& checkValue) {
    if (auto replacement = lumira::periodicReplacement(box->text(), checkValue))
        box->setText(*replacement);
}
} // namespace

Form2::Form2(Form1& display, lumira::TwipsFactors factors)
    : QWidget(nullptr, Qt::Window), form1_(display), factors_(factors) {
    const lumira::TwipsLayout at{factors};
    const auto button = [&](const char* text, QRect geometry) {
        auto* made = new QPushButton(QString::fromUtf8(text), this);
        made->setGeometry(geometry);
        // Return presses a button that has the focus, as Space does; no button is the
        // window's default, so Return in a text box presses nothing.
        made->setAutoDefault(true);
        return made;
    };
    const auto label = [&](const char* text, QRect geometry) {
        auto* made = new QLabel(QString::fromUtf8(text), this);
        made->setGeometry(geometry);
        return made;
    };
    const auto box = [&](QRect geometry) {
        auto* made = new QLineEdit(this);
        made->setGeometry(geometry);
        return made;
    };
    setWindowTitle(QStringLiteral("显示设置"));
    setAttribute(Qt::WA_DeleteOnClose);
    resize(at(0, 0, 7665, 2475).size());

    // The whole layout, in twips: left, top, width, height.
    Command5 = button("后退", at(720, 120, 975, 570));
    Command3 = button("前进", at(1800, 120, 975, 570));
    Command11 = button("停止", at(2880, 120, 975, 570));
    Command2 = button("刷新", at(3960, 120, 975, 570));
    Label8 = new LinkLabel(QStringLiteral("帮助"), this);
    Label8->setGeometry(at(7080, 240, 495, 255));
    Label8->setFont(lumira::songti(9, false, true));
    Label4 = label("地址", at(120, 840, 495, 255));
    Text_url = box(at(600, 840, 6255, 270));
    Command4 = button("转到", at(6960, 840, 615, 300));
    Command9 = button("上", at(4200, 1200, 375, 375));
    Label2 = label("左：", at(480, 1440, 495, 255));
    Text_left = box(at(840, 1440, 615, 270));
    Label3 = label("上：", at(1800, 1440, 375, 255));
    Text_top = box(at(2160, 1440, 615, 270));
    Label6 = label("像素", at(3000, 1560, 495, 375));
    Label6->setFont(lumira::songti(12));
    Command7 = button("左", at(3840, 1560, 375, 375));
    Command8 = button("右", at(4560, 1560, 375, 375));
    Label1 = label("宽：", at(480, 1800, 375, 375));
    Text_width = box(at(840, 1800, 615, 270));
    Label5 = label("高：", at(1800, 1800, 495, 255));
    Text_height = box(at(2160, 1800, 615, 270));
    Command10 = button("下", at(4200, 1920, 375, 375));
    Command6 = button("返回", at(5880, 1920, 735, 375));
    Command1 = button("退出", at(6840, 1920, 735, 375));
    Timer1.setInterval(100);

    const QList<QWidget*> focusOrder{
        Text_url, Command4, Text_left, Text_top, Command2,  Command3,   Command5,    Command6,
        Command1, Command7, Command8,  Command9, Command10, Text_width, Text_height, Command11};
    for (qsizetype i = 1; i < focusOrder.size(); ++i)
        setTabOrder(focusOrder[i - 1], focusOrder[i]);

    connect(&Timer1, &QTimer::timeout, this, &Form2::Timer1_Timer);
    connect(Command6, &QPushButton::clicked, this, &Form2::Command6_Click);
    connect(Command1, &QPushButton::clicked, this, &Form2::Command1_Click);
    connect(Label8, &LinkLabel::clicked, this, &Form2::Label8_Click);
    connect(Command4, &QPushButton::clicked, this, &Form2::Command4_Click);
    connect(Command5, &QPushButton::clicked, this, &Form2::Command5_Click);
    connect(Command3, &QPushButton::clicked, this, &Form2::Command3_Click);
    connect(Command2, &QPushButton::clicked, this, &Form2::Command2_Click);
    connect(Command11, &QPushButton::clicked, this, &Form2::Command11_Click);
    connect(Command9, &QPushButton::clicked, this, &Form2::Command9_Click);
    connect(Command10, &QPushButton::clicked, this, &Form2::Command10_Click);
    connect(Command7, &QPushButton::clicked, this, &Form2::Command7_Click);
    connect(Command8, &QPushButton::clicked, this, &Form2::Command8_Click);

    Form_Load();
    Timer1.start();
    Text_url->setFocus();
    lumira::centreOnScreen(*this);
}

void Form2::Form_Load() {
    const QString& file = form1_.cfgfn;
    const std::string width = lumira::readSetting(file, "Main", "wWidth");
    const std::string height = lumira::readSetting(file, "Main", "wHeight");
    const std::string top = lumira::readSetting(file, "Main", "wTop");
    const std::string left = lumira::readSetting(file, "Main", "wLeft");
    Text_top->setText(lumira::loadedBoxText(top, QStringLiteral("100")));
    Text_left->setText(lumira::loadedBoxText(left, QStringLiteral("100")));
    Text_width->setText(lumira::loadedBoxText(width, QStringLiteral("320")));
    Text_height->setText(lumira::loadedBoxText(height, QStringLiteral("240")));
    Text_url->setText(QString::fromStdString(lumira::readSetting(file, "Main", "URL")));
}

void Form2::Timer1_Timer() {
    check(Text_left, QStringLiteral("0"));
    check(Text_top, QStringLiteral("0"));
    check(Text_width, QStringLiteral("320"));
    check(Text_height, QStringLiteral("240"));
    lumira::placeDisplay(form1_, lumira::boxNumber(Text_left->text(), 0),
                         lumira::boxNumber(Text_top->text(), 0),
                         lumira::boxNumber(Text_width->text(), 320),
                         lumira::boxNumber(Text_height->text(), 240), factors_);
}

void Form2::closeEvent(QCloseEvent* event) {
    Form_Unload();
    event->accept();
}

void Form2::Form_Unload() {
    Timer1.stop();
    lumira::prepareSettingsWrite(form1_.cfgfn);
    // The five keys in one replacement of the file: a power cut never leaves half of them.
    writeIniValues("Main",
                   {{"wTop", Text_top->text().toStdString()},
                    {"wLeft", Text_left->text().toStdString()},
                    {"wWidth", Text_width->text().toStdString()},
                    {"wHeight", Text_height->text().toStdString()},
                    {"URL", Text_url->text().toStdString()}},
                   form1_.cfgfn.toStdString());
    form1_.takeSavedAddress();
    Module3::setNotTopmost(*this);
    Module3::setTopmost(form1_);
}

void Form2::Command6_Click() {
    close();
    Module3::setTopmost(form1_);
}

void Form2::Command1_Click() {
    close();
    form1_.close();
}

void Form2::Label8_Click() {
    lumira::openHelpFile();
}

void Form2::Command4_Click() {
    form1_.Timer_err().cancel();
    form1_.wb1().Navigate(Text_url->text());
}

void Form2::Command5_Click() {
    form1_.wb1().GoBack();
}

void Form2::Command3_Click() {
    form1_.wb1().GoForward();
}

void Form2::Command2_Click() {
    form1_.wb1().Navigate(Text_url->text());
}

void Form2::Command11_Click() {
    form1_.wb1().Stop();
}

void Form2::Command9_Click() {
    Text_top->setText(lumira::nudged(Text_top->text(), -1));
}

void Form2::Command10_Click() {
    Text_top->setText(lumira::nudged(Text_top->text(), +1));
}

void Form2::Command7_Click() {
    Text_left->setText(lumira::nudged(Text_left->text(), -1));
}

void Form2::Command8_Click() {
    Text_left->setText(lumira::nudged(Text_left->text(), +1));
}
