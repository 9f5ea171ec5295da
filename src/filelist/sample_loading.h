#pragma once

#include <QString>

namespace vellumax {

class Dialogs;
class FileList;

// "Load Sample/Example Files": adds the documents of the sample folder,
// each once, then offers to open that folder.
void LoadSampleFiles(FileList& list, const QString& programFolder, Dialogs& dialogs);

}  // namespace vellumax
