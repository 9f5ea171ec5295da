#include "app/command_line.h"

#include <pthread.h>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QSet>
#include <QTextStream>
#include <QThread>
#include <atomic>
#include <csignal>
#include <optional>

#include "app/run_report.h"
#include "conversion/conversion_run.h"
#include "filelist/file_list.h"
#include "filelist/list_adders.h"
#include "platform/build_config.h"
#include "platform/dialogs.h"
#include "platform/error_report.h"
#include "platform/file_identity.h"
#include "platform/path_helpers.h"
#include "platform/shell_start.h"

namespace vellumax {

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The first stop signal that arrived, 0 before any.
volatile std::sig_atomic_t stopSignal = 0;

// The first signal stops the run after its current document, and the run ends the work started
// ahead on later ones as soon as it sees it; a second one also ends the current converter at
// once, and the run then cleans up as it would after the first.
void OnStopSignal(int signal) {
    if (stopSignal != 0) {
        KillWaitedProcess();
        return;
    }
    stopSignal = signal;
}

QString ForTerminal(const QString& text) {
    QString plain = text;
    plain.replace("\r\n", "\n");
    plain.replace('\r', '\n');
    return plain;
}

// The run's boxes, as lines of text: the closing report is the command's output, anything
// else is a diagnostic. Nothing here waits for an answer.
class ConsoleDialogs : public Dialogs {
public:
    ConsoleDialogs(QTextStream& output, QTextStream& errors) : output_(output), errors_(errors) {}

    MessageAnswer ShowMessage(const QString& text, const QString& /*title*/, MessageButtons buttons,
                              MessageIcon /*icon*/) override {
        const bool closing = text.startsWith("Done.");
        diagnostics_ += closing ? 0 : 1;
        QTextStream& stream = closing ? output_ : errors_;
        stream << ForTerminal(text) << Qt::endl;
        return buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
    }
    QString InputBox(const QString&, const QString&, const QString&) override { return {}; }
    QStringList OpenFiles(const QString&, const QString&) override { return {}; }
    QString PickFolder(const QString&, const QString&) override { return {}; }
    void OpenTarget(const QString&) override {}

    // How many messages other than the closing report were shown.
    int diagnostics() const { return diagnostics_; }

private:
    QTextStream& output_;
    QTextStream& errors_;
    int diagnostics_ = 0;
};

// The window's options, fixed by the command; progress as lines on the error stream.
class ConsoleView : public ConversionView {
public:
    ConsoleView(const ConvertCommand& command, const FileList& list, QTextStream& errors,
                bool toTerminal)
        : command_(command), list_(list), errors_(errors), toTerminal_(toTerminal) {}

    void SetMousePointer(int) override {}
    void SetProgressValue(double percent) override { percent_ = percent; }
    void SetProgressText(const QString& text) override {
        if (!text.startsWith("Processing: ")) {
            EndProgressLine();
            return;
        }
        const int total = list_.Count();
        const int position = qRound(percent_ * total / 100.0);
        const QString line =
            OnOneLine(text) + " [" + QString::number(position) + "/" + QString::number(total) + "]";
        if (toTerminal_) {
            errors_ << "\r\x1b[K" << line << Qt::flush;  // one line, rewritten in place
            progressLineOpen_ = true;
        } else {
            errors_ << line << Qt::endl;
        }
    }
    QString OutputFolder() const override { return command_.outputFolder; }
    bool SaveToFolder() const override { return !command_.outputFolder.isEmpty(); }
    bool SaveBesideSource() const override { return command_.outputFolder.isEmpty(); }
    int Quality() const override { return command_.quality; }
    OutputFormat Format() const override { return command_.format; }
    bool StopRequested() const override { return stopSignal != 0; }
    bool StopRequestedWithin(std::chrono::milliseconds grace) const override {
        const QDeadlineTimer deadline(grace);
        while (!StopRequested() && !deadline.hasExpired()) {
            QThread::msleep(10);
        }
        return StopRequested();
    }
    QString OutputSubfolder(const QString& source) const override {
        return subfolders_.value(source);
    }
    // A document found below a folder given on the command line: with --tree it keeps its place
    // under that folder, and its path there is what puts it in its shard.
    void SetFoundUnder(const QString& source, const QString& relativePath) {
        if (shareKeys_.contains(source)) {
            return;
        }
        shareKeys_.insert(source, relativePath);
        const QString folder = FolderOf(relativePath);
        if (command_.tree && !folder.isEmpty()) {
            subfolders_.insert(source, folder.chopped(1));
        }
    }
    QString ShareKey(const QString& source) const {
        return shareKeys_.value(source, FileNameOf(source));
    }

