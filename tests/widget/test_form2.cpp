// The settings window against a display window with a fake browser: loading, live
// placement, saving on close, the browser buttons and the nudges.
#include "display/exit_prompt.h"
#include "display/form1.h"
#include "settings/form2.h"
#include "tests/fakes/fake_browser.h"

#include <QFile>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

constexpr lumira::TwipsFactors kFactors{15, 15};

// A display window on a lumira.ini of the test's own, and its settings window.
struct Windows {
    QTemporaryDir dir;
    FakeBrowser* browser = nullptr;
    std::unique_ptr<Form1> form1;
    QPointer<Form2> form2;

    explicit Windows(const QByteArray& ini = {}) {
        if (!ini.isNull())
            writeIni(ini);
        form1 = std::make_unique<Form1>(
            kFactors,
            [this](QWidget*) {
                auto made = std::make_unique<FakeBrowser>(kFactors);
                browser = made.get();
                return made;
            },
            [this]() -> QWidget& { return settings(); });
        form1->cfgfn = dir.filePath(QStringLiteral("lumira.ini"));
        form1->show();
    }
    Form2& settings() {
        if (!form2)
            form2 = new Form2(*form1, kFactors);
        form2->show();
        return *form2;
    }
    void writeIni(const QByteArray& bytes) {
        QFile file(dir.filePath(QStringLiteral("lumira.ini")));
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
    }
    QByteArray ini() const {
        QFile file(dir.filePath(QStringLiteral("lumira.ini")));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    // Waits for the live placement to have put the display window at `where`.
    bool placedAt(QRect where) {
        return QTest::qWaitFor([&] { return form1->geometry() == where; }, 1000);
    }
    bool boxBecomes(QLineEdit* box, const QString& text) {
        return QTest::qWaitFor([&] { return box->text() == text; }, 1000);
    }
};

} // namespace

TEST(Form2, freshFileShowsLoadValuesAndTheDisplayDoesNotMove) {
    Windows windows;
    Form2& form2 = windows.settings();
    EXPECT_EQ(form2.Text_left->text(), QStringLiteral("100"));
    EXPECT_EQ(form2.Text_top->text(), QStringLiteral("100"));
    EXPECT_EQ(form2.Text_width->text(), QStringLiteral("320"));
    EXPECT_EQ(form2.Text_height->text(), QStringLiteral("240"));
    EXPECT_EQ(form2.Text_url->text(), QString());
    QTest::qWait(250);
    EXPECT_EQ(windows.form1->geometry(), QRect(100, 100, 321, 241));
}

TEST(Form2, layoutFocusAndReturnPressesOnlyAFocusedButton) {
    Windows windows;
    Form2& form2 = windows.settings();
    EXPECT_EQ(form2.windowTitle(), QStringLiteral("显示设置"));
    EXPECT_EQ(form2.size(), QSize(511, 165));
    EXPECT_EQ(form2.Command1->geometry(), QRect(456, 128, 49, 25));
    EXPECT_EQ(form2.Text_url->geometry(), QRect(40, 56, 417, 18));
    EXPECT_EQ(form2.focusWidget(), form2.Text_url);
    EXPECT_EQ(form2.Text_url->nextInFocusChain(), form2.Command4);
    for (QPushButton* button : form2.findChildren<QPushButton*>())
        EXPECT_FALSE(button->isDefault()) << button->text().toStdString();

    // No default button: Return in a box presses nothing; on a focused button it presses it.
    QTest::keyClick(form2.Text_url, Qt::Key_Return);
    QTest::keyClick(form2.Text_left, Qt::Key_Return);
    EXPECT_EQ(form2.Text_left->text(), QStringLiteral("100"));
    EXPECT_TRUE(form2.isVisible());
    QTest::keyClick(form2.Command8, Qt::Key_Return);
    EXPECT_EQ(form2.Text_left->text(), QStringLiteral("101")) << "右 pressed by Return";
    QTest::keyClick(form2.Command6, Qt::Key_Return);
    EXPECT_TRUE(QTest::qWaitFor([&] { return windows.form2.isNull(); }, 2000)) << "返回";
}

TEST(Form2, liveEditsReachTheDisplayWindowAndTheBoxKeepsWhatWasTyped) {
    Windows windows;
    Form2& form2 = windows.settings();
    form2.Text_left->setText(QString());
    EXPECT_TRUE(windows.boxBecomes(form2.Text_left, QStringLiteral("0")));
    EXPECT_TRUE(windows.placedAt({0, 100, 321, 241})) << "cleared left goes to the edge";

    form2.Text_width->setText(QStringLiteral("-"));
    EXPECT_TRUE(windows.boxBecomes(form2.Text_width, QStringLiteral("320")));

    form2.Text_left->setText(QStringLiteral("-5"));
    form2.Text_top->setText(QStringLiteral("10.5"));
    form2.Text_width->setText(QStringLiteral("0"));
    EXPECT_TRUE(windows.placedAt({-5, 11, 1, 241})) << "zero width leaves the 20-twip window";
    EXPECT_EQ(form2.Text_left->text(), QStringLiteral("-5"));
    EXPECT_EQ(form2.Text_top->text(), QStringLiteral("10.5"));

    // Numbers the window system cannot take neither end nor freeze the program.
    form2.Text_width->setText(QStringLiteral("-7"));
    form2.Text_left->setText(QStringLiteral("1e300"));
    EXPECT_TRUE(windows.placedAt({32767, 11, 1, 241}));
    EXPECT_EQ(form2.Text_width->text(), QStringLiteral("-7"));
}

