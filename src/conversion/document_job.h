#pragma once

#include <QString>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "conversion/document_conversion.h"
#include "conversion/helper_tools.h"
#include "conversion/imaging_adapter.h"
#include "conversion/output_format.h"
#include "platform/dialogs.h"

class QThread;

namespace vellumax {

// What a document is converted with, read off the window when its turn comes.
struct JobRequest {
    QString source;
    int quality = 0;
    OutputFormat format = kJpegFormat;

    bool operator==(const JobRequest& other) const;
};

// The part of one document's conversion that needs nothing from the window: reading it into
// the intermediate TIFF and running the page converter over it, in a folder of its own, on a
// thread of its own. The run takes the results in list order and puts the pages in place.
class DocumentJob {
public:
    DocumentJob(JobRequest request, QString folder, QString toolFolder, ImagingFactory imaging);
    ~DocumentJob();  // waits for the job's thread

    const JobRequest& request() const { return request_; }
    const QString& folder() const { return folder_; }
    const QString& tiffPath() const { return tiffPath_; }

    bool finished() const;
    // Waits for the job at most `limit`; says whether it has finished.
    bool WaitAtMost(std::chrono::milliseconds limit);
    // Shows the error reports the finished job raised, in the order it raised them, as if the
    // run had raised them there.
    void ShowHeldMessages(Dialogs& dialogs);
    // Tells a job whose document will not be converted to skip what it has not begun and to
    // end its page converter at once.
    void Cancel() { cancelled_ = true; }

    // Valid once finished.
    bool saved() const { return saved_; }
    const QString& readerTrouble() const { return readerTrouble_; }
    const ConverterOutcome& outcome() const { return outcome_; }
    int pagesInDocument() const { return pages_; }
    // The job was cancelled, or its converter did not end of its own accord (it was killed or
    // died of a signal), so its results say nothing about the document.
    bool CutShort() const;

    // An error report held until the run shows it.
    struct HeldMessage {
        QString text;
        QString title;
        MessageButtons buttons;
        MessageIcon icon;
    };

private:
    void Work();

    JobRequest request_;
    QString folder_;
    QString toolFolder_;
    QString tiffPath_;
    ImagingFactory imaging_;
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> done_{false};
    std::unique_ptr<QThread> thread_;
    std::vector<HeldMessage> messages_;
    bool saved_ = false;
    QString readerTrouble_;
    ConverterOutcome outcome_;
    int pages_ = 0;
};

// The jobs of one run: the document whose turn it is and the ones started ahead of it. As many
// run at once as there are workers; finished ones wait for their turn, up to as many again.
class DocumentJobs {
public:
    using RequestAt = std::function<std::optional<JobRequest>(int position)>;

    // Once `stopRequested` says so, the jobs started ahead are cancelled and no more start.
    DocumentJobs(QString workFolder, ImagingFactory imaging, int workers,
                 std::function<bool()> stopRequested);
    ~DocumentJobs();

    // The finished job for `position`, its error reports shown: the one started ahead if it was
    // started for the same request, else a new one. While it is waited for, the window goes on
    // and workers that come free start on the documents after it.
    std::unique_ptr<DocumentJob> Finished(int position, const JobRequest& request,
                                          const RequestAt& requestAt, Dialogs& dialogs);
    // Lets the jobs started ahead end, skipping what they can, and waits for them. Their
    // documents never had their turn, so nothing they raised is shown.
    void Abandon();

private:
    std::unique_ptr<DocumentJob> Start(int position, const JobRequest& request);
    void KeepAhead(int position, const DocumentJob& current, const RequestAt& requestAt);
    void StartAhead(int position, const DocumentJob& current, const RequestAt& requestAt);
    void CancelAhead();

    QString workFolder_;
    ImagingFactory imaging_;
    int workers_;
    std::function<bool()> stopRequested_;
    std::map<int, std::unique_ptr<DocumentJob>> ahead_;
};

// Workers for a run: one per core.
int DefaultWorkerCount();

}  // namespace vellumax
