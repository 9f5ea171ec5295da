#include "filelist/start_paths.h"

#include "filelist/list_adders.h"
#include "platform/error_report.h"
#include "platform/path_helpers.h"

namespace vellumax {

namespace {

// "Add All" asks for the extension each time and keeps no answer; its proposal is this one.
constexpr char kFolderExtension[] = "mdi";

}  // namespace

bool OpensWindow(const QStringList& arguments) {
    for (const QString& argument : arguments) {
        if (argument.startsWith('-')) {
            return false;
        }
    }
    return true;
}

void AddStartPaths(FileList& list, const QStringList& paths, Dialogs& dialogs) {
    // A folder that cannot be walked is reported and the others still come in, as with a drop.
    ErrorReport report(dialogs, FormLocation("Form_Load"));
    // Made absolute as the dialogs give them: the list's entries name files wherever the
    // program's current folder is.
    QStringList absolute;
    for (const QString& path : paths) {
        absolute << AbsolutePath(path);
    }
    AddPaths(list, absolute, QString("*.") + kFolderExtension, dialogs, report);
}

}  // namespace vellumax