    void DocumentFinished(const DocumentOutcome& outcome) override {
        if (report_ != nullptr) {
            report_->Finished(outcome);
        }
    }
    void SetReport(RunReport* report) { report_ = report; }
    QString RecordedSourceOf(const QString& target) const override {
        return recorded_.value(AbsolutePath(target));
    }
    // The files the resumed report lists, with the sources they were written for.
    void SetRecordedOutputs(QHash<QString, QString> recorded) { recorded_ = std::move(recorded); }

    void EndProgressLine() {
        if (progressLineOpen_) {
            errors_ << Qt::endl;
            progressLineOpen_ = false;
        }
    }

private:
    const ConvertCommand& command_;
    const FileList& list_;
    QTextStream& errors_;
    bool toTerminal_;
    bool progressLineOpen_ = false;
    double percent_ = 0;
    QHash<QString, QString> subfolders_;
    QHash<QString, QString> shareKeys_;
    RunReport* report_ = nullptr;
    QHash<QString, QString> recorded_;
};

std::variant<int, UsageError> QualityValue(const QString& text) {
    bool isNumber = false;
    const int quality = text.toInt(&isNumber);
    if (!isNumber || quality < 1 || quality > 100) {
        return UsageError{"--quality takes a whole number from 1 to 100, not \"" + text + "\""};
    }
    return quality;
}

// The value after an option, or nothing when the arguments end there.
std::optional<QString> ValueAfter(const QStringList& arguments, qsizetype& index) {
    if (index + 1 >= arguments.size()) {
        return std::nullopt;
    }
    return arguments[++index];
}

std::variant<OutputFormat, UsageError> FormatValue(const QString& text) {
    if (const auto format = OutputFormatNamed(text)) {
        return *format;
    }
    return UsageError{"--format takes jpeg, png, tiff or pdf, not \"" + text + "\""};
}

Command ParseConvert(const QStringList& arguments) {
    ConvertCommand command;
    bool besideSource = false;
    bool qualityGiven = false;
    for (qsizetype index = 1; index < arguments.size(); ++index) {
        const QString& argument = arguments[index];
        if (argument == "--") {
            command.paths += arguments.mid(index + 1);
            break;
        }
        if (!argument.startsWith("--")) {
            command.paths << argument;
            continue;
        }
        if (argument == "--beside-source") {
            besideSource = true;
            continue;
        }
        if (argument == "--tree") {
            command.tree = true;
            continue;
        }
        if (argument == "--null") {
            command.nulSeparated = true;
            continue;
        }
        if (argument == "--verify") {
            command.verify = true;
            continue;
        }
        const auto value = ValueAfter(arguments, index);
        static const QStringList kNamingFiles{"--files-from", "--report", "--resume"};
        static const QStringList kValued =
            QStringList{"--quality", "--out", "--ext", "--format", "--shard"} + kNamingFiles;
        if (kValued.contains(argument) &&
            (!value || (value->isEmpty() && kNamingFiles.contains(argument)))) {
            return UsageError{argument + " needs a value"};
        }
        if (argument == "--quality") {
            const auto quality = QualityValue(*value);
            if (const auto* error = std::get_if<UsageError>(&quality)) {
                return *error;
            }
            command.quality = std::get<int>(quality);
            qualityGiven = true;
        } else if (argument == "--format") {
            const auto format = FormatValue(*value);
            if (const auto* error = std::get_if<UsageError>(&format)) {
                return *error;
            }
            command.format = std::get<OutputFormat>(format);
        } else if (argument == "--out") {
            command.outputFolder = *value;
        } else if (argument == "--ext") {
            command.extension = *value;
        } else if (argument == "--files-from") {
            command.filesFrom = *value;
        } else if (argument == "--shard") {
            const auto shard = ShardNamed(*value);
            if (!shard) {
                return UsageError{"--shard takes K/N, whole numbers with 1 <= K <= N, not \"" +
                                  *value + "\""};
            }
            command.shard = *shard;
        } else if (argument == "--report") {
            command.reportFile = *value;
        } else if (argument == "--resume") {
            command.resumeFile = *value;
        } else {
            return UsageError{"unknown option " + argument};
        }
    }
    if (besideSource && !command.outputFolder.isEmpty()) {
        return UsageError{"--out and --beside-source exclude each other"};
    }
    if (qualityGiven && !command.format.usesQuality) {
        return UsageError{"--quality applies to jpeg and pdf only"};
    }
    if (command.tree && command.outputFolder.isEmpty()) {
        return UsageError{"--tree needs --out"};
    }
    if (command.extension.isEmpty()) {
        return UsageError{"--ext needs a value"};
    }
    if (command.nulSeparated && command.filesFrom.isEmpty()) {
        return UsageError{"--null needs --files-from"};
    }
    if (command.verify && command.resumeFile.isEmpty()) {
        return UsageError{"--verify needs --resume"};
    }
    if (command.paths.isEmpty() && command.filesFrom.isEmpty()) {
        return UsageError{"no document or folder given"};
    }
    // The resumed run goes on in the same report, unless it is told to write another.
    if (command.reportFile.isEmpty()) {
        command.reportFile = command.resumeFile;
    }
    return command;
}

// The command's paths, then those of its --files-from list; nothing when the list cannot be
// read or cannot be meant as it reads, with the reason on the error stream.
std::optional<QStringList> AllPaths(const ConvertCommand& command, QTextStream& errors) {
    if (command.filesFrom.isEmpty()) {
        return command.paths;
    }
    QFile list(command.filesFrom);
    const bool opened = command.filesFrom == "-" ? list.open(stdin, QIODevice::ReadOnly)
                                                 : list.open(QIODevice::ReadOnly);
    const QByteArray content = opened ? list.readAll() : QByteArray();
    if (!opened || list.error() != QFileDevice::NoError) {
        errors << "vellumax: cannot read --files-from " << command.filesFrom << ": "
               << list.errorString() << Qt::endl;
        return std::nullopt;
    }
    // A NUL cannot be part of a name: a list that holds one was written for --null, and read
    // by lines it would give names cut short at the first NUL.
    if (!command.nulSeparated && content.contains('\0')) {
        errors << "vellumax: --files-from " << command.filesFrom
               << " holds NUL characters, as find -print0 writes; read it with --null" << Qt::endl;
        return std::nullopt;
    }
    return command.paths + PathsListed(content, command.nulSeparated);
}

// Fills the list from the paths. Folders the walk could not enter are named on the error
// stream; true when every folder was searched without trouble.
bool FillList(const ConvertCommand& command, const QStringList& paths, FileList& list,
              ConsoleView& view, ConsoleDialogs& dialogs, QTextStream& errors) {
    ErrorReport report(dialogs, FormLocation("PushButton4_Click"));
    QStringList unentered;
    QStringList hidden;
    for (const QString& path : paths) {
        if (!(PathExists(path) && IsFolder(path))) {
            list.Append(path);
            continue;
        }
        const int before = list.Count();
        AddFolderTree(list, path, "*." + command.extension, dialogs, report, 114, &unentered,
                      &hidden);
        const QDir top(AbsolutePath(path));
        for (int position = before + 1; position <= list.Count(); ++position) {
            const QString source = list.Text(position);
            view.SetFoundUnder(source, top.relativeFilePath(AbsolutePath(source)));
        }
    }
    for (const QString& folder : unentered) {
        errors << "vellumax: not searched: " << folder << Qt::endl;
    }
    // Hidden by design, as a system's bookkeeping is; named, so that no document goes unseen.
    for (const QString& file : hidden) {
        errors << "vellumax: passed over: " << OnOneLine(file) << ": a hidden file" << Qt::endl;
    }
    return unentered.isEmpty() && dialogs.diagnostics() == 0;
}

// The options as the report's start line gives them, with every path made absolute.
QJsonObject ReportedOptions(const ConvertCommand& command) {
    const auto file = [](const QString& path) {
        return path.isEmpty() ? QJsonValue() : QJsonValue(path == "-" ? path : AbsolutePath(path));
    };
    QJsonArray paths;
    for (const QString& path : command.paths) {
        paths << AbsolutePath(path);
    }
    return {{"format", command.format.name},
            {"quality", command.quality},
            {"out", file(command.outputFolder)},
            {"tree", command.tree},
            {"ext", command.extension},
            {"paths", paths},
            {"files_from", file(command.filesFrom)},
            {"null", command.nulSeparated},
            {"shard", command.shard.Text()},
            {"report", file(command.reportFile)},
            {"resume", file(command.resumeFile)},
            {"verify", command.verify}};
}

// The report the command asks for, started; nothing when none is asked for or it cannot be
// written, which `refused` then tells.
std::unique_ptr<RunReport> StartReport(const ConvertCommand& command, QTextStream& errors,
                                       bool& refused) {
    refused = false;
    if (command.reportFile.isEmpty()) {
        return nullptr;
    }
    QString trouble;
    auto report = RunReport::Open(command.reportFile, command.resumeFile, trouble);
    if (report == nullptr) {
        errors << "vellumax: " << trouble << Qt::endl;
        refused = true;
        return nullptr;
    }
    report->Start(ReportedOptions(command));
    return report;
}

// The listed documents, each once however often and by whatever names it was given, less the
// run's own report: a run never takes a file it writes as a document.
QStringList DocumentsOnce(const FileList& list, const RunReport* report,
                          const QHash<QString, QString>& recordedOutputs) {
    QStringList documents;
    QSet<QString> seen;
    for (int position = 1; position <= list.Count(); ++position) {
        const QString document = list.Text(position);
        const bool ownFile = (report != nullptr && report->IsOwnFile(document)) ||
                             recordedOutputs.contains(AbsolutePath(document));
        const QString identity = IdentityKey(document);
        if (ownFile || seen.contains(identity)) {
            continue;
        }
        seen.insert(identity);
        documents << document;
    }
    return documents;
}

// Whether the earlier line shows the document done as this run would do it: exactly the files
// its pages give under this run's options, at its quality, each still as recorded, from the
// same source.
bool DoneAsRecorded(const QJsonObject& earlier, const ConversionView& view, const QString& document,
                    bool verify) {
    const OutputFormat format = view.Format();
    if (earlier["format"] != format.name ||
        (format.usesQuality && earlier["quality"] != view.Quality())) {
        return false;
    }
    const int pages = earlier["pages"].toInt();
    QStringList recorded;
    for (const QJsonValue& output : earlier["outputs"].toArray()) {
        recorded << ReportedPath(output.toObject(), "path");
    }
    QStringList expected;
    for (const QString& output : OutputsFor(view, document, pages)) {
        expected << AbsolutePath(output);
    }
    return pages > 0 && recorded == expected && StillAsRecorded(earlier, verify);
}

// Narrows the list to this shard's share, less the documents an earlier run converted and
// left as they are, which the report lists as skipped.
void Narrow(const ConvertCommand& command, FileList& list, ConsoleView& view, RunReport* report) {
    const QByteArray earlier = report != nullptr ? report->earlier() : QByteArray();
    const QHash<QString, QString> recordedOutputs = RecordedOutputs(earlier);
    view.SetRecordedOutputs(recordedOutputs);
    QStringList documents = DocumentsOnce(list, report, recordedOutputs);
    if (command.shard.count > 1) {
        documents.removeIf([&](const QString& document) {
            return !InShard(view.ShareKey(document), command.shard);
        });
    }
    const QHash<QString, QJsonObject> converted = ConvertedDocuments(earlier);
    list.Clear();
    for (const QString& document : std::as_const(documents)) {
        const auto line = converted.constFind(AbsolutePath(document));
        if (line != converted.constEnd() && DoneAsRecorded(*line, view, document, command.verify)) {
            report->Skipped(*line, command.verify);
            continue;
        }
        list.Append(document);
    }
}

int Convert(const ConvertCommand& command, QTextStream& output, QTextStream& errors,
            bool errorsToTerminal) {
    const std::optional<QStringList> paths = AllPaths(command, errors);
    if (!paths) {
        return kUsageOrRefused;
    }
    ConsoleDialogs dialogs(output, errors);
    FileList list;
    ConsoleView view(command, list, errors, errorsToTerminal);
    const bool listComplete = FillList(command, *paths, list, view, dialogs, errors);
    bool refused = false;
    const std::unique_ptr<RunReport> report = StartReport(command, errors, refused);
    if (refused) {
        return kUsageOrRefused;
    }
    view.SetReport(report.get());
    const bool listedAny = list.Count() > 0;
    Narrow(command, list, view, report.get());

    ConversionRun run(list, dialogs, view, DocumentReaderFactory());
    // A share with nothing in it, or nothing left to do, is a finished run, not an empty list.
    const bool nothingLeft = listedAny && list.Count() == 0;
    if (nothingLeft) {
        output << "Done." << Qt::endl;
    } else {
        run.PushButton2_Click();
        view.EndProgressLine();
    }
    const RunSummary& summary = run.lastRun();
    if (report != nullptr) {
        report->End(summary.stopped);
        if (!report->trouble().isEmpty()) {
            errors << "vellumax: the report " << command.reportFile
                   << " is incomplete: " << report->trouble() << Qt::endl;
        }
    }
    const bool reported = report == nullptr || report->trouble().isEmpty();
    if (!summary.started && !nothingLeft) {
        return kUsageOrRefused;
    }
    if (summary.stopped) {
        errors << "Stopped: worked on " << summary.visited << " of " << summary.listed
               << " documents." << Qt::endl;
        return 128 + stopSignal;
    }
    return summary.failures.trimmed().isEmpty() && listComplete && reported ? kAllConverted
                                                                            : kSomeFailed;
}

}  // namespace

