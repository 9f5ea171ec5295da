#pragma once

#include <QString>
#include <QtGlobal>
#include <atomic>
#include <chrono>
#include <optional>

namespace vellumax {

// Why a start failed: a run-time style number, the source ("<program>.GShell") and a text.
struct ShellFailure {
    qint32 number;
    QString source;
    QString description;
};

// The shell's result codes: above 32 is success, 0 to 32 name the failure.
inline constexpr int kShellStarted = 42;

// The failure a shell result code stands for.
ShellFailure ShellFailureFor(int resultCode);

// The show command a start uses: hidden for programs with ".EXE" in their name, and shown
// normally when neither parameters nor a working folder are given.
int EffectiveShowCommand(const QString& file, int showCommand, const QString& parameters,
                         const QString& workingFolder);

// Starts a file without waiting: a script ("*.bat", "*.sh") through /bin/sh, a program
// directly, anything else (a folder, a document, a web address) through the desktop's
// opener. Returns the result code; a failed start also sets `failure`.
int ShellOpenFile(const QString& file, int showCommand, const QString& parameters,
                  const QString& workingFolder, const QString& verb,
                  std::optional<ShellFailure>& failure);

struct ProcessOutcome {
    qint32 result = 0;      // the exit code, or the failure number + 0x80040000
    QString lastErrorLine;  // the last line the process wrote to its error output
    bool killedAfterLimit = false;
};

// Starts a script or program and waits for it, yielding to the event loop between polls.
// A process still running after `limit` is killed, and so is one whose starter ends first, and
// one whose `cancelled` flag is set (at the next poll).
ProcessOutcome ShellRunAndWait(const QString& file, int showCommand, const QString& workingFolder,
                               std::optional<ShellFailure>& failure,
                               std::chrono::milliseconds limit = std::chrono::hours(24 * 365),
                               const std::atomic<bool>* cancelled = nullptr);

// Kills the scripts and programs that ShellRunAndWait is waiting for on any thread, with
// everything they started, and any started later; the waits then return. Safe to call from a
// signal handler.
void KillWaitedProcess() noexcept;

}  // namespace vellumax
