#pragma once

#include <QString>

#include "conversion/imaging_adapter.h"
#include "platform/error_report.h"

namespace vellumax {

class Dialogs;
class FileList;

// What the run reads from and shows on the window (or whatever stands in for it).
class ConversionView {
public:
    virtual ~ConversionView() = default;
    virtual void SetMousePointer(int pointer) = 0;
    virtual void SetProgressValue(double percent) = 0;
    virtual void SetProgressText(const QString& text) = 0;
    virtual QString OutputFolder() const = 0;    // "Save results to this folder:"
    virtual bool SaveToFolder() const = 0;       // that option is selected
    virtual bool SaveBesideSource() const = 0;   // "Save results in folder of original file"
    virtual int Quality() const = 0;             // 1 to 100
};

// "Start Converting": every listed document, in list order, into numbered JPEG pages.
class ConversionRun {
public:
    ConversionRun(FileList& list, Dialogs& dialogs, ConversionView& view, ImagingFactory imaging);

    void PushButton2_Click();
    bool isConverting() const { return isConverting_; }

private:
    bool RefusesToStart();
    QString ConvertAll(const QString& workFolder);
    void ConvertEntry(int position, const QString& workFolder, QString& failures);
    void MovePages(const QString& workFolder, const QString& outputBase, int& pageCount);
    QString OutputBase(const QString& source, const QString& documentName) const;
    void ShowMessage(const QString& text);

    FileList& list_;
    Dialogs& dialogs_;
    ConversionView& view_;
    ImagingFactory imaging_;
    ErrorReport report_;
    bool isConverting_ = false;
};

}  // namespace vellumax
