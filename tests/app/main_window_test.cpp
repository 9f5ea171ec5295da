#include "app/main_window.h"
#include "app/startup.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QGroupBox>
#include <QImage>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QStandardPaths>
#include <QTest>
#include <QTreeView>
#include <QUrl>
#include <QtEndian>
#include <algorithm>
#include <memory>

#include "filelist/file_list.h"
#include "platform/build_config.h"
#include "scripted_dialogs.h"
#include "test_support.h"

namespace vellumax {
namespace {

using testing::MakeFile;
using testing::ScriptedDialogs;
using testing::TemporaryConfig;

class MainWindowTest : public ::testing::Test {
protected:
    void Open() {
        window = std::make_unique<MainWindow>(
            WindowContext{dialogs, programFolder.path(), [this] { return draw; }});
    }

    template <typename Control>
    Control* Find(const char* name) const {
        auto* control = window->objectName() == name ? qobject_cast<Control*>(window.get())
                                                     : window->findChild<Control*>(name);
        EXPECT_NE(control, nullptr) << name;
        return control;
    }

    void MoveMouseOver(QWidget* widget) {
        QMouseEvent move(QEvent::MouseMove, QPointF(2, 2), widget->mapToGlobal(QPointF(2, 2)),
                         Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(widget, &move);
    }

    QString ExpectedDesktop() const { return DefaultOutputFolder(); }

    TemporaryConfig config;
    ScriptedDialogs dialogs;
    QTemporaryDir programFolder;
    double draw = 0.5;
    std::unique_ptr<MainWindow> window;
};

TEST_F(MainWindowTest, FirstStartWithAnEmptyStore) {
    Open();
    EXPECT_TRUE(dialogs.requests().empty());
    EXPECT_EQ(window->windowTitle(), "Vellumax");
    // A display name would be added to every window's title, the dialogs' too.
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), QCoreApplication::applicationName());
    EXPECT_EQ(window->fileList().headerData(0, Qt::Horizontal).toString(), " MDI File(s)");
    EXPECT_EQ(window->fileList().Count(), 0);
    EXPECT_EQ(Find<QTreeView>("ListView1")->columnWidth(0), 467);
    EXPECT_EQ(Find<QLineEdit>("Text1")->text(), ExpectedDesktop());
    EXPECT_EQ(Find<QSlider>("Slider1")->value(), 85);
    EXPECT_EQ(Find<QGroupBox>("Frame2")->title(), "Output JPG image quality: 85%");
    EXPECT_TRUE(Find<QRadioButton>("Option1")->isChecked());
    EXPECT_FALSE(Find<QRadioButton>("Option2")->isChecked());
    EXPECT_TRUE(Find<QGroupBox>("Frame3")->isEnabled());
    EXPECT_EQ(Find<QProgressBar>("ProgressBar1")->text(), "Progress Bar");
    EXPECT_EQ(window->mousePointer(), kPointerDefault);