Command ParseCommandLine(const QStringList& arguments) {
    if (arguments.isEmpty()) {
        return UsageError{"no command given"};
    }
    const QString& first = arguments.first();
    if (first == "--help" || first == "-h") {
        return HelpCommand{};
    }
    if (first == "--version") {
        return VersionCommand{};
    }
    if (first == "--convert") {
        return ParseConvert(arguments);
    }
    return UsageError{"unknown command " + first};
}

QString UsageText() {
    return "Usage: vellumax --convert [--format F] [--quality N] [--out DIR [--tree] | "
           "--beside-source]\n"
           "                         [--ext EXT] [--files-from FILE [--null]] [--shard K/N]\n"
           "                         [--report FILE] [--resume FILE [--verify]] [PATH...]\n"
           "       vellumax --help | --version\n"
           "\n"
           "Converts document-imaging files (.mdi) and TIFF documents into images. Without "
           "options\n"
           "the window opens.\n"
           "\n"
           "  PATH             a document (taken as given, any extension) or a folder, whose\n"
           "                   tree is searched for files with the extension EXT\n"
           "  --format F       jpeg: a JPEG file per page, <document>_<page>.jpg (the default)\n"
           "                   png: a lossless PNG file per page, <document>_<page>.png\n"
           "                   tiff: one lossless multi-page TIFF per document, <document>.tif\n"
           "                   pdf: one PDF per document, <document>.pdf, colour and grey pages\n"
           "                   as JPEG, bi-level pages as G4\n"
           "  --quality N      JPEG quality from 1 to 100, for jpeg and pdf (default 85)\n"
           "  --out DIR        write every page into DIR, which must exist\n"
           "  --beside-source  write the pages next to each document (the default)\n"
           "  --ext EXT        extension searched for in folders (default mdi; * for every file)\n"
           "  --tree           with --out: a document found below a folder PATH goes to the same\n"
           "                   subfolder of DIR, made as needed\n"
           "  --files-from FILE\n"
           "                   more PATHs, one a line, read from FILE (- for standard input);\n"
           "                   empty lines are passed over\n"
           "  --null           with --files-from: each PATH ends with a NUL, as find -print0\n"
           "                   writes them\n"
           "  --shard K/N      only the Kth of N shares, each document's share fixed by a hash\n"
           "                   of its path below the PATH it was found under (of its file name\n"
           "                   when given itself): N machines given the same PATHs and shards 1/N\n"
           "                   to N/N convert each document once between them\n"
           "  --report FILE    write a line of JSON for each document as it ends: its source\n"
           "                   and each file written with size and SHA-256, its status and the\n"
           "                   reason of a failure; a first line with the options, a last with\n"
           "                   the totals\n"
           "  --resume FILE    skip the documents the report FILE lists as converted, with the\n"
           "                   files this run's options give, unchanged since, and convert the\n"
           "                   rest; the new lines are added to FILE unless --report names\n"
           "                   another (which is then replaced); a FILE not there yet is an\n"
           "                   empty report, so the same command starts a run and resumes it;\n"
           "                   a file of unchanged size and time counts as unchanged, and the\n"
           "                   end line counts the documents skipped\n"
           "  --verify         with --resume: hash every file instead, and give each document\n"
           "                   skipped a line of its own\n"
           "\n"
           "Exit status: 0 every document converted, 1 some failed or were not found, 2 usage\n"
           "error or refused start, 128 + the signal when stopped (130 Ctrl-C, 143 SIGTERM,\n"
           "129 SIGHUP).\n";
}

