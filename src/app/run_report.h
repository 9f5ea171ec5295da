#pragma once

#include <QFile>
#include <QHash>
#include <QJsonObject>
#include <QString>
#include <memory>

namespace vellumax {

struct DocumentOutcome;

// A report of a command-line run, one JSON object a line: a "start" line with the version,
// the options and the time, a "document" line as each document ends, and an "end" line with
// the totals. Each line reaches the system as soon as it is written, so a run killed outright
// leaves every line it finished.
class RunReport {
public:
    // Opens the report, appending to what is there or replacing it; nothing when it cannot be
    // written, with the system's reason in `error`.
    static std::unique_ptr<RunReport> Open(const QString& path, bool append, QString& error);

    void Start(const QJsonObject& options);
    // A document the run converted, failed on or was stopped in; its source and outputs are
    // hashed now.
    void Finished(const DocumentOutcome& outcome);
    // A document an earlier run converted and that is still as it left it.
    void Skipped(const QJsonObject& earlier);
    void End(bool stopped);

    // Why a line could not be written, "" while all went well.
    const QString& trouble() const { return trouble_; }

private:
    explicit RunReport(const QString& path) : file_(path) {}
    void Write(QJsonObject line);

    QFile file_;
    int converted_ = 0;
    int failed_ = 0;
    int skipped_ = 0;
    int stopped_ = 0;
    QString trouble_;
};

// The document lines of an earlier report whose last word on their source is that it was
// converted (or skipped as converted before), by absolute source path. Lines that do not parse,
// such as the last one of a run killed while writing it, are passed over; a report that is not
// there lists nothing.
QHash<QString, QJsonObject> ConvertedDocuments(const QString& reportPath);

// True when the recorded source and every recorded output still have their sizes and hashes.
bool StillAsRecorded(const QJsonObject& document);

}  // namespace vellumax