    EXPECT_EQ(config.Stored("Text1"), ExpectedDesktop()) << "restoring the box writes it back";
    EXPECT_EQ(config.Stored("Slider1"), std::nullopt);
    EXPECT_EQ(config.Stored("Option1"), std::nullopt);
}

struct StoredOptions {
    const char* option1;
    const char* option2;
    bool option1Selected;
    bool option2Selected;
};
void PrintTo(const StoredOptions& options, std::ostream* out) {
    *out << options.option1 << '_' << options.option2;
}
class StoredOptionsTest : public MainWindowTest,
                          public ::testing::WithParamInterface<StoredOptions> {};
TEST_P(StoredOptionsTest, RestoreTheSelectionAndTheOutputRow) {
    config.Store("Option1", GetParam().option1);
    config.Store("Option2", GetParam().option2);
    Open();
    EXPECT_TRUE(dialogs.requests().empty());
    EXPECT_EQ(Find<QRadioButton>("Option1")->isChecked(), GetParam().option1Selected);
    EXPECT_EQ(Find<QRadioButton>("Option2")->isChecked(), GetParam().option2Selected);
    const bool rowEnabled = GetParam().option1Selected;
    EXPECT_EQ(Find<QGroupBox>("Frame3")->isEnabled(), rowEnabled);
    EXPECT_EQ(Find<QLineEdit>("Text1")->isEnabled(), rowEnabled);
    EXPECT_EQ(Find<QPushButton>("PushButton9")->isEnabled(), rowEnabled);
}
INSTANTIATE_TEST_SUITE_P(Values, StoredOptionsTest,
                         ::testing::Values(StoredOptions{"False", "True", false, true},
                                           StoredOptions{"True", "False", true, false},
                                           StoredOptions{"1", "0", true, false},
                                           StoredOptions{"true", "false", true, false},
                                           StoredOptions{"False", "False", false, false}));

TEST_F(MainWindowTest, ASliderValueThatIsNoNumberIsReportedOnceAndKeeps85) {
    config.Store("Slider1", "abc");
    dialogs.AnswerMessage(MessageAnswer::Ok);
    Open();
    ASSERT_EQ(dialogs.messages().size(), 1u);
    EXPECT_EQ(dialogs.messages()[0].text,
              QString("Type mismatch\r\nin Quirnel2021/08/31.Form1.Form_Load at line 136\r\r"
                      "Please email screenshot of this message to ") +
                  build_config::kSupportEmail);
    EXPECT_EQ(Find<QSlider>("Slider1")->value(), 85);
    EXPECT_EQ(Find<QGroupBox>("Frame2")->title(), "Output JPG image quality: 85%");
    EXPECT_TRUE(Find<QRadioButton>("Option1")->isChecked()) << "start-up went on after the report";
}

TEST_F(MainWindowTest, ASliderValueOutsideItsRangeIsReportedToo) {
    config.Store("Slider1", "150");
    dialogs.AnswerMessage(MessageAnswer::Ok);
    Open();
    ASSERT_EQ(dialogs.messages().size(), 1u);
    EXPECT_TRUE(dialogs.messages()[0].text.startsWith("Invalid property value\r\n"));
    EXPECT_TRUE(dialogs.messages()[0].text.contains("at line 136\r\r"));
    EXPECT_EQ(Find<QSlider>("Slider1")->value(), 85);
}

TEST_F(MainWindowTest, StoredValuesAreRestored) {
    config.Store("Slider1", "40");
    config.Store("Text1", "");
    Open();
    EXPECT_EQ(Find<QSlider>("Slider1")->value(), 40);
    EXPECT_EQ(Find<QGroupBox>("Frame2")->title(), "Output JPG image quality: 40%");
    EXPECT_EQ(Find<QLineEdit>("Text1")->text(), "") << "the default applies only to a missing key";
}

TEST_F(MainWindowTest, OptionClicksStoreBothOptionsAndToggleTheOutputRow) {
    Open();
    Find<QRadioButton>("Option2")->click();
    EXPECT_EQ(config.Stored("Option1"), "False");
    EXPECT_EQ(config.Stored("Option2"), "True");
    EXPECT_FALSE(Find<QGroupBox>("Frame3")->isEnabled());

    Find<QRadioButton>("Option1")->click();
    EXPECT_EQ(config.Stored("Option1"), "True");
    EXPECT_EQ(config.Stored("Option2"), "False");
    EXPECT_TRUE(Find<QGroupBox>("Frame3")->isEnabled());
}

TEST_F(MainWindowTest, ARefusedWriteInAHandlerIsReportedAndTheWindowGoesOn) {
    Open();
    QDir(config.path()).removeRecursively();
    MakeFile(config.path() + "/Corvantis");  // the store's folder cannot be made now
    dialogs.AnswerMessage(MessageAnswer::Ok);
    Find<QRadioButton>("Option2")->click();
    ASSERT_EQ(dialogs.messages().size(), 1u);
    EXPECT_TRUE(dialogs.messages()[0].text.startsWith(
        "Path/File access error\r\nin Quirnel2021/08/31.Form1.Option2_Click at line 100\r\r"));
    EXPECT_TRUE(Find<QRadioButton>("Option2")->isChecked());
}

TEST_F(MainWindowTest, TypingStoresTheWholeTextAtEachKey) {
    Open();
    auto* text1 = Find<QLineEdit>("Text1");
    text1->clear();
    EXPECT_EQ(config.Stored("Text1"), "");
    QTest::keyClicks(text1, "/o");
    EXPECT_EQ(config.Stored("Text1"), "/o");
}

TEST_F(MainWindowTest, BrowsingToAFolderSetsTheBoxWithATrailingSeparator) {
    config.Store("LastFolderDot", "/earlier");
    Open();
    dialogs.AnswerFolder("/data/Out");
    QTest::mouseClick(Find<QPushButton>("PushButton9"), Qt::LeftButton);

    ASSERT_EQ(dialogs.requests().size(), 1u);
    EXPECT_EQ(dialogs.requests()[0].kind, testing::DialogKind::PickFolder);
    EXPECT_EQ(dialogs.requests()[0].title, "Please select folder:");
    EXPECT_EQ(dialogs.requests()[0].detail, "/earlier");
    EXPECT_EQ(Find<QLineEdit>("Text1")->text(), "/data/Out/");
    EXPECT_EQ(config.Stored("LastFolderDot"), "/data/Out");
    EXPECT_EQ(config.Stored("Text1"), "/data/Out/");

    dialogs.AnswerFolder("/");
    Find<QPushButton>("PushButton9")->click();
    EXPECT_EQ(dialogs.requests()[1].detail, "/data/Out");
    EXPECT_EQ(Find<QLineEdit>("Text1")->text(), "/") << "no doubled separator at the root";
    EXPECT_EQ(config.Stored("LastFolderDot"), "/");
}

TEST_F(MainWindowTest, CancellingTheFolderPickerChangesNothing) {
    config.Store("LastFolderDot", "/earlier");
    config.Store("Text1", "/typed/");
    Open();
    dialogs.AnswerFolder("");
    Find<QPushButton>("PushButton9")->click();
    EXPECT_EQ(Find<QLineEdit>("Text1")->text(), "/typed/");
    EXPECT_EQ(config.Stored("LastFolderDot"), "/earlier");
    EXPECT_EQ(config.Stored("Text1"), "/typed/");
}

TEST_F(MainWindowTest, MovingTheSliderUpdatesTheCaptionAndTheStore) {
    Open();
    auto* slider = Find<QSlider>("Slider1");
    QTest::keyClick(slider, Qt::Key_End);
    EXPECT_EQ(slider->value(), 100);
    EXPECT_EQ(Find<QGroupBox>("Frame2")->title(), "Output JPG image quality: 100%");
    EXPECT_EQ(config.Stored("Slider1"), "100");
    QTest::keyClick(slider, Qt::Key_PageDown);
    EXPECT_EQ(config.Stored("Slider1"), "95") << "a large step is 5";
}

struct Placement {
    const char* name;
    QRect geometry;
};
void PrintTo(const Placement& placement, std::ostream* out) {
    *out << placement.name;
}
class LayoutTest : public MainWindowTest, public ::testing::WithParamInterface<Placement> {};
TEST_P(LayoutTest, EveryControlSitsWhereTheDesignPutsIt) {
    Open();
    EXPECT_EQ(Find<QWidget>(GetParam().name)->geometry(), GetParam().geometry);
}
INSTANTIATE_TEST_SUITE_P(
    Controls, LayoutTest,
    ::testing::Values(
        Placement{"PushButton3", {8, 8, 520, 27}}, Placement{"ListView1", {8, 42, 520, 169}},
        Placement{"PushButton1", {8, 217, 256, 27}}, Placement{"PushButton4", {272, 217, 256, 27}},
        Placement{"PushButton6", {8, 251, 256, 27}}, Placement{"PushButton7", {272, 251, 256, 27}},
        Placement{"Frame2", {8, 282, 520, 59}}, Placement{"Slider1", {8, 16, 504, 36}},
        Placement{"Frame5", {8, 346, 520, 121}}, Placement{"Option1", {16, 20, 241, 17}},
        Placement{"Frame3", {32, 34, 456, 54}}, Placement{"Text1", {16, 20, 378, 23}},
        Placement{"PushButton9", {400, 20, 40, 23}}, Placement{"Option2", {16, 94, 241, 17}},
        Placement{"PushButton2", {8, 476, 520, 27}}, Placement{"ProgressBar1", {8, 511, 520, 27}}));

TEST_F(MainWindowTest, TheWindowHasAFixedSizeAndNoMaximizeBox) {
    Open();
    EXPECT_EQ(window->minimumSize(), QSize(536, 546));
    EXPECT_EQ(window->maximumSize(), QSize(536, 546));
    EXPECT_FALSE(window->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_EQ(window->font().family(), "Arial");
    EXPECT_TRUE(window->font().bold());
    EXPECT_EQ(window->font().pointSizeF(), 9.0);
    EXPECT_EQ(Find<QPushButton>("PushButton2")->font().pointSizeF(), 11.25);
    EXPECT_EQ(Find<QTreeView>("ListView1")->toolTip(),
              "Drag and drop files here. Double-click item to remove it. Move | line to right "
              "and out of window to reveal full names.");
}

// A cursor file as Windows writes one: an icon directory of type 2 whose first entry
// carries the hot spot.
QByteArray CursorFile(QPoint hotSpot) {
    QImage picture(32, 32, QImage::Format_ARGB32);
    picture.fill(Qt::black);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(picture.save(&buffer, "ICO"));
    qToLittleEndian<quint16>(2, bytes.data() + 2);
    qToLittleEndian<quint16>(hotSpot.x(), bytes.data() + 10);
    qToLittleEndian<quint16>(hotSpot.y(), bytes.data() + 12);
    return bytes;
}

TEST_F(MainWindowTest, WithoutACursorFileTheButtonsKeepTheArrow) {
    Open();
    MoveMouseOver(Find<QPushButton>("PushButton1"));
    EXPECT_EQ(window->mousePointer(), kPointerCustom);
    EXPECT_EQ(window->cursor().shape(), Qt::ArrowCursor);
}

TEST_F(MainWindowTest, TheHandShowsOverButtonsAndTheArrowElsewhere) {
    MakeFile(programFolder.path() + "/HAND-M.CUR", CursorFile({5, 1}));
    Open();
    EXPECT_TRUE(dialogs.requests().empty());
    for (const char* button : {"PushButton1", "PushButton2", "PushButton3", "PushButton4",
                               "PushButton6", "PushButton7", "PushButton9"}) {
        MoveMouseOver(Find<QWidget>("Frame2"));
        EXPECT_EQ(window->mousePointer(), kPointerDefault);
        EXPECT_EQ(window->cursor().shape(), Qt::ArrowCursor);
        MoveMouseOver(Find<QWidget>(button));
        EXPECT_EQ(window->mousePointer(), kPointerCustom) << button;
        EXPECT_EQ(window->cursor().shape(), Qt::BitmapCursor) << button;
        EXPECT_EQ(window->cursor().hotSpot(), QPoint(5, 1));
    }
    MoveMouseOver(window.get());
    EXPECT_EQ(window->mousePointer(), kPointerDefault);
    MoveMouseOver(Find<QPushButton>("PushButton1"));
    MoveMouseOver(Find<QTreeView>("ListView1")->viewport());
    EXPECT_EQ(window->mousePointer(), kPointerDefault);
}

TEST_F(MainWindowTest, TheBusyPointerIsNeverReplacedByTheHoverRule) {
    MakeFile(programFolder.path() + "/HAND-M.CUR", CursorFile({0, 0}));
    Open();
    window->setMousePointer(kPointerBusy);
    MoveMouseOver(Find<QPushButton>("PushButton2"));
    MoveMouseOver(Find<QWidget>("Frame5"));
    MoveMouseOver(window.get());
    EXPECT_EQ(window->mousePointer(), kPointerBusy);
    EXPECT_EQ(window->cursor().shape(), Qt::WaitCursor);
}

TEST_F(MainWindowTest, ACursorFileThatIsNoPictureIsReportedUnderLine104) {
    MakeFile(programFolder.path() + "/HAND-M.CUR", "not a cursor");
    dialogs.AnswerMessage(MessageAnswer::Ok);
    Open();
    ASSERT_EQ(dialogs.messages().size(), 1u);
    EXPECT_TRUE(dialogs.messages()[0].text.startsWith(
        "Invalid picture\r\nin Quirnel2021/08/31.Form1.Form_Load at line 104\r\r"));
    MoveMouseOver(Find<QPushButton>("PushButton1"));
    EXPECT_EQ(window->cursor().shape(), Qt::ArrowCursor);
}

const char* const kBackgroundControls[] = {"Form1",  "Frame2",  "Frame3",
                                           "Frame5", "Option1", "Option2"};

TEST_F(MainWindowTest, WithoutASkinTheWindowFramesAndOptionsAreWhite) {
    Open();
    for (const char* name : kBackgroundControls) {
        EXPECT_EQ(Find<QWidget>(name)->palette().color(QPalette::Window), QColor(Qt::white))
            << name;
    }
    EXPECT_TRUE(window->styleSheet().isEmpty());
}

TEST_F(MainWindowTest, ASkinFileTurnsThemToButtonFaceAndStylesTheWindow) {
    const QByteArray sheet = "QPushButton { color: #203060; }";
    MakeFile(programFolder.path() + "/x/o.cjs", sheet);
    Open();
    const QColor buttonFace = QApplication::palette().color(QPalette::Button);
    for (const char* name : kBackgroundControls) {
        EXPECT_EQ(Find<QWidget>(name)->palette().color(QPalette::Window), buttonFace) << name;
    }
    EXPECT_EQ(window->styleSheet(), QString::fromUtf8(sheet));
}

TEST_F(MainWindowTest, ASkinThatCannotBeReadIsReportedUnderLine100AfterTheColours) {
    ASSERT_TRUE(QDir(programFolder.path()).mkdir("x"));
    ASSERT_EQ(::symlink("missing.cjs", QFile::encodeName(programFolder.path() + "/x/o.cjs")), 0);
    dialogs.AnswerMessage(MessageAnswer::Ok);
    Open();
    ASSERT_EQ(dialogs.messages().size(), 1u);
    EXPECT_TRUE(dialogs.messages()[0].text.contains("Form_Load at line 100\r\r"));
    EXPECT_EQ(window->palette().color(QPalette::Window),
              QApplication::palette().color(QPalette::Button));
    EXPECT_EQ(window->windowTitle(), "Vellumax") << "start-up went on";
}

class VendorSiteTest : public MainWindowTest, public ::testing::WithParamInterface<double> {};
TEST_P(VendorSiteTest, OnlyTheSeventhOfAHundredDrawsOpensTheVendorSite) {
    draw = GetParam();
    Open();
    const bool seventh = draw >= 0.06 && draw < 0.07;
    EXPECT_EQ(dialogs.openedTargets(),
              seventh ? QStringList{build_config::kVendorUrl} : QStringList{});
}
INSTANTIATE_TEST_SUITE_P(Draws, VendorSiteTest, ::testing::Values(0.0, 0.059, 0.06, 0.069, 0.07));

class FileListWindowTest : public MainWindowTest {
protected:
    void SetUp() override {
        Open();
        view = Find<QTreeView>("ListView1");
        for (const char* text : {"/1.mdi", "/2.mdi", "/3.mdi"}) {
            window->fileList().Append(text);
        }
    }
    QPoint Row(int position) const {
        return view->visualRect(window->fileList().index(position - 1)).center();
    }
    QStringList Texts() const { return testing::Texts(window->fileList()); }
    QTreeView* view = nullptr;
};

TEST_F(FileListWindowTest, DeleteAndDoubleClickRemoveTheSelectedEntryUnlessBusy) {
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, Row(2));
    QTest::keyClick(view, Qt::Key_Delete);
    EXPECT_EQ(Texts(), QStringList({"/1.mdi", "/3.mdi"}));

    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, Row(1));
    window->setMousePointer(kPointerBusy);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, Row(1));
    QTest::keyClick(view, Qt::Key_Delete);
    Find<QPushButton>("PushButton6")->click();
    EXPECT_EQ(Texts(), QStringList({"/1.mdi", "/3.mdi"})) << "nothing is removed while busy";

    window->setMousePointer(kPointerDefault);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, Row(1));
    EXPECT_EQ(Texts(), QStringList({"/3.mdi"}));
    Find<QPushButton>("PushButton6")->click();
    EXPECT_EQ(window->fileList().Count(), 0);
}

