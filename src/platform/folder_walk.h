#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>

#include "platform/dialogs.h"

namespace vellumax {

// A folder path, or a subfolder name, this long or longer is not walked into: the limit of
// the paths the rest of the program and its helper tools were built for.
inline constexpr qsizetype kMaxPathLength = 260;

// Follows a long walk: told how many folders it has searched and files it has found as the
// counts grow, and asked at every folder and file whether to stop.
struct WalkWatch {
    std::function<void(int folders, int files)> progress;
    std::function<bool()> stopRequested;
    int folders = 0;
    int files = 0;

    // Counts one more folder or file, tells the counts, and says whether to stop now.
    bool Counted(bool folder);
    bool Stopped() const { return stopRequested && stopRequested(); }
};

// Extends `folders` (each ending in "/") in place with the folders below them, level by
// level: the direct children only, or every level when `recurse` is set. Starting folders
// that are missing stay, unentered; a folder whose listing is refused or has vanished is
// dropped. Subfolders come in FileManagerLess order. Yields to the event loop as it goes;
// unexpected failures are shown in the standard error report through `dialogs`. Folders that
// could not be listed, and subfolders passed over for their names, are added to `unentered`
// as "<path>: <reason>" when it is given. A `watch` that asks to stop ends the walk at the next
// folder, with what it found so far.
void GetSubDirectories2016(QStringList& folders, bool recurse, Dialogs& dialogs,
                           QStringList* unentered = nullptr, WalkWatch* watch = nullptr);

// The names (no folder part) of the files in `folder` (with or without the final "/") that
// match the wildcard `pattern`, in FileManagerLess order; only names that pass
// IsExistingFile. Hidden files are included, folders never. A missing folder gives the empty
// list; any other failure to list it throws RuntimeError.
QStringList GetFolderFiles(const QString& folder, const QString& pattern);

// True for a regular file (links followed) that can be opened for reading; false for
// folders, other kinds of entry, missing paths and refused opens. Never throws.
bool IsExistingFile(const QString& path);

// True when the name has a character that the ANSI code page (Windows-1252 here) cannot
// represent, a control character, or "?". The helper tools see names through that code page.
bool HasUnsafeChars(const QString& name);
// The same for a name as the file system gives it: bytes that are not valid UTF-8 cannot be
// passed on by name at all, so they count as unsafe too.
bool HasUnsafeChars(const QByteArray& nativeName);

// Whether the walk lists a subfolder of this name: not "." or "..", shorter than
// kMaxPathLength characters, and free of unsafe characters.
bool IsWalkableSubfolderName(const QByteArray& nativeName);

// "*" and "?" wildcards, case-insensitive. As on Windows, a pattern ending in ".*" also
// matches names without that extension, so "*.*" matches every name.
bool MatchesWildcard(const QString& name, const QString& pattern);

// The order of a file manager: case-insensitive, runs of digits compared by their value
// ("page2" before "page10"); names that still compare equal are ordered by their bytes.
bool FileManagerLess(const QString& a, const QString& b);

}  // namespace vellumax
