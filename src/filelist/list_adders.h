#pragma once

#include <QStringList>
#include <functional>

class QMimeData;

namespace vellumax {

class Dialogs;
class ErrorReport;
class FileList;
struct WalkWatch;

// Appends every file of the folder and of all folders below it, level by level, whose name
// matches the pattern; "~" files and hidden-archive files are left out. The walk is statement
// `walkLine` of the caller's report, the listing of each folder the one after it. Folders the
// walk could not enter are added to `unentered`, when given (see GetSubDirectories2016), and
// the hidden files it passed over to `hidden`.
void AddFolderTree(FileList& list, const QString& folder, const QString& pattern, Dialogs& dialogs,
                   ErrorReport& report, int walkLine, QStringList* unentered = nullptr,
                   QStringList* hidden = nullptr, WalkWatch* watch = nullptr);

// "Add MDI File(s)": the open-file dialog, one file or many.
void AddFilesByDialog(FileList& list, Dialogs& dialogs);

// "Add All MDI File(s) In Folder": every file of a typed extension in a chosen folder tree.
// The pointer is the hourglass while the tree is scanned; `watch`, when given, follows the
// scan, and a scan it stops adds nothing.
void AddAllFilesInFolder(FileList& list, Dialogs& dialogs,
                         const std::function<void(int)>& setMousePointer,
                         WalkWatch* watch = nullptr);

// A drop of files from the desktop: local file addresses, nothing else.
bool IsShellFileDrop(const QMimeData& data);
QStringList DroppedPaths(const QMimeData& data);
// Dropped files are appended as delivered; dropped folders bring every file of their tree.
void AddDroppedPaths(FileList& list, const QStringList& paths, Dialogs& dialogs);

// Files are appended as given; folders bring their tree's files that match the pattern, the
// walk being statement 100 of `report`. A folder that cannot be walked is reported and the
// other paths still come in.
void AddPaths(FileList& list, const QStringList& paths, const QString& pattern, Dialogs& dialogs,
              ErrorReport& report);

// The titles of the open-file dialog and of the folder picker, which the output folder's picker
// shares.
inline constexpr char kOpenFilesTitle[] = "Add File(s) - Hold Ctrl to select multiple files";
inline constexpr char kPickFolderTitle[] = "Please select folder:";

// The selection the open-file dialog can hand over at once, in characters of path text.
inline constexpr qsizetype kOpenFilesCapacity = 1024 * 1024;

}  // namespace vellumax