TEST_F(FileListWindowTest, ADoubleClickBelowTheEntriesRemovesTheSelectedOne) {
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, Row(2));
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {},
                       QPoint(Row(3).x(), view->viewport()->height() - 5));
    EXPECT_EQ(Texts(), QStringList({"/1.mdi", "/3.mdi"}));
}

TEST_F(FileListWindowTest, DraggingAnEntryDownExchangesItWithEachEntryItCrosses) {
    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, Row(1));
    QTest::mouseMove(view->viewport(), Row(2));
    QTest::mouseMove(view->viewport(), Row(3));
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, Row(3));
    EXPECT_EQ(Texts(), QStringList({"/2.mdi", "/3.mdi", "/1.mdi"}));
    EXPECT_EQ(window->fileList().SelectedPosition(), 3);
}

TEST_F(FileListWindowTest, OnlyAShellFileDropIsTakenAndAddedAsDelivered) {
    QMimeData text;
    text.setText("/tmp/a.mdi");
    QDragEnterEvent refused(QPoint(5, 5), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view->viewport(), &refused);
    EXPECT_FALSE(refused.isAccepted());

    QMimeData files;
    files.setUrls({QUrl::fromLocalFile("/nowhere/notes.txt"), QUrl::fromLocalFile("/tmp/x y.mdi")});
    QDragEnterEvent welcomed(QPoint(5, 5), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view->viewport(), &welcomed);
    EXPECT_TRUE(welcomed.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view->viewport(), &drop);
    EXPECT_EQ(Texts().mid(3), QStringList({"/nowhere/notes.txt", "/tmp/x y.mdi"}));
}

