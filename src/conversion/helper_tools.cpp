#include "conversion/helper_tools.h"

#include <sys/stat.h>
#include <unistd.h>
#include <QFile>
#include <cerrno>
#include <optional>

#include "platform/error_report.h"
#include "platform/event_loop.h"
#include "platform/path_helpers.h"
#include "platform/runtime_error.h"
#include "platform/shell_start.h"

namespace vellumax {

namespace {

QString InFolder(const QString& workFolder, const QString& name) {
    return workFolder + '/' + name;
}

QByteArray EmbeddedTool(int id) {
    QFile resource(":/CUSTOM/" + QString::number(id));
    if (!resource.open(QIODevice::ReadOnly)) {
        throw RuntimeError(326, "Resource with this identifier not found");
    }
    return resource.readAll();
}

void MakeExecutable(const QString& path) {
    if (::chmod(NativePath(path).constData(), S_IRWXU) != 0) {
        throw ErrorFromErrno(errno, FileAccess::Write);
    }
}

}  // namespace

QString ShellQuoted(const QString& text) {
    QString quoted = text;
    quoted.replace('\'', "'\\''");
    return '\'' + quoted + '\'';
}

void ExtractEmbeddedTools(const QString& workFolder, ErrorReport& report) {
    QByteArray converter;
    const QString target = InFolder(workFolder, kConverterName);
    report.Run(112, [&] { converter = EmbeddedTool(101); });
    // Megabytes to write: off the window's thread, which goes on answering.
    report.Run(114, [&] {
        RunAside([&] {
            WriteBytesIfMissing(converter, target);
            MakeExecutable(target);
        });
    });
}

ConverterOutcome RunConverterBatch(const QString& toolFolder, const QString& workFolder,
                                   const QString& tiffPath, int quality, const QString& format,
                                   ErrorReport& report, const std::atomic<bool>& cancelled,
                                   std::chrono::milliseconds limit) {
    const QString marker = InFolder(workFolder, kMarkerName);
    const QString batch = InFolder(workFolder, kBatchName);
    QString command;
    QString arguments;
    QString batchText;
    report.Run(170, [&] { WriteTextFile("Vellumax", marker); });
    report.Run(172, [&] { command = ShellQuoted(InFolder(toolFolder, kConverterName)); });
    report.Run(174, [&] {
        arguments = " -xall -q " + QString::number(quality) + " -out " + format + " " +
                    ShellQuoted(tiffPath);
    });
    // The second line keeps the converter's status for the run to report, then clears the
    // marker whatever the converter did.
    report.Run(176, [&] {
        batchText = command + arguments + "\n" + "status=$?; rm -f " + ShellQuoted(marker) +
                    "; exit $status";
    });
    report.Run(178, [&] { WriteTextFile(batchText, batch); });

    ConverterOutcome outcome;
    report.Run(180, [&] {
        std::optional<ShellFailure> failure;
        const ProcessOutcome run =
            ShellRunAndWait(batch, 0, workFolder, failure, limit, &cancelled);
        outcome.exitStatus = run.result;
        outcome.reason = run.killedAfterLimit
                             ? "stopped after " + std::to_string(limit.count() / 60000) + " minutes"
                             : run.lastErrorLine.toStdString();
        if (failure) {
            outcome.reason = failure->description.toStdString();
        }
    });
    // The batch deletes the marker as its last act; a marker still there means it never got
    // that far (it could not start, or it was stopped).
    report.Run(182, [&] { outcome.finished = !PathExists(marker); });
    return outcome;
}

void RemoveEmbeddedTools(const QString& workFolder, ErrorReport& report) {
    const char* const names[] = {kConverterName, "jpeg62.dll", "libtiff3.dll",
                                 "zlib1.dll",    kBatchName,   "tiffsplit.bat"};
    int line = 206;
    for (const char* name : names) {
        report.Run(line, [&] { DeleteFileQuietly(InFolder(workFolder, name)); });
        line += 2;
    }
}

}  // namespace vellumax
