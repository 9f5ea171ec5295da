#pragma once

#include <QString>

namespace vellumax {

// The Samples folder beside the program, or else the one of an installed program,
// ../share/vellumax/Samples from the program's folder; the first when neither exists.
QString SampleFolder(const QString& programFolder);

}  // namespace vellumax
