#pragma once

#include <QHash>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>
#include <chrono>
#include <memory>

#include "conversion/imaging_adapter.h"
#include "conversion/output_format.h"
#include "platform/error_report.h"

namespace vellumax {

class Dialogs;
class DocumentJob;
class DocumentJobs;
class FileList;
class WorkFolder;
struct JobRequest;

// What became of one document, told as soon as the run is done with it.
struct DocumentOutcome {
    QString source;
    QString failure;      // its failure text as the closing message lists it; "" when converted
    int pages = 0;        // pages the document has, 0 when it could not be read
    QStringList outputs;  // the files delivered for it, in page order
    // Cut short by a stop: neither converted nor failed, and none of its pages kept.
    bool stopped = false;
};

// What the run reads from and shows on the window (or whatever stands in for it).
class ConversionView {
public:
    virtual ~ConversionView() = default;
    virtual void SetMousePointer(int pointer) = 0;
    virtual void SetProgressValue(double percent) = 0;
    virtual void SetProgressText(const QString& text) = 0;
    virtual QString OutputFolder() const = 0;   // "Save results to this folder:"
    virtual bool SaveToFolder() const = 0;      // that option is selected
    virtual bool SaveBesideSource() const = 0;  // "Save results in folder of original file"
    virtual int Quality() const = 0;            // 1 to 100
    virtual OutputFormat Format() const { return kJpegFormat; }
    // A folder below the chosen output folder for this source's pages, made when needed;
    // empty for the chosen folder itself.
    virtual QString OutputSubfolder(const QString& /*source*/) const { return {}; }
    // Asked before each document; a front end that can be interrupted stops the run there.
    virtual bool StopRequested() const { return false; }
    // The same, waiting up to `grace` for it: a stop sent to every process of the run may end
    // the page converter a moment before it reaches the run.
    virtual bool StopRequestedWithin(std::chrono::milliseconds /*grace*/) const {
        return StopRequested();
    }
    // Each document the run worked on, in list order, once its pages are in place.
    virtual void DocumentFinished(const DocumentOutcome& /*outcome*/) {}
    // The document an earlier run, whose work this one continues, wrote `target` for; "" for
    // none.
    virtual QString RecordedSourceOf(const QString& /*target*/) const { return {}; }
};

// The files a document of `pages` pages gives under the view's options, in page order.
QStringList OutputsFor(const ConversionView& view, const QString& source, int pages);

// How the last run ended, for front ends that report more than the closing message.
struct RunSummary {
    bool started = false;  // it got past the refusals
    bool stopped = false;  // it stopped early on request
    int visited = 0;       // documents it worked on
    int listed = 0;        // documents it was to work on
    QString failures;      // the failure lines of the closing message
};

// "Start Converting": every listed document, in list order, into numbered JPEG pages.
// `workers` documents are read and converted at once; their pages are put in place, and
// everything shown, in list order, as one document at a time would.
class ConversionRun {
public:
    ConversionRun(FileList& list, Dialogs& dialogs, ConversionView& view, ImagingFactory imaging,
                  int workers = 0);  // 0: one per core

    void PushButton2_Click();
    bool isConverting() const { return isConverting_; }
    const RunSummary& lastRun() const { return lastRun_; }

private:
    bool RefusesToStart();
    std::unique_ptr<WorkFolder> MakeWorkFolder();
    QString ConvertAll(const WorkFolder* work);
    void ConvertEntry(int position, DocumentJobs* jobs, QString& failures);
    QString ConvertDocument(int position, const QString& source, DocumentJobs& jobs,
                            const QString& outputBase);
    JobRequest RequestFor(const QString& source) const;
    QString DeliverPages(const QString& source, const DocumentJob& job, const QString& outputBase);
    QString DeliverDocument(const QString& source, const DocumentJob& job,
                            const QString& outputBase);
    QString Refusal(const QString& source, const QString& target) const;
    void PrepareOutputFolder(const QString& source, const QString& outputBase);
    int Deliver(const QString& file, const QString& target, QString& owner);
    void ShowMessage(const QString& text);

    FileList& list_;
    Dialogs& dialogs_;
    ConversionView& view_;
    ImagingFactory imaging_;
    int workers_;
    ErrorReport report_;
    bool isConverting_ = false;
    RunSummary lastRun_;
    QString workFailure_;                     // why the run has no work folder, as a failure text
    QHash<QString, QString> delivered_;       // files written in this run, and their sources
    QHash<QString, QString> deliveredFiles_;  // the same, by IdentityKey, for names that fold
    QSet<QString> sources_;                   // the documents this run converts
    QSet<QString> preparedFolders_;           // output folders cleared of killed runs' copies
    DocumentOutcome current_;                 // the document being converted
};

}  // namespace vellumax
