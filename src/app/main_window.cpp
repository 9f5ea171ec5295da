#include "app/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDropEvent>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShortcut>
#include <QSlider>
#include <QStyleOptionFrame>
#include <QTreeView>
#include <QtEndian>
#include <cstdlib>

#include "app/startup.h"
#include "conversion/imaging_help.h"
#include "filelist/file_list.h"
#include "filelist/list_adders.h"
#include "filelist/sample_loading.h"
#include "platform/build_config.h"
#include "platform/error_report.h"
#include "platform/folder_walk.h"
#include "platform/path_helpers.h"
#include "platform/product.h"
#include "platform/runtime_error.h"
#include "settings/settings_store.h"

namespace vellumax {

namespace {

// The window is designed in twips; at 96 dots per inch fifteen of them make a pixel.
int Pixels(int twips) {
    return qRound(twips / 15.0);
}

template <typename Control>
Control* Create(QWidget* parent, const char* name, int left, int top, int width, int height) {
    auto* control = new Control(parent);
    control->setObjectName(name);
    control->setGeometry(Pixels(left), Pixels(top), Pixels(width), Pixels(height));
    return control;
}

QFont ArialBold(qreal points) {
    QFont font("Arial");
    font.setPointSizeF(points);
    font.setBold(true);
    return font;
}

void SetBackground(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

// An option button selects wherever it is clicked, as the whole control did in the original
// layout; Qt's own takes only its circle and caption.
class OptionButton : public QRadioButton {
public:
    using QRadioButton::QRadioButton;

protected:
    bool hitButton(const QPoint& position) const override { return rect().contains(position); }
};

// A frame's outline drawn again above its children. At fractional scales (120 dpi is 1.25) a
// list's viewport, rounded out to whole device pixels, paints over the right and bottom lines
// of the frame around it.
class FrameOutline : public QWidget {
public:
    explicit FrameOutline(QFrame* frame) : QWidget(frame), frame_(frame) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        frame->installEventFilter(this);
        setGeometry(frame->rect());
        raise();
    }

protected:
    void paintEvent(QPaintEvent* /*event*/) override {
        QPainter painter(this);
        QStyleOptionFrame option;
        option.initFrom(frame_);
        option.rect = rect();
        option.frameShape = frame_->frameShape();
        option.lineWidth = frame_->lineWidth();
        option.midLineWidth = frame_->midLineWidth();
        option.state |=
            frame_->frameShadow() == QFrame::Sunken ? QStyle::State_Sunken : QStyle::State_Raised;
        style()->drawControl(QStyle::CE_ShapedFrame, &option, &painter, frame_);
    }
    bool eventFilter(QObject* /*watched*/, QEvent* event) override {
        if (event->type() == QEvent::Resize) {
            setGeometry(frame_->rect());
        }
        return false;
    }

private:
    QFrame* frame_;
};

// An option button's value set by code, as in the original controls: false may leave the
// pair with nothing selected, which the auto-exclusive buttons would otherwise refuse.
void SetOptionValue(QRadioButton* option, bool selected) {
    option->setAutoExclusive(false);
    option->setChecked(selected);
    option->setAutoExclusive(true);
}

// A cursor file's first entry records its hot spot where an icon records planes and depth.
QPoint CursorHotSpot(const QByteArray& file, const QSize& pictureSize) {
    constexpr int kEntryHotSpot = 6 + 4;
    if (file.size() < kEntryHotSpot + 4 || qFromLittleEndian<quint16>(file.constData() + 2) != 2) {
        return {-1, -1};
    }
    const int x = qFromLittleEndian<quint16>(file.constData() + kEntryHotSpot);
    const int y = qFromLittleEndian<quint16>(file.constData() + kEntryHotSpot + 2);
    if (x >= pictureSize.width() || y >= pictureSize.height()) {
        return {-1, -1};
    }
    return {x, y};
}

constexpr char kListToolTip[] =
    "Drag and drop files here. Double-click item to remove it. Move | line to right and out of "
    "window to reveal full names.";

}  // namespace

MainWindow::MainWindow(WindowContext context)
    : dialogs_(context.dialogs),
      programFolder_(std::move(context.programFolder)),
      randomFraction_(std::move(context.randomFraction)),
      imaging_(std::move(context.imaging)) {
    CreateControls();
    conversionRun_ = std::make_unique<ConversionRun>(*fileList_, dialogs_,
                                                     static_cast<ConversionView&>(*this), imaging_);
    SetTabOrder();
    WatchPointerMoves();
    ConnectHandlers();  // restoring the options raises their handlers, as typing would
    Form_Load();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

MainWindow::~MainWindow() = default;

void MainWindow::CreateControls() {
    setObjectName("Form1");
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(Pixels(8040), Pixels(8190));
    setFont(ArialBold(9));
    SetBackground(this, Qt::white);

    PushButton3 = Create<QPushButton>(this, "PushButton3", 120, 120, 7800, 405);
    PushButton3->setText("Help");
    ListView1 = Create<QTreeView>(this, "ListView1", 120, 630, 7800, 2535);
    new FrameOutline(ListView1);
    PushButton1 = Create<QPushButton>(this, "PushButton1", 120, 3250, 3840, 405);
    PushButton1->setText("Add MDI File(s)");
    PushButton4 = Create<QPushButton>(this, "PushButton4", 4080, 3250, 3840, 405);
    PushButton4->setText("Add All MDI File(s) In Folder");
    PushButton6 = Create<QPushButton>(this, "PushButton6", 120, 3760, 3840, 405);
    PushButton6->setText("Clear List");
    PushButton7 = Create<QPushButton>(this, "PushButton7", 4080, 3760, 3840, 405);
    PushButton7->setText("Load Sample/Example Files");
    Frame2 = Create<QGroupBox>(this, "Frame2", 120, 4230, 7800, 885);
    Frame2->setTitle("JPG Image Quality");
    Slider1 = Create<QSlider>(Frame2, "Slider1", 120, 240, 7560, 540);
    Frame5 = Create<QGroupBox>(this, "Frame5", 120, 5190, 7800, 1815);
    Frame5->setTitle("Save Option");
    Option1 = Create<OptionButton>(Frame5, "Option1", 240, 300, 3615, 255);
    Option1->setText("Save results to this folder:");
    Frame3 = Create<QGroupBox>(Frame5, "Frame3", 480, 510, 6840, 810);
    Text1 = Create<QLineEdit>(Frame3, "Text1", 240, 300, 5670, 345);
    PushButton9 = Create<QPushButton>(Frame3, "PushButton9", 6000, 300, 600, 345);
    PushButton9->setText("...");
    Option2 = Create<OptionButton>(Frame5, "Option2", 240, 1410, 3615, 255);
    Option2->setText("Save results in folder of original file");
    PushButton2 = Create<QPushButton>(this, "PushButton2", 120, 7140, 7800, 405);
    PushButton2->setText("Start Converting");
    ProgressBar1 = Create<QProgressBar>(this, "ProgressBar1", 120, 7660, 7800, 405);

    for (QPushButton* button : findChildren<QPushButton*>()) {
        button->setFont(ArialBold(11.25));
    }

    fileList_ = new FileList(this);
    ListView1->setModel(fileList_);
    ListView1->setRootIsDecorated(false);
    ListView1->setUniformRowHeights(true);
    ListView1->setSortingEnabled(false);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->header()->setStretchLastSection(false);
    ListView1->setToolTip(kListToolTip);
    ListView1->setSelectionModel(fileList_->selectionModel());
    ListView1->setDragEnabled(false);  // entries move by exchanging texts, never drag out
    ListView1->viewport()->setAcceptDrops(true);

    Slider1->setOrientation(Qt::Horizontal);
    Slider1->setRange(1, 100);
    Slider1->setSingleStep(1);
    Slider1->setPageStep(5);
    Slider1->setTickPosition(QSlider::TicksBelow);
    Slider1->setTickInterval(1);
    Slider1->setValue(85);

    Option1->setChecked(true);

    // The bar holds tenths of a percent, so that 1 of 3 shows as a third.
    ProgressBar1->setRange(0, 1000);
    ProgressBar1->setValue(0);
    ProgressBar1->setFormat("Progress Bar");
    ProgressBar1->setAlignment(Qt::AlignCenter);
    ProgressBar1->setTextVisible(true);
}

// The design's order, less the bar and the frames, which never take the focus: chaining a
// frame ties in its children wherever the frame stands, and the slider came right after Help.
void MainWindow::SetTabOrder() {
    const QList<QWidget*> order = {ListView1,   PushButton1, PushButton4, PushButton2,
                                   PushButton6, PushButton7, PushButton3, Text1,
                                   PushButton9, Option1,     Option2,     Slider1};
    for (qsizetype i = 1; i < order.size(); ++i) {
        QWidget::setTabOrder(order[i - 1], order[i]);
    }
}

bool MainWindow::IsEnterKey(QEvent* event) {
    if (event->type() != QEvent::KeyPress) {
        return false;
    }
    const int key = static_cast<QKeyEvent*>(event)->key();
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

void MainWindow::WatchPointerMoves() {
    const QList<QWidget*> watched = {this,        Frame2,      Frame3,      Frame5,
                                     PushButton1, PushButton2, PushButton3, PushButton4,
                                     PushButton6, PushButton7, PushButton9, ListView1->viewport()};
    for (QWidget* widget : watched) {
        widget->setMouseTracking(true);
        widget->installEventFilter(this);
    }
    ListView1->installEventFilter(this);  // the Delete key
}

// Tab and Backtab reach the selected option of the pair and pass over the other, as they do
// after a click: Space on an option Tab reached then never changes where the pages go.
bool MainWindow::focusNextPrevChild(bool next) {
    QWidget* const from = QApplication::focusWidget();
    if (!QWidget::focusNextPrevChild(next)) {
        return false;
    }
    auto* const to = qobject_cast<QRadioButton*>(QApplication::focusWidget());
    QRadioButton* const other = to == Option1 ? Option2 : Option1;
    if ((to != Option1 && to != Option2) || to->isChecked() || !other->isChecked()) {
        return true;
    }
    // Leaving the pair, the focus goes on; coming into it, the selected one takes it.
    if (from == other) {
        return QWidget::focusNextPrevChild(next);
    }
    other->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    return true;
}

void MainWindow::ConnectHandlers() {
    for (QRadioButton* option : {Option1, Option2}) {
        connect(option, &QRadioButton::toggled, this, [this, option](bool selected) {
            if (selected) {
                Option_Click(option->objectName() + "_Click");
            }
        });
    }
    connect(Text1, &QLineEdit::textChanged, this, &MainWindow::Text1_Change);
    connect(Slider1, &QSlider::valueChanged, this, &MainWindow::Slider1_Change);
    connect(PushButton9, &QPushButton::clicked, this, &MainWindow::PushButton9_Click);
    connect(PushButton1, &QPushButton::clicked, this, &MainWindow::PushButton1_Click);
    connect(PushButton2, &QPushButton::clicked, this,
            [this] { conversionRun_->PushButton2_Click(); });
    connect(PushButton3, &QPushButton::clicked, this, [this] { ShowImagingHelp(dialogs_); });
    connect(PushButton4, &QPushButton::clicked, this, &MainWindow::PushButton4_Click);
    connect(PushButton6, &QPushButton::clicked, this, &MainWindow::PushButton6_Click);
    connect(PushButton7, &QPushButton::clicked, this, &MainWindow::PushButton7_Click);
    connect(ListView1, &QTreeView::pressed, this, &MainWindow::ListView1_ItemClick);
}

void MainWindow::Form_Load() {
    ErrorReport report(dialogs_, FormLocation("Form_Load"));
    report.Run(100, [&] { SetupSkin(); });
    const QString cursorPath = programFolder_ + "/HAND-M.CUR";
    if (report.Holds(102, [&] { return PathExists(cursorPath); })) {
        report.Run(104, [&] { LoadHandCursor(cursorPath); });
    }
    report.Run(106, [&] { MaybeOpenVendorSite(); });
    report.Run(126, [&] { setWindowTitle(kProductName); });
    report.Run(126, [&] { setWindowIcon(QIcon(":/vellumax.png")); });
    report.Run(128, [&] { fileList_->SetHeaderText(" MDI File(s)"); });
    report.Run(130, [&] { ListView1->setColumnWidth(0, Pixels(7000)); });
    report.Run(132, [&] { Text1->setText(ReadSetting("Text1", DefaultOutputFolder())); });
    report.Run(136, [&] { RestoreSliderValue(SettingToInteger32(ReadSetting("Slider1", "85"))); });
    report.Run(138, [&] { Frame2->setTitle(QualityCaption(Slider1->value())); });
    report.Run(140,
               [&] { SetOptionValue(Option1, SettingToBoolean(ReadSetting("Option1", "1"))); });
    report.Run(142,
               [&] { SetOptionValue(Option2, SettingToBoolean(ReadSetting("Option2", "0"))); });
    if (report.Holds(144, [&] { return Option1->isChecked(); })) {
        report.Run(146, [&] { Frame3->setEnabled(true); });
    } else {
        report.Run(148, [&] { Frame3->setEnabled(false); });
    }
}

void MainWindow::SetupSkin() {
    const QString skinPath = programFolder_ + "/x/o.cjs";
    if (!PathExists(skinPath) || IsFolder(skinPath)) {
        return;
    }
    const QColor buttonFace = QApplication::palette().color(QPalette::Button);
    for (QWidget* widget : {static_cast<QWidget*>(this), static_cast<QWidget*>(Frame2),
                            static_cast<QWidget*>(Frame3), static_cast<QWidget*>(Frame5),
                            static_cast<QWidget*>(Option1), static_cast<QWidget*>(Option2)}) {
        SetBackground(widget, buttonFace);
    }
    QFile skin(skinPath);
    if (!skin.open(QIODevice::ReadOnly)) {
        throw RuntimeError(75, "Path/File access error");
    }
    setStyleSheet(QString::fromUtf8(skin.readAll()));
}

void MainWindow::LoadHandCursor(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw RuntimeError(75, "Path/File access error");
    }
    const QByteArray bytes = file.readAll();
    QPixmap picture;
    if (!picture.loadFromData(bytes)) {
        throw RuntimeError(481, "Invalid picture");
    }
    const QPoint hotSpot = CursorHotSpot(bytes, picture.size());
    handCursor_ = QCursor(picture, hotSpot.x(), hotSpot.y());
}

void MainWindow::MaybeOpenVendorSite() {
    if (DrawOpensVendorSite(randomFraction_())) {
        dialogs_.OpenTarget(build_config::kVendorUrl);
    }
}

void MainWindow::RestoreSliderValue(qint32 value) {
    if (value < Slider1->minimum() || value > Slider1->maximum()) {
        throw InvalidPropertyValue();
    }
    Slider1->setValue(value);
}

void MainWindow::setMousePointer(int value) {
    mousePointer_ = value;
    if (value == kPointerBusy) {
        setCursor(Qt::WaitCursor);
    } else if (value == kPointerCustom && handCursor_) {
        setCursor(*handCursor_);
    } else {
        setCursor(Qt::ArrowCursor);
    }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (auto* button = qobject_cast<QPushButton*>(watched);
        button != nullptr && IsEnterKey(event)) {
        button->click();  // Enter presses the focused button, as Space does
        return true;
    }
    if (event->type() == QEvent::MouseMove && !isBusy()) {
        auto* widget = static_cast<QWidget*>(watched);
        const QPoint position = static_cast<QMouseEvent*>(event)->position().toPoint();
        if (qobject_cast<QPushButton*>(widget) != nullptr) {
            setMousePointer(kPointerCustom);
        } else if (qobject_cast<QPushButton*>(widget->childAt(position)) == nullptr) {
            // A move a button ignored travels on to its frame and the window; it is
            // still a move over the button.
            setMousePointer(kPointerDefault);
        }
    }
    if (watched == ListView1 || watched == ListView1->viewport()) {
        return HandleListEvent(watched, event);
    }
    return QWidget::eventFilter(watched, event);
}

bool MainWindow::HandleListEvent(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::KeyPress:
            if (watched == ListView1 && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
                RemoveSelectedEntry(*fileList_, isBusy());
                return true;
            }
            return false;
        case QEvent::MouseButtonDblClick:
            RemoveSelectedEntry(*fileList_, isBusy());
            return true;
        case QEvent::MouseButtonPress:
            inListDrag_.Press();
            // A click below the entries keeps the selection, so that a double-click there
            // removes the selected entry as one on the entry does.
            if (watched == ListView1->viewport() &&
                !ListView1->indexAt(static_cast<QMouseEvent*>(event)->position().toPoint())
                     .isValid()) {
                ListView1->setFocus(Qt::MouseFocusReason);
                return true;
            }
            return false;
        case QEvent::MouseMove:
            ListView1_MouseMove(static_cast<QMouseEvent*>(event)->position().toPoint());
            return false;
        case QEvent::MouseButtonRelease:
            ListView1_MouseUp();
            return false;
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* drag = static_cast<QDropEvent*>(event);
            if (IsShellFileDrop(*drag->mimeData())) {
                drag->acceptProposedAction();
            } else {
                drag->ignore();  // shows that nothing can be dropped here
            }
            return true;
        }
        case QEvent::Drop: {
            auto* drop = static_cast<QDropEvent*>(event);
            if (IsShellFileDrop(*drop->mimeData())) {
                drop->acceptProposedAction();
                AddDroppedPaths(*fileList_, DroppedPaths(*drop->mimeData()), dialogs_);
            }
            return true;
        }
        default:
            return false;
    }
}

