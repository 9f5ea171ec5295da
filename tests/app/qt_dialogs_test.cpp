#include "app/qt_dialogs.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include "test_support.h"

namespace vellumax {
namespace {

// A closing report of hundreds of failures never outgrows the screen: its text, whole and in
// order, scrolls, and OK stays in reach.
TEST(QtDialogsTest, ALongMessageScrollsAndItsButtonStaysOnTheScreen) {
    QString text = "Done.\r\n\r\nError #2122:\r\nFollowing files: \r\n";
    for (int line = 1; line <= 400; ++line) {
        text += QString("/home/ann/archive/scan%1.mdi (321 (Invalid file format)) \r\n").arg(line);
    }
    QRect shown;
    bool buttonInReach = false;
    QString shownText;
    QTimer::singleShot(0, [&] {
        QWidget* box = QApplication::activeModalWidget();
        ASSERT_NE(box, nullptr);
        shown = box->geometry();
        QPushButton* ok = box->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
        buttonInReach = ok->isVisible() && box->rect().contains(ok->geometry().translated(
                                               ok->parentWidget()->mapTo(box, QPoint(0, 0))));
        shownText = box->findChild<QLabel*>()->text();
        ok->click();
    });
    QtDialogs dialogs;
    EXPECT_EQ(dialogs.ShowMessage(text, "Vellumax", MessageButtons::Ok, MessageIcon::None),
              MessageAnswer::Ok);
    EXPECT_LE(shown.height(), QGuiApplication::primaryScreen()->availableGeometry().height());
    EXPECT_TRUE(buttonInReach);
    EXPECT_EQ(shownText, DisplayText(text));
}

}  // namespace
}  // namespace vellumax
