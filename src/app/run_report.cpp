#include "app/run_report.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>

#include "app/document_selection.h"
#include "conversion/conversion_run.h"
#include "platform/build_config.h"

namespace vellumax {

namespace {

QString Now() {
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
}

// The file's absolute path, size and SHA-256; size and hash are null when it cannot be read.
// The hash is taken in blocks, so a document of gigabytes is never in memory at once.
QJsonObject FileFacts(const QString& path) {
    QJsonObject facts{
        {"path", AbsolutePath(path)}, {"size", QJsonValue()}, {"sha256", QJsonValue()}};
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (file.open(QIODevice::ReadOnly) && hash.addData(&file)) {
        facts["size"] = file.size();
        facts["sha256"] = QString::fromLatin1(hash.result().toHex());
    }
    return facts;
}

// A document line with the source as it is now.
QJsonObject DocumentLine(const QString& source, const QString& status) {
    QJsonObject facts = FileFacts(source);
    return QJsonObject{{"type", "document"},
                       {"source", facts["path"]},
                       {"size", facts["size"]},
                       {"sha256", facts["sha256"]},
                       {"status", status}};
}

}  // namespace

std::unique_ptr<RunReport> RunReport::Open(const QString& path, bool append, QString& error) {
    std::unique_ptr<RunReport> report(new RunReport(path));
    const auto mode = QIODevice::ReadWrite | QIODevice::Unbuffered |
                      (append ? QIODevice::Append : QIODevice::Truncate);
    if (!report->file_.open(mode)) {
        error = report->file_.errorString();
        return nullptr;
    }
    // A run killed while writing may have left half a line: ours start on a line of their own.
    if (report->file_.size() > 0 && report->file_.seek(report->file_.size() - 1) &&
        report->file_.read(1) != "\n") {
        report->file_.write("\n");
    }
    return report;
}

void RunReport::Start(const QJsonObject& options) {
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
    QJsonArray outputs;
    for (const QString& output : outcome.outputs) {
        outputs << FileFacts(output);
    }
    line["outputs"] = outputs;
    ++(status == "converted" ? converted_ : status == "failed" ? failed_ : stopped_);
    Write(line);
}

void RunReport::Skipped(const QJsonObject& earlier) {
    QJsonObject line = earlier;
    line["status"] = "skipped";
    ++skipped_;
    Write(line);
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
    // One write for the whole line: the file is unbuffered, so it is with the system at once.
    if (file_.write(bytes) != bytes.size() && trouble_.isEmpty()) {
        trouble_ = file_.errorString();
    }
}

QHash<QString, QJsonObject> ConvertedDocuments(const QString& reportPath) {
    QHash<QString, QJsonObject> converted;
    QFile report(reportPath);
    if (!report.open(QIODevice::ReadOnly)) {
        return converted;
    }
    while (!report.atEnd()) {
        const QJsonObject line = QJsonDocument::fromJson(report.readLine()).object();
        if (line["type"] != "document" || !line["source"].isString()) {
            continue;
        }
        const QString status = line["status"].toString();
        if (status == "converted" || status == "skipped") {
            converted.insert(line["source"].toString(), line);
        } else {
            converted.remove(line["source"].toString());
        }
    }
    return converted;
}

bool StillAsRecorded(const QJsonObject& document) {
    const auto same = [](const QJsonObject& recorded, const QString& path) {
        const QJsonObject now = FileFacts(path);
        return !now["sha256"].isNull() && now["size"] == recorded["size"] &&
               now["sha256"] == recorded["sha256"];
    };
    if (!same(document, document["source"].toString())) {
        return false;
    }
    const QJsonArray outputs = document["outputs"].toArray();
    return std::all_of(outputs.begin(), outputs.end(), [&](const QJsonValue& output) {
        return same(output.toObject(), output["path"].toString());
    });
}

}  // namespace vellumax