TEST(Form2, closingWritesAllFiveKeysInOrderExactlyAsShown) {
    Windows windows("[Main]\r\nwWidth=abc\r\n");
    Form2& form2 = windows.settings();
    EXPECT_EQ(form2.Text_width->text(), QStringLiteral("320"));
    form2.Text_top->setText(QStringLiteral("10.5"));
    form2.close();
    EXPECT_EQ(windows.ini(), QByteArray("[Main]\r\nwWidth=320\r\nwTop=10.5\r\nwLeft=100\r\n"
                                        "wHeight=240\r\nURL=\r\n"));
}

TEST(Form2, newFileHoldsMainAndTheKeysInWriteOrder) {
    Windows windows;
    Form2& form2 = windows.settings();
    form2.Command8->click();
    form2.Command8->click();
    form2.Command6->click(); // Return
    EXPECT_EQ(windows.ini(), QByteArray("[Main]\r\nwTop=100\r\nwLeft=102\r\nwWidth=320\r\n"
                                        "wHeight=240\r\nURL=\r\n"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return windows.form2.isNull(); }, 1000));
}

TEST(Form2, reopeningWhileOpenKeepsTheEditedBoxes) {
    Windows windows;
    Form2& form2 = windows.settings();
    form2.Text_url->setText(QStringLiteral("http://edited.local/"));
    windows.writeIni("[Main]\r\nURL=http://other.local/\r\n");
    EXPECT_EQ(&windows.settings(), &form2);
    EXPECT_EQ(form2.Text_url->text(), QStringLiteral("http://edited.local/"));
}

TEST(Form2, exitAnsweredNoSavesClosesSettingsAndKeepsTheDisplay) {
    Windows windows;
    QStringList asked;
    lumira::setExitPromptAnswerer([&](const QString& title) {
        asked << title;
        return false;
    });
    windows.settings().Command1->click(); // Exit
    lumira::setExitPromptAnswerer({});
    EXPECT_EQ(asked, QStringList{QStringLiteral("LED客户端")});
    EXPECT_TRUE(windows.ini().contains("wTop=100"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return windows.form2.isNull(); }, 1000));
    EXPECT_TRUE(windows.form1->isVisible());
}

TEST(Form2, goCancelsPendingRetryRefreshLeavesIt) {
    Windows windows;
    Form2& form2 = windows.settings();
    form2.Text_url->setText(QStringLiteral("http://typed.local/"));

    windows.browser->fail();
    ASSERT_TRUE(windows.form1->Timer_err().pending());
    form2.Command2->click(); // Refresh
    EXPECT_TRUE(windows.form1->Timer_err().pending());
    EXPECT_EQ(windows.browser->shown(), QStringLiteral("http://typed.local/"));

    form2.Command4->click(); // Go
    EXPECT_FALSE(windows.form1->Timer_err().pending());
    EXPECT_EQ(windows.browser->navigations.last(), QStringLiteral("http://typed.local/"));
}

TEST(Form2, backOnFirstPageAndForwardOnNewestChangeNothing) {
    Windows windows;
    Form2& form2 = windows.settings();
    const QString first = windows.browser->shown();
    form2.Command5->click(); // Back
    EXPECT_EQ(windows.browser->shown(), first);
    form2.Text_url->setText(QStringLiteral("http://second.local/"));
    form2.Command4->click();
    form2.Command3->click(); // Forward on the newest
    EXPECT_EQ(windows.browser->shown(), QStringLiteral("http://second.local/"));
    form2.Command5->click();
    EXPECT_EQ(windows.browser->shown(), first);
    form2.Command11->click(); // Stop
    EXPECT_EQ(windows.browser->stops, 1);
}

TEST(Form2, nudgesMoveByOnePixelAndLeaveNonNumbersAlone) {
    Windows windows;
    Form2& form2 = windows.settings();
    form2.Text_top->setText(QStringLiteral("10.5"));
    form2.Command9->click(); // up
    EXPECT_EQ(form2.Text_top->text(), QStringLiteral("9.5"));
    form2.Command10->click(); // down
    form2.Command10->click();
    EXPECT_EQ(form2.Text_top->text(), QStringLiteral("11.5"));
    form2.Text_left->setText(QStringLiteral("0"));
    form2.Command7->click(); // left
    EXPECT_EQ(form2.Text_left->text(), QStringLiteral("-1"));
    EXPECT_TRUE(windows.placedAt({-1, 12, 321, 241}));
    form2.Text_left->setText(QStringLiteral("x"));
    form2.Command8->click(); // right on a box without a number
    EXPECT_TRUE(windows.form1->isVisible());
}