void MainWindow::ListView1_ItemClick() {
    QPixmap picture(programFolder_ + "/drag.ico");
    ListView1->viewport()->setCursor(picture.isNull() ? QCursor(Qt::ArrowCursor)
                                                      : QCursor(picture));
    inListDrag_.ItemClick(fileList_->SelectedPosition());
}

void MainWindow::ListView1_MouseMove(const QPoint& position) {
    const QModelIndex hovered = ListView1->indexAt(position);
    const int hoverPosition = hovered.isValid() ? hovered.row() + 1 : 0;
    const int reveal = inListDrag_.Move(*fileList_, hoverPosition, QCursor::pos().y());
    if (reveal > 0) {
        ListView1->scrollTo(fileList_->index(reveal - 1));
    }
}

void MainWindow::ListView1_MouseUp() {
    inListDrag_.Release();
    ListView1->viewport()->setCursor(Qt::ArrowCursor);
}

void MainWindow::SetProgressValue(double percent) {
    ProgressBar1->setValue(qRound(percent * 10));
}

void MainWindow::SetProgressText(const QString& text) {
    QString format = text;
    format.replace('%', "%%");  // the bar would read "%p" in a file name as its percentage
    ProgressBar1->setFormat(format);
}

QString MainWindow::OutputFolder() const {
    return Text1->text();
}
bool MainWindow::SaveToFolder() const {
    return Option1->isChecked();
}
bool MainWindow::SaveBesideSource() const {
    return Option2->isChecked();
}
int MainWindow::Quality() const {
    return Slider1->value();
}

