#include "conversion/conversion_run.h"

#include <QMap>
#include <cstring>
#include <optional>

#include "conversion/document_job.h"
#include "conversion/helper_tools.h"
#include "conversion/page_delivery.h"
#include "conversion/work_folder.h"
#include "data_damage.h"
#include "filelist/file_list.h"
#include "platform/build_config.h"
#include "platform/dialogs.h"
#include "platform/event_loop.h"
#include "platform/file_identity.h"
#include "platform/folder_walk.h"
#include "platform/path_helpers.h"
#include "platform/product.h"
#include "platform/runtime_error.h"

namespace vellumax {

namespace {

constexpr int kPointerDefault = 0;
constexpr int kPointerBusy = 11;
constexpr char kIdleText[] = "Progress Bar";
constexpr char kImagingMissing[] =
    "You must have 'Microsoft Office Document Imaging' installed.\r\n\r\n"
    "Please click the 'Help' button at the top of ths software.";

// A folder that already ends in "/" (the root, or a typed "/out/") is joined without another
// separator: a doubled one in front would make the path a network path.
QString Joined(const QString& folder, const QString& name) {
    if (folder.isEmpty() || folder.endsWith('/')) {
        return NormalizePath(folder + name);
    }
    return NormalizePath(folder + '/' + name);
}

// The converter's last line names itself and the file it read; the failure line names the
// document already.
ConverterOutcome WithoutNames(ConverterOutcome outcome, const QString& tiffPath) {
    const std::string prefix = (QString(kConverterName) + ": " + tiffPath + ": ").toStdString();
    if (outcome.reason.starts_with(prefix)) {
        outcome.reason.erase(0, prefix.size());
    }
    return outcome;
}

QString ConverterTrouble(const ConverterOutcome& outcome, const QString& tiffPath,
                         const std::vector<int>& missing, int expected, bool anyPage,
                         const std::string& output = "page image") {
    return QString::fromStdString(vellumax::ConverterTrouble(WithoutNames(outcome, tiffPath),
                                                             missing, expected, anyPage, output));
}

// The pages the converter finished, by their own numbers.
QMap<int, QString> ConvertedPages(const QString& workFolder, const QString& extension) {
    QMap<int, QString> pages;
    for (const QString& name : GetFolderFiles(workFolder, "*." + extension)) {
        if (const int number = ConverterPageNumber(name, kIntermediateStem, extension);
            number > 0) {
            pages.insert(number, Joined(workFolder, name));
        }
    }
    return pages;
}

std::vector<int> MissingPages(const QMap<int, QString>& pages, int expected) {
    std::vector<int> missing;
    for (int number = 1; number <= expected; ++number) {
        if (!pages.contains(number)) {
            missing.push_back(number);
        }
    }
    return missing;
}

QString PageName(const QString& outputBase, int number, const QString& extension) {
    return outputBase + "_" + QString::number(number) + "." + extension;
}

QString NotSaved(const QString& target, int error) {
    return "not saved: " + OnOneLine(target) + ": " + QString::fromLocal8Bit(std::strerror(error));
}

QString WrittenFor(const QString& target, const QString& owner, const QString& when = {}) {
    return FailureText(58, "File already exists: " + OnOneLine(target) + " was written for " +
                               OnOneLine(owner) + when);
}

// A list may name one document twice, by one spelling or two; it is no clash with itself.
bool IsSameDocument(const QString& a, const QString& b) {
    return a == b || IsSameFile(a, b);
}

QString OutputBase(const ConversionView& view, const QString& source) {
    const QString documentName = StripExtension(FileNameOf(source));
    // With neither option selected the results go to the chosen folder, as with the first.
    if (view.SaveBesideSource() && !view.SaveToFolder()) {
        return Joined(FolderOf(source), documentName);
    }
    const QString subfolder = view.OutputSubfolder(source);
    const QString folder =
        subfolder.isEmpty() ? view.OutputFolder() : Joined(view.OutputFolder(), subfolder);
    return Joined(folder, documentName);
}

}  // namespace

QStringList OutputsFor(const ConversionView& view, const QString& source, int pages) {
    const OutputFormat format = view.Format();
    const QString base = OutputBase(view, source);
    if (!format.perPage) {
        return {base + "." + format.extension};
    }
    QStringList outputs;
    for (int number = 1; number <= pages; ++number) {
        outputs << PageName(base, number, format.extension);
    }
    return outputs;
}

ConversionRun::ConversionRun(FileList& list, Dialogs& dialogs, ConversionView& view,
                             ImagingFactory imaging, int workers)
    : list_(list),
      dialogs_(dialogs),
      view_(view),
      imaging_(std::move(imaging)),
      workers_(workers > 0 ? workers : DefaultWorkerCount()),
      report_(dialogs, FormLocation("PushButton2_Click")) {}

void ConversionRun::ShowMessage(const QString& text) {
    dialogs_.ShowMessage(text, ApplicationTitle(), MessageButtons::Ok, MessageIcon::None);
}

void ConversionRun::PushButton2_Click() {
    if (report_.Holds(100, [&] { return isConverting_; })) {
        return;
    }
    report_.Run(102, [&] { isConverting_ = true; });
    lastRun_ = RunSummary();
    if (!RefusesToStart()) {
        lastRun_.started = true;
        const std::unique_ptr<WorkFolder> work = MakeWorkFolder();
        const QString failures = ConvertAll(work.get());
        lastRun_.failures = failures;
        report_.Run(218, [&] { view_.SetMousePointer(kPointerDefault); });
        report_.Run(220, [&] { view_.SetProgressValue(0); });
        report_.Run(222, [&] { view_.SetProgressText(kIdleText); });
        QString closing = "Done.";
        if (report_.Holds(224, [&] { return !failures.trimmed().isEmpty(); })) {
            report_.Run(226, [&] {
                closing = QString::fromStdString(ClosingMessage(failures.toStdString()));
            });
        }
        report_.Run(228, [&] { ShowMessage(closing); });
    }
    report_.Run(244, [&] { isConverting_ = false; });
}

// Without a folder of its own the run has nowhere safe to work: the reason is reported, and
// every document is listed with it.
std::unique_ptr<WorkFolder> ConversionRun::MakeWorkFolder() {
    std::unique_ptr<WorkFolder> work;
    workFailure_.clear();
    report_.Run(110, [&] {
        view_.SetMousePointer(kPointerBusy);
        try {
            work = std::make_unique<WorkFolder>();
        } catch (const RuntimeError& error) {
            workFailure_ = FailureText(error.number(), error.description());
            throw;
        }
    });
    return work;
}

bool ConversionRun::RefusesToStart() {
    if (report_.Holds(104, [&] { return list_.Count() == 0; })) {
        report_.Run(242, [&] { ShowMessage("No files added."); });
        return true;
    }
    if (report_.Holds(
            106, [&] { return !IsFolder(view_.OutputFolder()) && !view_.SaveBesideSource(); })) {
        report_.Run(240,
                    [&] { ShowMessage("Folder does not exist. Please select another folder."); });
        return true;
    }
    if (report_.Holds(108, [&] { return !IsImagingAvailable(imaging_); })) {
        report_.Run(230, [&] { view_.SetMousePointer(kPointerDefault); });
        report_.Run(232, [&] { view_.SetProgressValue(0); });
        report_.Run(234, [&] { view_.SetProgressText(kIdleText); });
        report_.Run(236, [&] { view_.SetMousePointer(kPointerDefault); });
        report_.Run(238, [&] { ShowMessage(kImagingMissing); });
        return true;
    }
    return false;
}

QString ConversionRun::ConvertAll(const WorkFolder* work) {
    if (work != nullptr) {
        ExtractEmbeddedTools(work->path(), report_);
    }
    delivered_.clear();
    deliveredFiles_.clear();
    sources_.clear();
    preparedFolders_.clear();
    for (int position = 1; position <= list_.Count(); ++position) {
        sources_.insert(list_.Text(position));
    }
    QString failures;
    int count = 0;
    report_.Run(130, [&] { count = list_.Count(); });
    lastRun_.listed = count;
    std::optional<DocumentJobs> jobs;
    if (work != nullptr) {
        jobs.emplace(work->path(), imaging_, workers_, [this] { return view_.StopRequested(); });
    }
    for (int position = 1; position <= count; ++position) {
        if (view_.StopRequested()) {
            lastRun_.stopped = true;
            break;
        }
        ConvertEntry(position, jobs ? &*jobs : nullptr, failures);
        lastRun_.visited = position;
        lastRun_.stopped = current_.stopped;  // the last document too may be cut short
    }
    if (jobs) {
        jobs->Abandon();
    }
    if (work != nullptr) {
        RemoveEmbeddedTools(work->path(), report_);
    }
    return failures;
}

void ConversionRun::ConvertEntry(int position, DocumentJobs* jobs, QString& failures) {
    report_.Run(132, [&] { YieldToEventLoop(); });
    report_.Run(134, [&] { view_.SetMousePointer(kPointerBusy); });
    QString source;
    report_.Run(136, [&] { source = list_.Text(position); });
    report_.Run(138, [&] { view_.SetProgressValue(position * 100.0 / list_.Count()); });
    report_.Run(140, [&] { view_.SetProgressText("Processing: " + FileNameOf(source)); });
    report_.Run(142, [&] { YieldToEventLoop(); });

    QString outputBase;
    report_.Run(146, [&] { outputBase = OutputBase(view_, source); });
    current_ = DocumentOutcome();
    current_.source = source;
    const QString trouble =
        jobs != nullptr ? ConvertDocument(position, source, *jobs, outputBase) : workFailure_;
    if (!trouble.isEmpty()) {
        report_.Run(160, [&] { failures += OnOneLine(source) + trouble + "\r\n"; });
    }
    current_.failure = trouble;
    view_.DocumentFinished(current_);
}

// One document through the reader, the converter and into place; its failure text, or "".
// The documents after it start while it is finished, as far as there are workers for them.
// Whatever the job left in its folder goes with the job.
QString ConversionRun::ConvertDocument(int position, const QString& source, DocumentJobs& jobs,
                                       const QString& outputBase) {
    const auto requestAt = [this](int next) -> std::optional<JobRequest> {
        if (next > list_.Count()) {
            return std::nullopt;
        }
        return RequestFor(list_.Text(next));
    };
    const std::unique_ptr<DocumentJob> job =
        jobs.Finished(position, RequestFor(source), requestAt, dialogs_);
    if (job->CutShort() && view_.StopRequestedWithin(std::chrono::seconds(1))) {
        // Ended by the stop, not by anything in the document: it is converted again on resume.
        current_.stopped = true;
        return {};
    }
    QString trouble = job->readerTrouble();
    if (job->saved()) {
        trouble = job->request().format.perPage ? DeliverPages(source, *job, outputBase)
                                                : DeliverDocument(source, *job, outputBase);
    }
    // Its pages' names count only once their folder is on the disk: once per document, not
    // per page, which would cost a disk round trip each.
    if (!current_.outputs.isEmpty()) {
        int error = 0;
        RunAside([&] { error = SyncFolder(FolderOf(outputBase)); });
        if (error != 0 && trouble.isEmpty()) {
            trouble = FailureText(ErrorFromErrno(error, FileAccess::Write).number(),
                                  NotSaved(FolderOf(outputBase), error));
        }
    }
    return trouble;
}

JobRequest ConversionRun::RequestFor(const QString& source) const {
    return {source, view_.Quality(), view_.Format()};
}

// Moves the converter's pages to their final names, each under its own page number. A page
// counts only once it is there; the failure text names every page that is not.
QString ConversionRun::DeliverPages(const QString& source, const DocumentJob& job,
                                    const QString& outputBase) {
    const QString extension = job.request().format.extension;
    const int expected = job.pagesInDocument();
    current_.pages = expected;
    QMap<int, QString> pages;
    report_.Run(186, [&] { pages = ConvertedPages(job.folder(), extension); });
    for (const int number : pages.keys()) {
        if (const QString refusal = Refusal(source, PageName(outputBase, number, extension));
            !refusal.isEmpty()) {
            return refusal;
        }
    }
    if (!pages.isEmpty()) {
        PrepareOutputFolder(source, outputBase);
    }
    std::vector<int> undelivered;
    int firstError = 0;
    for (auto page = pages.cbegin(); page != pages.cend(); ++page) {
        const QString target = PageName(outputBase, page.key(), extension);
        QString owner;
        const int error = Deliver(page.value(), target, owner);
        if (!owner.isEmpty()) {
            return WrittenFor(target, owner);
        }
        if (error == 0) {
            continue;
        }
        firstError = undelivered.empty() ? error : firstError;
        undelivered.push_back(page.key());
    }
    int number = 0;
    QStringList troubles;
    if (!undelivered.empty()) {
        number = ErrorFromErrno(firstError, FileAccess::Write).number();
        troubles << QString::fromStdString(PageNumbersText(undelivered)) + " " +
                        NotSaved(PageName(outputBase, undelivered.front(), extension), firstError);
    }
    const ConverterOutcome& outcome = job.outcome();
    if (const QString converter = ConverterTrouble(
            outcome, job.tiffPath(), MissingPages(pages, expected), expected, !pages.isEmpty());
        !converter.isEmpty()) {
        number = number != 0 ? number : 321;
        troubles << converter;
    }
    return troubles.isEmpty() ? QString() : FailureText(number, troubles.join("; "));
}

// Moves the converter's one file for the whole document to its final name. The converter
// writes it only when every page converted.
QString ConversionRun::DeliverDocument(const QString& source, const DocumentJob& job,
                                       const QString& outputBase) {
    const QString extension = job.request().format.extension;
    const QString file = Joined(job.folder(), QString(kIntermediateStem) + "-all." + extension);
    current_.pages = job.pagesInDocument();
    const ConverterOutcome& outcome = job.outcome();
    // A document with pages kept with damage is written all the same, and listed.
    const bool keptWithDamage =
        outcome.finished && outcome.exitStatus == converter::kKeptWithDamageStatus;
    if (!outcome.finished || (outcome.exitStatus != 0 && !keptWithDamage) || !PathExists(file)) {
        return FailureText(321,
                           ConverterTrouble(outcome, job.tiffPath(), {}, 0, false, "document"));
    }
    const QString target = outputBase + "." + extension;
    if (const QString refusal = Refusal(source, target); !refusal.isEmpty()) {
        return refusal;
    }
    PrepareOutputFolder(source, outputBase);
    QString owner;
    const int error = Deliver(file, target, owner);
    if (!owner.isEmpty()) {
        return WrittenFor(target, owner);
    }
    if (error != 0) {
        return FailureText(ErrorFromErrno(error, FileAccess::Write).number(),
                           NotSaved(target, error));
    }
    return keptWithDamage ? FailureText(321, ConverterTrouble(outcome, job.tiffPath(), {}, 0, true,
                                                              "document"))
                          : QString();
}

// Puts one file of the current document at `target`, which then counts as written for it; 0,
// or the errno of the failure. A page of another document found there stays, and `owner`
// names that document.
int ConversionRun::Deliver(const QString& file, const QString& target, QString& owner) {
    int error = 0;
    const QString source = current_.source;
    report_.Run(192, [&] {
        RunAside([&] { error = DeliverPage(file, target, AbsolutePath(source), owner); });
    });
    if (error == 0) {
        delivered_.insert(target, source);
        deliveredFiles_.insert(IdentityKey(target), source);
        current_.outputs << target;
    }
    return error;
}

// Why nothing may be written at `target`: a file this run, or the earlier run it continues,
// wrote for another document, or a document this run converts. "" when it may.
QString ConversionRun::Refusal(const QString& source, const QString& target) const {
    QString earlier = delivered_.value(target);
    if (earlier.isEmpty() && PathExists(target)) {
        // Two names for one file, where the file system folds case.
        earlier = deliveredFiles_.value(IdentityKey(target));
    }
    if (!earlier.isEmpty() && !IsSameDocument(earlier, source)) {
        return WrittenFor(target, earlier, " in this run");
    }
    if (const QString recorded = view_.RecordedSourceOf(target);
        !recorded.isEmpty() && !IsSameDocument(recorded, source)) {
        return WrittenFor(target, recorded);
    }
    if (sources_.contains(target) || IsSameFile(source, target)) {
        return FailureText(
            58, "File already exists: " + OnOneLine(target) + " is a document being converted");
    }
    return {};
}

// With --tree the output folder gets the document's subfolder, but only below a folder that is
// still there. What runs killed while copying left in the folder goes the first time this run
// writes there.
void ConversionRun::PrepareOutputFolder(const QString& source, const QString& outputBase) {
    const QString folder = FolderOf(outputBase);
    if (!view_.OutputSubfolder(source).isEmpty() && IsFolder(view_.OutputFolder())) {
        MakeFolders(folder);
    }
    if (!preparedFolders_.contains(folder)) {
        preparedFolders_.insert(folder);
        RemoveAbandonedCopies(folder);
    }
}

}  // namespace vellumax
