#pragma once

#include <QString>
#include <QStringList>
#include <variant>

#include "app/document_selection.h"
#include "conversion/output_format.h"

class QTextStream;

namespace vellumax {

// vellumax --convert [--format F] [--quality N] [--out DIR [--tree] | --beside-source]
//                   [--ext EXT] [--files-from FILE [--null]] [--shard K/N]
//                   [--report FILE] [--resume FILE [--verify]] [PATH...]
struct ConvertCommand {
    OutputFormat format = kJpegFormat;
    int quality = 85;
    QString outputFolder;  // empty: next to each source
    bool tree = false;     // keep the folders below each PATH under the output folder
    QString extension = "mdi";
    QStringList paths;
    QString filesFrom;          // more paths, one a line; "-" for standard input
    bool nulSeparated = false;  // ... each ended by a NUL instead
    Shard shard;
    QString reportFile;   // empty: no report
    QString resumeFile;   // empty: convert everything
    bool verify = false;  // resuming, hash every file rather than trust unchanged sizes and times
};
struct HelpCommand {};
struct VersionCommand {};
struct UsageError {
    QString message;
};
using Command = std::variant<ConvertCommand, HelpCommand, VersionCommand, UsageError>;

Command ParseCommandLine(const QStringList& arguments);  // arguments without the program name

QString UsageText();

// Exit statuses of the command line.
enum ExitStatus : int {
    kAllConverted = 0,
    kSomeFailed = 1,
    kUsageOrRefused = 2,
    kInterrupted = 130,  // Ctrl-C; other stop signals give 128 + their number
};

// Runs the command; progress and errors go to `errors`, the closing report to `output`.
int RunCommandLine(const QStringList& arguments, QTextStream& output, QTextStream& errors,
                   bool errorsToTerminal);

// Ctrl-C, SIGTERM and SIGHUP ask the running conversion to stop after its current document (the
// work started ahead on later ones ends at once); a second one also ends its converter at once.
void InstallInterruptHandler();

}  // namespace vellumax
