// The welcome window without a screen: its layout, version line, OK and Help.
#include "common/program_folder.h"
#include "platform/text_viewer.h"
#include "ui/link_label.h"
#include "welcome/form3.h"

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

TEST(Form3, layoutFromTwipsGrowsWithTheScreenFactor) {
    for (auto [factor, size] : {std::pair{15.0f, QSize(335, 102)}, {10.0f, QSize(503, 153)}}) {
        Form3 form({factor, factor}, [] {});
        EXPECT_EQ(form.size(), size) << "factor " << factor;
        EXPECT_EQ(form.minimumSize(), form.maximumSize()) << "the border is fixed";
        EXPECT_EQ(form.Image1->geometry().left(), factor == 15.0f ? -80 : -120);
        EXPECT_EQ(form.windowTitle(), QStringLiteral("Lumira"));
    }
}

TEST(Form3, showsVersionLineHintAndFocusOnOk) {
    Form3 form({15, 15}, [] {});
    form.show();
    form.activateWindow();
    EXPECT_EQ(form.Label2->text(), QStringLiteral(" V 1.0.0 "));
    EXPECT_EQ(form.Label3->text(), QStringLiteral("进入显示页面，按Shift+F12设置"));
    EXPECT_EQ(form.Command1->text(), QStringLiteral("确定"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return form.Command1->hasFocus(); }, 2000));
    // The banner lies behind everything else.
    EXPECT_EQ(form.children().indexOf(form.Image1), 0);
}

TEST(Form3, okByClickOrReturnOpensTheDisplayOnceAndClosesForGood) {
    for (bool byReturn : {false, true}) {
        int opened = 0;
        QPointer<Form3> form = new Form3({15, 15}, [&] { ++opened; });
        form->show();
        if (byReturn)
            QTest::keyClick(form->Command1, Qt::Key_Return);
        else
            QTest::mouseClick(form->Command1, Qt::LeftButton);
        EXPECT_EQ(opened, 1) << (byReturn ? "Return" : "click");
        EXPECT_TRUE(QTest::qWaitFor([&] { return form.isNull(); }, 2000)) << "not unloaded";
    }
}

TEST(Form3, helpOpensTheHelpFileOncePerClickAndTheWindowStays) {
    QStringList opened;
    lumira::platform::setTextViewerLauncher([&](const QString& path) { opened << path; });
    Form3 form({15, 15}, [] {});
    form.show();
    QTest::mouseClick(form.Label8, Qt::LeftButton);
    QTest::mouseClick(form.Label8, Qt::LeftButton);
    lumira::platform::setTextViewerLauncher({});
    const QString help = lumira::programFolder() + QStringLiteral("/Lumira帮助.txt");
    EXPECT_EQ(opened, (QStringList{help, help}));
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.Label8->cursor().shape(), Qt::BitmapCursor) << "the pointing hand";
}
