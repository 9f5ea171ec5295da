#include "app/run_report.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <cerrno>
#include <cstring>

#include "app/document_selection.h"
#include "conversion/conversion_run.h"
#include "platform/build_config.h"
#include "platform/path_helpers.h"

namespace vellumax {

namespace {

QString Now() {
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
}

QString SystemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// Writes the path under `key`; a name that is not UTF-8 is shown escaped there and kept
// exactly in `key` + "_bytes".
void SetPath(QJsonObject& line, const QString& key, const QString& path) {
    if (!HasForeignBytes(path)) {
        line[key] = path;
        return;
    }
    line[key] = OnOneLine(path);
    line[key + "_bytes"] = QString::fromLatin1(NativePath(path).toBase64());
}

// The modification time in nanoseconds, as text: a JSON number holds only 53 bits exactly.
QString ModificationTime(const struct stat& info) {
    return QString::number(qint64(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec);
}

// The file's size, modification time and SHA-256, all null when it cannot be read. The hash is
// taken in blocks, so a document of gigabytes is never in memory at once.
QJsonObject FileFacts(const QString& path) {
    QJsonObject facts{{"size", QJsonValue()}, {"sha256", QJsonValue()}, {"mtime_ns", QJsonValue()}};
    SetPath(facts, "path", AbsolutePath(path));
    const FileDescriptor file(::open(NativePath(path).constData(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (file.get() < 0 || ::fstat(file.get(), &info) != 0) {
        return facts;
    }
    // Read through the descriptor: Qt's own file names would lose a name that is not UTF-8.
    QFile reading;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!reading.open(file.get(), QIODevice::ReadOnly, QFileDevice::DontCloseHandle) ||
        !hash.addData(&reading)) {
        return facts;
    }
    facts["size"] = reading.pos();
    facts["sha256"] = QString::fromLatin1(hash.result().toHex());
    facts["mtime_ns"] = ModificationTime(info);
    return facts;
}

// Whether the file is as recorded: by its size and modification time alone, unless `verify`
// asks for its hash; a file whose time moved is hashed, and counts as unchanged when its bytes
// are.
bool AsRecorded(const QJsonObject& recorded, const QString& path, bool verify) {
    struct stat info {};
    if (!verify && ::stat(NativePath(path).constData(), &info) == 0 &&
        recorded["size"] == qint64(info.st_size) &&
        recorded["mtime_ns"] == ModificationTime(info)) {
        return true;
    }
    const QJsonObject now = FileFacts(path);
    return !now["sha256"].isNull() && now["size"] == recorded["size"] &&
           now["sha256"] == recorded["sha256"];
}

// A document line with the source as it is now.
QJsonObject DocumentLine(const QString& source, const QString& status) {
    const QJsonObject facts = FileFacts(source);
    QJsonObject line{{"type", "document"},
                     {"size", facts["size"]},
                     {"sha256", facts["sha256"]},
                     {"mtime_ns", facts["mtime_ns"]},
                     {"status", status}};
    SetPath(line, "source", AbsolutePath(source));
    return line;
}

// Takes a lock of `type` on the whole file; "" when taken, else why not.
QString Lock(int descriptor, short type) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    if (::fcntl(descriptor, F_SETLK, &lock) == 0) {
        return {};
    }
    // A file system without locks (an NFS mount without its lock service) holds none; a run
    // there goes on as it did before reports were locked.
    if (errno == ENOLCK || errno == EOPNOTSUPP || errno == EINVAL) {
        return {};
    }
    if (errno != EACCES && errno != EAGAIN) {
        return SystemReason(errno);
    }
    struct flock holder {};
    holder.l_type = F_WRLCK;
    holder.l_whence = SEEK_SET;
    if (::fcntl(descriptor, F_GETLK, &holder) == 0 && holder.l_type != F_UNLCK) {
        return "report in use by process " + QString::number(holder.l_pid);
    }
    return "report in use by another process";
}

// The whole file, from where the descriptor stands (its start, just opened); nothing when it
// cannot be read. The descriptor stays open, and with it the lock it holds.
std::optional<QByteArray> ReadAll(int descriptor) {
    QFile file;
    if (!file.open(descriptor, QIODevice::ReadOnly, QFileDevice::DontCloseHandle)) {
        return std::nullopt;
    }
    QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        return std::nullopt;
    }
    return content;
}

bool WriteAll(int descriptor, const QByteArray& bytes) {
    return WriteFully(descriptor, bytes.constData(), static_cast<size_t>(bytes.size()));
}

}  // namespace

std::unique_ptr<RunReport> RunReport::Open(const QString& path, const QString& resumePath,
                                           QString& error) {
    std::unique_ptr<RunReport> report(new RunReport());
    // Not through a link: a report named by a link would empty, or grow, whatever it points to.
    report->file_ = FileDescriptor(
        ::open(NativePath(path).constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666));
    const QString cannotWrite = "cannot write the report " + path + ": ";
    if (report->file_.get() < 0) {
        error = cannotWrite + (errno == ELOOP ? "it is a symbolic link" : SystemReason(errno));
        return nullptr;
    }
    // Nothing is emptied or read before the lock is ours: another run may be writing.
    if (error = Lock(report->file_.get(), F_WRLCK); !error.isEmpty()) {
        error = cannotWrite + error;
        return nullptr;
    }
    report->fileIdentity_ = IdentityOf(report->file_.get());
    bool append = false;
    if (!resumePath.isEmpty()) {
        const auto resumed = IdentityOf(resumePath);
        append = resumed && resumed == report->fileIdentity_;
        int earlier = report->file_.get();
        if (resumed && !append) {
            report->resumed_ =
                FileDescriptor(::open(NativePath(resumePath).constData(), O_RDONLY | O_CLOEXEC));
            earlier = report->resumed_.get();
            error = earlier < 0 ? SystemReason(errno) : Lock(earlier, F_RDLCK);
            if (!error.isEmpty()) {
                error = "cannot read the report " + resumePath + ": " + error;
                return nullptr;
            }
            report->resumedIdentity_ = resumed;
        }
        if (resumed) {
            const std::optional<QByteArray> content = ReadAll(earlier);
            if (!content) {
                error = "cannot read the report " + resumePath + ": " + SystemReason(errno);
                return nullptr;
            }
            report->earlier_ = *content;
        }
    }
    struct stat info {};
    const bool regular = ::fstat(report->file_.get(), &info) == 0 && S_ISREG(info.st_mode);
    if (!append && regular && ::ftruncate(report->file_.get(), 0) != 0) {
        error = cannotWrite + SystemReason(errno);
        return nullptr;
    }
    if (regular) {
        ::lseek(report->file_.get(), 0, SEEK_END);
    }
    // A run killed while writing may have left half a line: ours start on a line of their own.
    if (append && !report->earlier_.isEmpty() && !report->earlier_.endsWith('\n')) {
        WriteAll(report->file_.get(), "\n");
    }
    return report;
}

bool RunReport::IsOwnFile(const QString& path) const {
    const auto identity = IdentityOf(path);
    return identity && (identity == fileIdentity_ || identity == resumedIdentity_);
}

void RunReport::Start(const QJsonObject& options) {
    options_ = options;
    Write({{"type", "start"},
           {"version", build_config::kVersion},
           {"options", options},
           {"started", Now()}});
}

void RunReport::Finished(const DocumentOutcome& outcome) {
    const QString status = outcome.stopped             ? "stopped"
                           : outcome.failure.isEmpty() ? "converted"
                                                       : "failed";
    QJsonObject line = DocumentLine(outcome.source, status);
    if (status == "failed") {
        line["reason"] = outcome.failure.trimmed();
    }
    line["pages"] = outcome.pages;
    // What the pages were written as, which a resumed run compares with its own options.
    line["format"] = options_["format"];
    line["quality"] = options_["quality"];
    QJsonArray outputs;
    for (const QString& output : outcome.outputs) {
        outputs << FileFacts(output);
    }
    line["outputs"] = outputs;
    ++(status == "converted" ? converted_ : status == "failed" ? failed_ : stopped_);
    Write(line);
}

void RunReport::Skipped(const QJsonObject& earlier, bool listed) {
    ++skipped_;
    if (listed) {
        QJsonObject line = earlier;
        line["status"] = "skipped";
        Write(line);
    }
}

void RunReport::End(bool stopped) {
    Write({{"type", "end"},
           {"converted", converted_},
           {"failed", failed_},
           {"skipped", skipped_},
           {"stopped", stopped},
           {"stopped_documents", stopped_},
           {"ended", Now()}});
}

void RunReport::Write(QJsonObject line) {
    const QByteArray bytes = QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n';
    // One write for the whole line, on the disk before the run goes on: a line the report
    // shows is a document done.
    if ((!WriteAll(file_.get(), bytes) || ::fdatasync(file_.get()) != 0) && trouble_.isEmpty()) {
        trouble_ = SystemReason(errno);
    }
}

namespace {

// The document lines of a report, in order; lines that do not parse are passed over. A line of
// a version that did not say how its pages were written takes it from its run's start line.
QList<QJsonObject> DocumentLines(const QByteArray& report) {
    QList<QJsonObject> lines;
    QJsonObject options;
    for (const QByteArray& text : report.split('\n')) {
        QJsonObject line = QJsonDocument::fromJson(text).object();
        if (line["type"] == "start") {
            options = line["options"].toObject();
        }
        if (line["type"] != "document" || !line["source"].isString()) {
            continue;
        }
        for (const char* key : {"format", "quality"}) {
            if (!line.contains(key)) {
                line[key] = options[key];
            }
        }
        lines << line;
    }
    return lines;
}

}  // namespace

QHash<QString, QString> RecordedOutputs(const QByteArray& report) {
    QHash<QString, QString> outputs;
    for (const QJsonObject& line : DocumentLines(report)) {
        const QString source = ReportedPath(line, "source");
        for (const QJsonValue& output : line["outputs"].toArray()) {
            outputs.insert(ReportedPath(output.toObject(), "path"), source);
        }
    }
    return outputs;
}

QHash<QString, QJsonObject> ConvertedDocuments(const QByteArray& report) {
    QHash<QString, QJsonObject> converted;
    for (const QJsonObject& line : DocumentLines(report)) {
        const QString source = ReportedPath(line, "source");
        const QString status = line["status"].toString();
        if (status == "converted" || status == "skipped") {
            converted.insert(source, line);
        } else {
            converted.remove(source);
        }
    }
    return converted;
}

QString ReportedPath(const QJsonObject& line, const QString& key) {
    const QJsonValue bytes = line[key + "_bytes"];
    if (bytes.isString()) {
        return PathFromNative(QByteArray::fromBase64(bytes.toString().toLatin1()));
    }
    return line[key].toString();
}

bool StillAsRecorded(const QJsonObject& document, bool verify) {
    if (!AsRecorded(document, ReportedPath(document, "source"), verify)) {
        return false;
    }
    const QJsonArray outputs = document["outputs"].toArray();
    return std::all_of(outputs.begin(), outputs.end(), [&](const QJsonValue& output) {
        return AsRecorded(output.toObject(), ReportedPath(output.toObject(), "path"), verify);
    });
}

}  // namespace vellumax
