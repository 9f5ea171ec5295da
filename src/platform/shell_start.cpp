#include "platform/shell_start.h"

#include <sys/prctl.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <atomic>
#include <csignal>
#include <iterator>
#include <memory>

#include "platform/event_loop.h"
#include "platform/path_helpers.h"

namespace vellumax {

namespace {

constexpr qint32 kApplicationErrorBase = -2147220456;  // 0x80040418
constexpr qint32 kRunFailureOffset = -2147221504;      // 0x80040000
constexpr int kNormal = 1;
constexpr int kHidden = 0;

struct Row {
    int code;
    qint32 number;  // 0: the default number for the code
    const char* description;
};

constexpr Row kFailureTable[] = {
    {0, 7, "Out of memory"},
    {2, 53, "File not found"},
    {3, 76, "Path not found"},
    {5, 75, "Path/file access error"},
    {8, 7, "Out of memory"},
    {11, 0, "The executable file is invalid or corrupt"},
    {26, 75, "A sharing violation occurred."},
    {27, 0, "This file type does not have a valid file association."},
    {28, 286, "The file could not be opened due to time out. Please try again in a moment."},
    {29, 285,
     "The file could not be opened because the DDE transaction failed. Please try again in a "
     "moment."},
    {30, 285,
     "The file could not be opened because the target application is busy. Please try again in "
     "a moment."},
    {31, 0, "No application is associated with this file type."},
    {32, 48, "The specified dynamic-link library was not found."},
};

QString FailureSource() {
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName() + ".GShell";
}

bool IsScript(const QString& file) {
    return file.endsWith(".bat", Qt::CaseInsensitive) || file.endsWith(".sh", Qt::CaseInsensitive);
}

// What starting `file` would fail with, checked before anything runs: the reasons the
// shell's codes name, read off the file system.
int ResultCodeBeforeStart(const QString& file, const QString& workingFolder) {
    if (!workingFolder.isEmpty() && !IsFolder(workingFolder)) {
        return 3;
    }
    if (!PathExists(file)) {
        return IsFolder(FolderOf(file)) || FolderOf(file).isEmpty() ? 2 : 3;
    }
    const QByteArray native = QFile::encodeName(file);
    if (IsScript(file)) {
        return ::access(native.constData(), R_OK) == 0 ? kShellStarted : 5;
    }
    if (!IsFolder(file) && QFileInfo(file).isExecutable()) {
        return ::access(native.constData(), X_OK) == 0 ? kShellStarted : 5;
    }
    return QStandardPaths::findExecutable("xdg-open").isEmpty() ? 31 : kShellStarted;
}

struct Launch {
    QString program;
    QStringList arguments;
};

Launch LaunchFor(const QString& file, const QString& parameters) {
    if (IsScript(file)) {
        return {"/bin/sh", {file}};
    }
    if (!IsFolder(file) && QFileInfo(file).isExecutable()) {
        return {file, QProcess::splitCommand(parameters)};
    }
    return {"xdg-open", {file}};
}

// The number a failed run returns: the failure's number plus 0x80040000, wrapping as 32-bit
// arithmetic does for the numbers that carry that base already.
qint32 RunFailureResult(qint32 number) {
    return static_cast<qint32>(static_cast<quint32>(number) +
                               static_cast<quint32>(kRunFailureOffset));
}

// The process groups of the processes being waited for, 0 in a free place. A run waits for
// one per worker; the places are taken and read without locks, as a signal handler reads them.
std::atomic<pid_t> waitedGroups[64];
static_assert(std::atomic<pid_t>::is_always_lock_free);
// Set once the program has been told to end: a process started after that is killed at once.
std::atomic<bool> killRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

// Records `group` as waited for; returns its place, or -1 when every place is taken (the
// group then dies only with us).
int HoldWaitedGroup(pid_t group) {
    for (int place = 0; place < int(std::size(waitedGroups)); ++place) {
        pid_t free = 0;
        if (waitedGroups[place].compare_exchange_strong(free, group)) {
            return place;
        }
    }
    return -1;
}

int Fail(int code, std::optional<ShellFailure>& failure) {
    failure = ShellFailureFor(code);
    return code;
}

}  // namespace

ShellFailure ShellFailureFor(int resultCode) {
    for (const Row& row : kFailureTable) {
        if (row.code == resultCode) {
            const qint32 number = row.number != 0 ? row.number : kApplicationErrorBase + resultCode;
            return {number, FailureSource(), row.description};
        }
    }
    return {kApplicationErrorBase + resultCode, FailureSource(),
            "An error occurred occurred whilst trying to open or print the selected file."};
}

int EffectiveShowCommand(const QString& file, int showCommand, const QString& parameters,
                         const QString& workingFolder) {
    if (parameters.isEmpty() && workingFolder.isEmpty()) {
        return kNormal;
    }
    return file.toUpper().contains(".EXE") ? kHidden : showCommand;
}

int ShellOpenFile(const QString& file, int /*showCommand*/, const QString& parameters,
                  const QString& workingFolder, const QString& /*verb*/,
                  std::optional<ShellFailure>& failure) {
    // Windows and show commands do not exist for these processes; nothing here has a
    // window of its own but what the desktop's opener shows.
    const int code = ResultCodeBeforeStart(file, workingFolder);
    if (code <= 32) {
        return Fail(code, failure);
    }
    const Launch launch = LaunchFor(file, parameters);
    if (!QProcess::startDetached(launch.program, launch.arguments, workingFolder)) {
        return Fail(launch.program == "xdg-open" ? 31 : 11, failure);
    }
    return code;
}

ProcessOutcome ShellRunAndWait(const QString& file, int /*showCommand*/,
                               const QString& workingFolder, std::optional<ShellFailure>& failure,
                               std::chrono::milliseconds limit,
                               const std::atomic<bool>* cancelled) {
    failure.reset();
    const int code = ResultCodeBeforeStart(file, workingFolder);
    if (code <= 32) {
        Fail(code, failure);
        return {RunFailureResult(failure->number), {}, false};
    }
    const Launch launch = LaunchFor(file, {});
    QProcess process;
    process.setWorkingDirectory(workingFolder);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.setStandardOutputFile(QProcess::nullDevice());
    // A process group of its own: Ctrl-C in a terminal is meant for us, and we decide when
    // to stop; a half-converted document would otherwise be the result.
    // It also dies with us, so that no converter runs on, unbounded, after we were killed.
    process.setChildProcessModifier([] {
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    });
    process.start(launch.program, launch.arguments);
    if (!process.waitForStarted()) {
        Fail(11, failure);
        return {RunFailureResult(failure->number), {}, false};
    }
    const int place = HoldWaitedGroup(static_cast<pid_t>(process.processId()));
    if (killRequested) {
        KillWaitedProcess();
    }
    ProcessOutcome outcome;
    QElapsedTimer clock;
    clock.start();
    // Wakes as soon as the process ends, so a short job does not pay a fixed delay.
    while (process.state() != QProcess::NotRunning && !process.waitForFinished(100)) {
        YieldToEventLoop();
        const bool overLimit = clock.elapsed() > limit.count();
        if (overLimit || (cancelled != nullptr && *cancelled)) {
            // The whole group: a script's own children must not outlive it.
            ::kill(-static_cast<pid_t>(process.processId()), SIGKILL);
            process.waitForFinished(-1);
            outcome.killedAfterLimit = overLimit;
            break;
        }
    }
    if (place >= 0) {
        waitedGroups[place] = 0;
    }
    const QStringList errorLines =
        QString::fromLocal8Bit(process.readAllStandardError()).split('\n', Qt::SkipEmptyParts);
    outcome.lastErrorLine = errorLines.isEmpty() ? QString() : errorLines.last().trimmed();
    outcome.result = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return outcome;
}

void KillWaitedProcess() noexcept {
    killRequested = true;
    for (const std::atomic<pid_t>& waited : waitedGroups) {
        if (const pid_t group = waited; group > 0) {
            ::kill(-group, SIGKILL);
        }
    }
}

}  // namespace vellumax