void MainWindow::PushButton1_Click() {
    AddFilesByDialog(*fileList_, dialogs_);
}

// A walk over a large tree takes long: the bar counts what it has found, and Escape stops it,
// adding nothing.
void MainWindow::PushButton4_Click() {
    const QString shownBefore = ProgressBar1->format();
    bool stop = false;
    QShortcut escape(Qt::Key_Escape, this);
    connect(&escape, &QShortcut::activated, this, [&stop] { stop = true; });
    WalkWatch watch{
        [this](int folders, int files) {
            ProgressBar1->setFormat(
                QString("Searching: %1 folders, %2 files found").arg(folders).arg(files));
        },
        [&stop] { return stop; }};
    AddAllFilesInFolder(
        *fileList_, dialogs_, [this](int pointer) { setMousePointer(pointer); }, &watch);
    ProgressBar1->setFormat(shownBefore);
}

void MainWindow::PushButton6_Click() {
    ErrorReport(dialogs_, FormLocation("PushButton6_Click")).Run(100, [&] {
        ClearList(*fileList_, isBusy());
    });
}

void MainWindow::PushButton7_Click() {
    LoadSampleFiles(*fileList_, programFolder_, dialogs_);
}

void MainWindow::closeEvent(QCloseEvent* /*event*/) {
    // Closing ends the program at once, also in the middle of a run; every setting is
    // already on disk, and a run's leftovers stay where they are.
    std::_Exit(0);
}

