#pragma once

#include <QCursor>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

#include "conversion/conversion_run.h"
#include "filelist/list_editing.h"
#include "platform/dialogs.h"

class QGroupBox;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSlider;
class QTreeView;

namespace vellumax {

class FileList;

// What the window needs from outside, so that tests can stand in for it.
struct WindowContext {
    Dialogs& dialogs;
    QString programFolder;                   // holds HAND-M.CUR, x/o.cjs, drag.ico, Samples/
    std::function<double()> randomFraction;  // in [0, 1), for the vendor-site draw
    ImagingFactory imaging = DocumentReaderFactory();
};

// Pointer values of the window.
enum MousePointer : int { kPointerDefault = 0, kPointerBusy = 11, kPointerCustom = 99 };

// Form1, the program's one window. Building it runs Form_Load.
class MainWindow : public QWidget, private ConversionView {
    Q_OBJECT

public:
    explicit MainWindow(WindowContext context);
    ~MainWindow() override;

    int mousePointer() const { return mousePointer_; }
    void setMousePointer(int value);
    bool isBusy() const { return mousePointer_ == kPointerBusy; }

    FileList& fileList() { return *fileList_; }
    bool isConverting() const { return conversionRun_->isConverting(); }

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool focusNextPrevChild(bool next) override;

private:
    void CreateControls();
    void ConnectHandlers();
    void SetTabOrder();
    static bool IsEnterKey(QEvent* event);
    void WatchPointerMoves();

    void Form_Load();
    void SetupSkin();
    void LoadHandCursor(const QString& path);
    void MaybeOpenVendorSite();
    void RestoreSliderValue(qint32 value);

    bool HandleListEvent(QObject* watched, QEvent* event);
    void ListView1_ItemClick();
    void ListView1_MouseMove(const QPoint& position);
    void ListView1_MouseUp();

    // What the conversion run reads and shows.
    void SetMousePointer(int pointer) override { setMousePointer(pointer); }
    void SetProgressValue(double percent) override;
    void SetProgressText(const QString& text) override;
    QString OutputFolder() const override;
    bool SaveToFolder() const override;
    bool SaveBesideSource() const override;
    int Quality() const override;

    void PushButton1_Click();
    void PushButton4_Click();
    void PushButton6_Click();
    void PushButton7_Click();

    void Option_Click(const QString& handler);
    void Text1_Change();
    void Slider1_Change();
    void PushButton9_Click();
    void RunUntrapped(const QString& handler, const std::function<void()>& body);

    Dialogs& dialogs_;
    QString programFolder_;
    std::function<double()> randomFraction_;
    int mousePointer_ = kPointerDefault;
    std::optional<QCursor> handCursor_;
    QString lastFolderDot_;
    InListDrag inListDrag_;
    ImagingFactory imaging_;
    std::unique_ptr<ConversionRun> conversionRun_;

    FileList* fileList_ = nullptr;
    QPushButton* PushButton1 = nullptr;
    QPushButton* PushButton2 = nullptr;
    QPushButton* PushButton3 = nullptr;
    QPushButton* PushButton4 = nullptr;
    QPushButton* PushButton6 = nullptr;
    QPushButton* PushButton7 = nullptr;
    QPushButton* PushButton9 = nullptr;
    QTreeView* ListView1 = nullptr;
    QGroupBox* Frame2 = nullptr;
    QGroupBox* Frame3 = nullptr;
    QGroupBox* Frame5 = nullptr;
    QSlider* Slider1 = nullptr;
    QRadioButton* Option1 = nullptr;
    QRadioButton* Option2 = nullptr;
    QLineEdit* Text1 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
};

}  // namespace vellumax
