#include "welcome/form3.h"

#include "ui/fonts.h"
#include "ui/help_file.h"
#include "ui/link_label.h"
#include "ui/window_centre.h"
#include "version.h"
#include "welcome/version_line.h"

#include <QEvent>
#include <QLabel>
#include <QPushButton>

Form3::Form3(lumira::TwipsFactors factors, std::function<void()> openDisplay, int autoEnterSeconds)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint),
      openDisplay_(std::move(openDisplay)), autoEnterLeft_(autoEnterSeconds) {
    const lumira::TwipsLayout at{factors};
    setWindowTitle(QStringLiteral("Lumira"));
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(at(0, 0, 5025, 1530).size());

    // Created first, so it lies behind every other control.
    Image1 = new QLabel(this);
    Image1->setPixmap(QPixmap(QStringLiteral(":/assets/banner.jpg")));
    Image1->setGeometry(at(-1200, 0, 7560, 525));

    Label1 = new QLabel(QStringLiteral("Lumira"), this);
    Label1->setGeometry(at(2040, 0, 3015, 495));
    Label1->setFont(lumira::songti(21.75, true));
    Label1->setAutoFillBackground(true);
    QPalette title = Label1->palette();
    title.setColor(QPalette::Window, QColor(0, 0, 255));
    title.setColor(QPalette::WindowText, title.color(QPalette::HighlightedText));
    Label1->setPalette(title);

    Label2 = new QLabel(this);
    Label2->setGeometry(at(2880, 600, 2055, 255));
    Label2->setFont(lumira::songti(9));

    Label3 = new QLabel(QStringLiteral("进入显示页面，按Shift+F12设置"), this);
    Label3->setGeometry(at(120, 840, 2775, 255));
    Label3->setFont(lumira::songti(9));

    Label8 = new LinkLabel(QStringLiteral("帮助"), this);
    Label8->setGeometry(at(1200, 1200, 495, 255));
    Label8->setFont(lumira::songti(9, false, true));

    Command1 = new QPushButton(QStringLiteral("确定"), this);
    Command1->setGeometry(at(3720, 1080, 975, 375));
    Command1->setFont(lumira::songti(9));
    Command1->setAutoDefault(true); // Return presses it while it has the focus, as Space does
    Command1->setFocus();

    connect(Command1, &QPushButton::clicked, this, &Form3::Command1_Click);
    connect(Label8, &LinkLabel::clicked, this, &Form3::Label8_Click);

    autoEnter_.setInterval(1000);
    connect(&autoEnter_, &QTimer::timeout, this, &Form3::autoEnterTick);

    Form_Load();
    lumira::centreOnScreen(*this);
    if (autoEnterLeft_ > 0) {
        showCountdown();
        for (QWidget* control : findChildren<QWidget*>())
            control->installEventFilter(this);
        installEventFilter(this);
        autoEnter_.start();
    }
}

void Form3::Form_Load() {
    Label2->setText(Label2->text() + lumira::versionLine(lumira::version::major,
                                                         lumira::version::minor,
                                                         lumira::version::revision));
}

void Form3::Command1_Click() {
    openDisplay_();
    close();
}

void Form3::autoEnterTick() {
    if (--autoEnterLeft_ > 0) {
        showCountdown();
        return;
    }
    stopAutoEnter();
    Command1_Click();
}

void Form3::showCountdown() {
    Command1->setText(QStringLiteral("确定 (%1)").arg(autoEnterLeft_));
}

void Form3::stopAutoEnter() {
    autoEnter_.stop();
    Command1->setText(QStringLiteral("确定"));
}

bool Form3::eventFilter(QObject*, QEvent* event) {
    if (autoEnter_.isActive() &&
        (event->type() == QEvent::KeyPress || event->type() == QEvent::MouseButtonPress))
        stopAutoEnter();
    return false;
}

void Form3::Label8_Click() {
    lumira::openHelpFile();
}
