#include "platform/sample_files.h"

#include <QDir>

#include "platform/path_helpers.h"

namespace vellumax {

QString SampleFolder(const QString& programFolder) {
    const QString beside = programFolder + "/Samples/";
    // An installed program lives in bin/, its samples in share/ beside it.
    const QString installed = QDir::cleanPath(programFolder + "/../share/vellumax/Samples") + '/';
    return !IsFolder(beside) && IsFolder(installed) ? installed : beside;
}

}  // namespace vellumax