// The list's frame shows on all four sides at every scale, 120 dpi (1.25) included.
TEST_F(MainWindowTest, TheListsFrameIsDrawnAtEveryScale) {
    Open();
    window->show();
    auto* list = Find<QTreeView>("ListView1");
    for (const double scale : {1.0, 1.25, 1.5}) {
        SCOPED_TRACE(scale);
        QImage image(list->size() * scale, QImage::Format_RGB32);
        image.setDevicePixelRatio(scale);
        list->render(&image);
        // The darkest of the outer two device pixels, halfway along each side.
        const auto edge = [&](int x, int y, int dx, int dy) {
            return std::min(qGray(image.pixel(x, y)), qGray(image.pixel(x + dx, y + dy)));
        };
        const int w = image.width();
        const int h = image.height();
        EXPECT_LT(edge(0, h / 2, 1, 0), 200) << "left";
        EXPECT_LT(edge(w / 2, 0, 0, 1), 200) << "top";
        EXPECT_LT(edge(w - 1, h / 2, -1, 0), 200) << "right";
        EXPECT_LT(edge(w / 2, h - 1, 0, -1), 200) << "bottom";
    }
}

TEST_F(MainWindowTest, TabVisitsTheControlsInTheDesignsOrder) {
    Open();
    QStringList visited;
    QWidget* widget = Find<QWidget>("ListView1");
    do {
        if ((widget->focusPolicy() & Qt::TabFocus) != 0 && !widget->objectName().isEmpty()) {
            visited << widget->objectName();
        }
        widget = widget->nextInFocusChain();
    } while (widget->objectName() != "ListView1");
    EXPECT_EQ(visited, QStringList({"ListView1", "PushButton1", "PushButton4", "PushButton2",
                                    "PushButton6", "PushButton7", "PushButton3", "Text1",
                                    "PushButton9", "Option1", "Option2", "Slider1"}));
}

