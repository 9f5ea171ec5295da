#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QString>
#include <memory>
#include <optional>

#include "platform/file_descriptor.h"
#include "platform/file_identity.h"

namespace vellumax {

struct DocumentOutcome;

// A report of a command-line run, one JSON object a line: a "start" line with the version,
// the options and the time, a "document" line as each document ends, and an "end" line with
// the totals. Each line is on the disk before the next document counts, so a run killed
// outright, or a machine that loses its power, leaves every line it finished.
class RunReport {
public:
    // Opens the report at `path` (never through a link at its name) and locks it for the run's
    // life; a report that another run holds is refused. With `resumePath`, the earlier report
    // is read and held against writers too; when it is the report's own file, by whatever
    // name, the report is added to, else it is written afresh. Nothing when either cannot be
    // had, with the whole reason in `error`.
    static std::unique_ptr<RunReport> Open(const QString& path, const QString& resumePath,
                                           QString& error);

    // The earlier report, as it was read at the start; empty without one.
    const QByteArray& earlier() const { return earlier_; }
    // Whether `path` names the report or the report resumed.
    bool IsOwnFile(const QString& path) const;

    void Start(const QJsonObject& options);
    // A document the run converted, failed on or was stopped in; its source and outputs are
    // hashed now.
    void Finished(const DocumentOutcome& outcome);
    // A document an earlier run converted and that is still as it left it: counted in the end
    // line, and given a line of its own when `listed`.
    void Skipped(const QJsonObject& earlier, bool listed);
    void End(bool stopped);

    // Why a line could not be written, "" while all went well.
    const QString& trouble() const { return trouble_; }

private:
    RunReport() = default;
    void Write(QJsonObject line);

    FileDescriptor file_;
    FileDescriptor resumed_;  // held while the run lasts, when it is another file
    std::optional<FileIdentity> fileIdentity_;
    std::optional<FileIdentity> resumedIdentity_;
    QByteArray earlier_;
    QJsonObject options_;
    int converted_ = 0;
    int failed_ = 0;
    int skipped_ = 0;
    int stopped_ = 0;
    QString trouble_;
};

// The document lines of an earlier report whose last word on their source is that it was
// converted (or skipped as converted before), by absolute source path, each with the format and
// quality its pages were written in. Lines that do not parse,
// such as the last one of a run killed while writing it, are passed over.
QHash<QString, QJsonObject> ConvertedDocuments(const QByteArray& report);

// Every file an earlier report lists as written, by absolute path, with the source it was
// written for, as its last line on that file says.
QHash<QString, QString> RecordedOutputs(const QByteArray& report);

// The path a report line names under `key`, exactly as the system gave it: names that are not
// UTF-8 are kept in a second field, `key` + "_bytes", in base64.
QString ReportedPath(const QJsonObject& line, const QString& key);

// True when the recorded source and every recorded output are still as recorded: the same size
// and modification time, or else the same size and SHA-256; with `verify`, the same size and
// SHA-256 whatever their times.
bool StillAsRecorded(const QJsonObject& document, bool verify);

}  // namespace vellumax