int RunCommandLine(const QStringList& arguments, QTextStream& output, QTextStream& errors,
                   bool errorsToTerminal) {
    const Command command = ParseCommandLine(arguments);
    if (std::holds_alternative<HelpCommand>(command)) {
        output << UsageText() << Qt::flush;
        return kAllConverted;
    }
    if (std::holds_alternative<VersionCommand>(command)) {
        output << "vellumax " << build_config::kVersion << Qt::endl;
        return kAllConverted;
    }
    if (const auto* error = std::get_if<UsageError>(&command)) {
        errors << "vellumax: " << error->message << "\n\n" << UsageText() << Qt::flush;
        return kUsageOrRefused;
    }
    return Convert(std::get<ConvertCommand>(command), output, errors, errorsToTerminal);
}

void InstallInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = &OnStopSignal;
    action.sa_flags = SA_RESTART;  // a read cut short would fail the document being converted
    sigemptyset(&action.sa_mask);
    // A parent may hand down a mask that holds these back; they are ours to take.
    sigset_t stops;
    sigemptyset(&stops);
    for (const int signal : kStopSignals) {
        sigaction(signal, &action, nullptr);
        sigaddset(&stops, signal);
    }
    pthread_sigmask(SIG_UNBLOCK, &stops, nullptr);
}

}  // namespace vellumax