// Restored or clicked, the selected option is the one Tab and Backtab reach; a click anywhere
// on an option's control selects it.
TEST_F(MainWindowTest, TabReachesTheSelectedOptionAndAClickAnywhereOnAnOptionSelectsIt) {
    config.Store("Option1", "False");
    config.Store("Option2", "True");
    Open();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    const auto focusAfter = [&](const char* from, Qt::Key key) {
        Find<QWidget>(from)->setFocus(Qt::OtherFocusReason);
        QTest::keyClick(QApplication::focusWidget(), key);
        return QApplication::focusWidget()->objectName();
    };
    // The output row, Text1 and PushButton9, is off while the pages go beside their sources.
    EXPECT_EQ(focusAfter("PushButton3", Qt::Key_Tab), "Option2");
    EXPECT_EQ(focusAfter("Option2", Qt::Key_Tab), "Slider1");
    EXPECT_EQ(focusAfter("Slider1", Qt::Key_Backtab), "Option2");
    EXPECT_EQ(focusAfter("Option2", Qt::Key_Backtab), "PushButton3");

    auto* option = Find<QRadioButton>("Option1");
    QTest::mouseClick(option, Qt::LeftButton, {},
                      QPoint(option->width() - 3, option->height() / 2));
    EXPECT_TRUE(option->isChecked());
    EXPECT_EQ(focusAfter("PushButton9", Qt::Key_Tab), "Option1");
}

