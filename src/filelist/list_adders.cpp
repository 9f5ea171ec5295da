#include "filelist/list_adders.h"

#include <QMimeData>
#include <QUrl>

#include "filelist/file_list.h"
#include "platform/dialogs.h"
#include "platform/error_report.h"
#include "platform/event_loop.h"
#include "platform/file_attributes.h"
#include "platform/folder_walk.h"
#include "platform/path_helpers.h"
#include "platform/product.h"
#include "platform/runtime_error.h"
#include "settings/settings_store.h"

namespace vellumax {

namespace {

constexpr char kOpenFilesFilter[] = "MDI Files (*.mdi)";
constexpr char kTooManyFiles[] =
    "You've selected too many files to add.\r\rPlease try adding via the \"Add All\" button.";
constexpr char kExtensionPrompt[] =
    "Enter file extension to load:\r\r(* for all files, txt for all txt files, doc for all doc "
    "files, etc.)";

qsizetype PathTextSize(const QStringList& paths) {
    qsizetype size = 0;
    for (const QString& path : paths) {
        size += path.size() + 1;
    }
    return size;
}

// The folder list of a walk starts with the chosen folder and its separator; the root
// already ends in one, and doubling it would make it a network path.
QString FolderWithSeparator(const QString& folder) {
    return folder.endsWith('/') ? folder : folder + '/';
}

// A file that is hidden and archived and nothing else is a system's bookkeeping, not a
// document.
bool IsHiddenArchive(const QString& path) {
    try {
        return FileAttributes(path) == (kHidden | kArchive);
    } catch (const RuntimeError&) {
        return false;  // vanished since it was listed
    }
}

// Office applications leave "~" files beside open documents.
bool IsDocumentCandidate(const QString& name, const QString& path) {
    return !name.startsWith('~') && IsExistingFile(path) && !IsHiddenArchive(path);
}

void AppendFilesOfFolders(FileList& list, const QStringList& folders, const QString& pattern,
                          ErrorReport& report, int line, QStringList* hidden, WalkWatch* watch) {
    bool stopped = false;
    for (const QString& entry : folders) {
        if (watch != nullptr) {
            YieldToEventLoop();  // where Escape is heard
            stopped = stopped || watch->Stopped();
        }
        if (stopped) {
            return;
        }
        const QString folder = entry.left(entry.size() - 1);
        report.Run(line, [&] {
            for (const QString& name : GetFolderFiles(folder, pattern)) {
                const QString path = NormalizePath(folder + '/' + name);
                if (stopped) {
                    return;
                }
                if (IsDocumentCandidate(name, path)) {
                    list.Append(path);
                    stopped = watch != nullptr && watch->Counted(false);
                } else if (hidden != nullptr && !name.startsWith('~') && IsHiddenArchive(path)) {
                    hidden->append(path);
                }
            }
        });
    }
}

}  // namespace

void AddFolderTree(FileList& list, const QString& folder, const QString& pattern, Dialogs& dialogs,
                   ErrorReport& report, int walkLine, QStringList* unentered, QStringList* hidden,
                   WalkWatch* watch) {
    QStringList folders{FolderWithSeparator(folder)};
    report.Run(walkLine, [&] { GetSubDirectories2016(folders, true, dialogs, unentered, watch); });
    if (watch != nullptr && watch->Stopped()) {
        return;
    }
    AppendFilesOfFolders(list, folders, pattern, report, walkLine + 2, hidden, watch);
}

void AddFilesByDialog(FileList& list, Dialogs& dialogs) {
    ErrorReport report(dialogs, FormLocation("PushButton1_Click"));
    QStringList chosen;
    report.Run(100, [&] { chosen = dialogs.OpenFiles(kOpenFilesTitle, kOpenFilesFilter); });
    if (report.Holds(102, [&] { return chosen.isEmpty(); })) {
        return;
    }
    if (report.Holds(104, [&] { return PathTextSize(chosen) > kOpenFilesCapacity; })) {
        dialogs.ShowMessage(kTooManyFiles, ApplicationTitle(), MessageButtons::Ok,
                            MessageIcon::None);
        return;
    }
    if (report.Holds(106, [&] { return chosen.size() == 1; })) {
        report.Run(108, [&] { list.Append(chosen.first()); });
        return;
    }
    for (const QString& path : chosen) {
        // Qt hands over full paths, the dialog's folder joined with each name already.
        report.Run(110, [&] { list.Append(NormalizePath(path)); });
    }
}

void AddAllFilesInFolder(FileList& list, Dialogs& dialogs,
                         const std::function<void(int)>& setMousePointer, WalkWatch* watch) {
    ErrorReport report(dialogs, FormLocation("PushButton4_Click"));
    QString extension;
    report.Run(100,
               [&] { extension = dialogs.InputBox(kExtensionPrompt, ApplicationTitle(), "mdi"); });
    if (report.Holds(102, [&] { return extension.isEmpty(); })) {
        return;
    }
    QString lastFolder;
    QString chosen;
    report.Run(104, [&] { lastFolder = ReadSetting("LastFolder", ""); });
    report.Run(106, [&] { chosen = dialogs.PickFolder(kPickFolderTitle, lastFolder); });
    if (report.Holds(108, [&] { return chosen.isEmpty(); })) {
        return;
    }
    report.Run(110, [&] { WriteSetting("LastFolder", chosen); });
    report.Run(112, [&] { setMousePointer(11); });
    const int before = list.Count();
    AddFolderTree(list, chosen, "*." + extension, dialogs, report, 114, nullptr, nullptr, watch);
    // A scan stopped halfway would leave a list that looks complete and is not.
    if (watch != nullptr && watch->Stopped()) {
        while (list.Count() > before) {
            list.Remove(list.Count());
        }
    }
    report.Run(118, [&] { setMousePointer(0); });
}

bool IsShellFileDrop(const QMimeData& data) {
    return !DroppedPaths(data).isEmpty();
}

QStringList DroppedPaths(const QMimeData& data) {
    QStringList paths;
    for (const QUrl& url : data.urls()) {
        if (url.isLocalFile()) {
            paths.append(url.toLocalFile());
        }
    }
    return paths;
}

void AddDroppedPaths(FileList& list, const QStringList& paths, Dialogs& dialogs) {
    // A drop has no trap of its own in the original design; an error here is reported rather
    // than allowed to end the program, and what was appended stays.
    ErrorReport report(dialogs, FormLocation("ListView1_OLEDragDrop"));
    AddPaths(list, paths, "*.*", dialogs, report);
}

void AddPaths(FileList& list, const QStringList& paths, const QString& pattern, Dialogs& dialogs,
              ErrorReport& report) {
    for (const QString& path : paths) {
        if (!(PathExists(path) && IsFolder(path))) {
            list.Append(path);
            continue;
        }
        AddFolderTree(list, path, pattern, dialogs, report, 100);
    }
}

}  // namespace vellumax