void MainWindow::RunUntrapped(const QString& handler, const std::function<void()>& body) {
    // These handlers have no trap of their own; an error in them is still reported rather
    // than allowed to unwind through the toolkit.
    ErrorReport(dialogs_, FormLocation(handler)).Run(100, body);
}

void MainWindow::Option_Click(const QString& handler) {
    RunUntrapped(handler, [&] {
        WriteSetting("Option1", BooleanSetting(Option1->isChecked()));
        WriteSetting("Option2", BooleanSetting(Option2->isChecked()));
        Frame3->setEnabled(Option1->isChecked());
    });
}

void MainWindow::Text1_Change() {
    RunUntrapped("Text1_Change", [&] { WriteSetting("Text1", Text1->text()); });
}

void MainWindow::Slider1_Change() {
    RunUntrapped("Slider1_Change", [&] {
        Frame2->setTitle(QualityCaption(Slider1->value()));
        WriteSetting("Slider1", QString::number(Slider1->value()));
    });
}

void MainWindow::PushButton9_Click() {
    ErrorReport report(dialogs_, FormLocation("PushButton9_Click"));
    QString chosen;
    report.Run(100, [&] { lastFolderDot_ = ReadSetting("LastFolderDot", ""); });
    report.Run(100, [&] { chosen = dialogs_.PickFolder(kPickFolderTitle, lastFolderDot_); });
    if (report.Holds(102, [&] { return chosen.isEmpty(); })) {
        return;
    }
    report.Run(104, [&] {
        lastFolderDot_ = chosen;
        WriteSetting("LastFolderDot", chosen);
    });
    if (report.Holds(104, [&] { return !chosen.endsWith('/'); })) {
        report.Run(106, [&] { Text1->setText(chosen + '/'); });
    } else {
        report.Run(108, [&] { Text1->setText(chosen); });
    }
}

}  // namespace vellumax