// Start Converting is pressed by the mouse, Help by Enter on the focused button.
TEST_F(MainWindowTest, StartConvertingAndHelpAnswerThroughTheDialogs) {
    Open();
    dialogs.AnswerMessage(MessageAnswer::Ok);
    Find<QPushButton>("PushButton2")->click();
    dialogs.AnswerMessage(MessageAnswer::Yes);
    QTest::keyClick(Find<QPushButton>("PushButton3"), Qt::Key_Return);
    ASSERT_EQ(dialogs.messages().size(), 2u);
    EXPECT_EQ(dialogs.messages()[0].text, "No files added.");
    EXPECT_EQ(dialogs.messages()[1].text,
              "You must have Microsoft Office Digital Imaging (MODI) installed to use this "
              "software.\r\rMODI usually comes with MS Office but you can get MODI by downloading "
              "MS SharePoint 2007 which is free.\r\rBetter instructions are available online. "
              "Would you like to see them now? ");
    EXPECT_EQ(dialogs.messages()[1].buttons, MessageButtons::YesNo);
    EXPECT_EQ(dialogs.openedTargets(),
              QStringList{QString("http://") + build_config::kImagingSupportHost + "/kb/982760/"});
    EXPECT_FALSE(window->isConverting());
}

TEST_F(FileListWindowTest, TheButtonsFillTheList) {
    dialogs.AnswerFiles({"/in/a.mdi", "/in/b.mdi"});
    Find<QPushButton>("PushButton1")->click();
    MakeFile(programFolder.path() + "/Samples/Sample.mdi");
    dialogs.AnswerMessage(MessageAnswer::Yes);
    Find<QPushButton>("PushButton7")->click();
    EXPECT_EQ(Texts().mid(3), QStringList({"/in/a.mdi", "/in/b.mdi",
                                           programFolder.path() + "/Samples/Sample.mdi"}));
    EXPECT_EQ(dialogs.openedTargets(), QStringList{programFolder.path() + "/Samples/"});
}

}  // namespace
}  // namespace vellumax
