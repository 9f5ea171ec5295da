#pragma once

#include <QStringList>

namespace vellumax {

class Dialogs;
class FileList;

// True when the arguments (without the program name) open the window: none at all, or only
// documents and folders, as a file manager's "Open with" hands them over. Anything that looks
// like an option goes to the command line, which explains what it does not know.
bool OpensWindow(const QStringList& arguments);

// The documents the window starts with: files are appended as given, folders bring the files
// of their tree with the extension "Add All MDI File(s) In Folder" proposes.
void AddStartPaths(FileList& list, const QStringList& paths, Dialogs& dialogs);

}  // namespace vellumax
