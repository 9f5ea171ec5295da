#include "conversion/document_job.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>
#include <cerrno>
#include <cstring>

#include "conversion/document_conversion.h"
#include "conversion/page_delivery.h"
#include "platform/error_report.h"
#include "platform/event_loop.h"
#include "platform/path_helpers.h"
#include "platform/runtime_error.h"

namespace vellumax {

bool JobRequest::operator==(const JobRequest& other) const {
    return source == other.source && quality == other.quality &&
           QString(format.name) == QString(other.format.name);
}

namespace {

// Holds the error reports a job raises until the run shows them in their turn.
class HeldDialogs : public Dialogs {
public:
    explicit HeldDialogs(std::vector<DocumentJob::HeldMessage>& messages) : messages_(messages) {}

    MessageAnswer ShowMessage(const QString& text, const QString& title, MessageButtons buttons,
                              MessageIcon icon) override {
        messages_.push_back({text, title, buttons, icon});
        return MessageAnswer::Ok;
    }
    QString InputBox(const QString&, const QString&, const QString&) override { return {}; }
    QStringList OpenFiles(const QString&, const QString&) override { return {}; }
    QString PickFolder(const QString&, const QString&) override { return {}; }
    void OpenTarget(const QString&) override {}

private:
    std::vector<DocumentJob::HeldMessage>& messages_;
};

void WaitFor(DocumentJob& job) {
    WaitYielding([&](std::chrono::milliseconds limit) { return job.WaitAtMost(limit); });
}

}  // namespace

DocumentJob::DocumentJob(JobRequest request, QString folder, QString toolFolder,
                         ImagingFactory imaging)
    : request_(std::move(request)),
      folder_(std::move(folder)),
      toolFolder_(std::move(toolFolder)),
      tiffPath_(folder_ + '/' + kIntermediateStem + ".tif"),
      imaging_(std::move(imaging)) {
    thread_.reset(QThread::create([this] {
        Work();
        done_.store(true, std::memory_order_release);
    }));
    thread_->start();
}

DocumentJob::~DocumentJob() {
    cancelled_ = true;
    thread_->wait();
    QDir(folder_).removeRecursively();
}

void DocumentJob::Work() {
    HeldDialogs held(messages_);
    ErrorReport report(held, FormLocation("PushButton2_Click"));
    if (!QDir().mkdir(folder_)) {
        const int error = errno;
        readerTrouble_ = FailureText(
            ErrorFromErrno(error, FileAccess::Write).number(),
            "no work folder can be made: " + QString::fromLocal8Bit(std::strerror(error)));
        return;
    }
    report.Run(158, [&] {
        saved_ = !cancelled_ && ModiCreate(imaging_, request_.source, tiffPath_, readerTrouble_);
    });
    if (!saved_ || cancelled_) {
        return;
    }
    report.Run(162, [&] {
        outcome_ = RunConverterBatch(toolFolder_, folder_, tiffPath_, request_.quality,
                                     request_.format.name, report, cancelled_);
    });
    pages_ = PagesInTiff(NativePath(tiffPath_).toStdString());
    // Only the pages are needed from here on; a finished job may wait a while for its turn.
    QFile::remove(tiffPath_);
}

// The flag, not the thread's state, tells: it orders the job's results before their reading.
bool DocumentJob::finished() const {
    return done_.load(std::memory_order_acquire);
}

// Converter statuses above 128 are the script's report of a converter killed by a signal;
// the converter's own are 0 to 2.
bool DocumentJob::CutShort() const {
    constexpr int kKilledBySignal = 128;
    return cancelled_ || (saved_ && (!outcome_.finished || outcome_.exitStatus < 0 ||
                                     outcome_.exitStatus > kKilledBySignal));
}

bool DocumentJob::WaitAtMost(std::chrono::milliseconds limit) {
    return thread_->wait(QDeadlineTimer(limit.count())) && finished();
}

void DocumentJob::ShowHeldMessages(Dialogs& dialogs) {
    for (const HeldMessage& message : messages_) {
        dialogs.ShowMessage(message.text, message.title, message.buttons, message.icon);
    }
    messages_.clear();
}

DocumentJobs::DocumentJobs(QString workFolder, ImagingFactory imaging, int workers,
                           std::function<bool()> stopRequested)
    : workFolder_(std::move(workFolder)),
      imaging_(std::move(imaging)),
      workers_(workers),
      stopRequested_(std::move(stopRequested)) {}

DocumentJobs::~DocumentJobs() {
    Abandon();
}

std::unique_ptr<DocumentJob> DocumentJobs::Start(int position, const JobRequest& request) {
    return std::make_unique<DocumentJob>(request, workFolder_ + '/' + QString::number(position),
                                         workFolder_, imaging_);
}

std::unique_ptr<DocumentJob> DocumentJobs::Finished(int position, const JobRequest& request,
                                                    const RequestAt& requestAt, Dialogs& dialogs) {
    std::unique_ptr<DocumentJob> job;
    if (const auto started = ahead_.find(position); started != ahead_.end()) {
        job = std::move(started->second);
        ahead_.erase(started);
    }
    if (job && !(job->request() == request)) {
        // The list or the options changed since it started: the document gets what it
        // would have got without working ahead.
        job->Cancel();
        WaitFor(*job);
        job.reset();
    }
    if (!job) {
        job = Start(position, request);
    }
    WaitYielding([&](std::chrono::milliseconds limit) {
        KeepAhead(position, *job, requestAt);
        return job->WaitAtMost(limit);
    });
    KeepAhead(position, *job, requestAt);
    job->ShowHeldMessages(dialogs);
    return job;
}

// Once a stop is asked for, no document after this one gets its turn: the work ahead ends now
// rather than hold up the stop.
void DocumentJobs::KeepAhead(int position, const DocumentJob& current, const RequestAt& requestAt) {
    if (stopRequested_()) {
        CancelAhead();
        return;
    }
    StartAhead(position, current, requestAt);
}

void DocumentJobs::CancelAhead() {
    for (auto& [position, job] : ahead_) {
        job->Cancel();
    }
}

void DocumentJobs::StartAhead(int position, const DocumentJob& current,
                              const RequestAt& requestAt) {
    int running = current.finished() ? 0 : 1;
    for (const auto& [ahead, job] : ahead_) {
        running += job->finished() ? 0 : 1;
    }
    for (int next = position + 1; running < workers_ && next < position + 2 * workers_; ++next) {
        if (ahead_.count(next) != 0) {
            continue;
        }
        const std::optional<JobRequest> nextRequest = requestAt(next);
        if (!nextRequest) {
            return;
        }
        ahead_.emplace(next, Start(next, *nextRequest));
        ++running;
    }
}

void DocumentJobs::Abandon() {
    CancelAhead();
    for (auto& [position, job] : ahead_) {
        WaitFor(*job);
    }
    ahead_.clear();
}

int DefaultWorkerCount() {
    return std::max(1, QThread::idealThreadCount());
}

}  // namespace vellumax
