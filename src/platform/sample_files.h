#pragma once

#include <QString>

namespace vellumax {

class Dialogs;
class FileList;

// The Samples folder beside the program, or else the one of an installed program,
// ../share/vellumax/Samples from the program's folder; the first when neither exists.
QString SampleFolder(const QString& programFolder);

// "Load Sample/Example Files": adds the documents of the sample folder,
// each once, then offers to open that folder.
void LoadSampleFiles(FileList& list, const QString& programFolder, Dialogs& dialogs);

}  // namespace vellumax
