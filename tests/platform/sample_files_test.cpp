#include "platform/sample_files.h"

#include <gtest/gtest.h>
#include <QDir>

#include "test_support.h"

namespace vellumax {
namespace {

// An installed program keeps its samples in share/, beside bin/; the folder beside the
// program still wins, as in a build tree.
TEST(SampleFolderTest, BesideTheProgramFirstThenTheInstalledShareFolder) {
    const struct {
        QStringList folders;
        QString expected;
    } rows[] = {
        {{"bin/Samples", "share/vellumax/Samples"}, "bin/Samples/"},
        {{"share/vellumax/Samples"}, "share/vellumax/Samples/"},
        {{}, "bin/Samples/"},
    };
    for (const auto& row : rows) {
        QTemporaryDir prefix;
        QDir(prefix.path()).mkpath("bin");
        for (const QString& folder : row.folders) {
            QDir(prefix.path()).mkpath(folder);
        }
        EXPECT_EQ(SampleFolder(prefix.path() + "/bin"), prefix.path() + '/' + row.expected)
            << row.folders.join(", ").toStdString();
    }
}

}  // namespace
}  // namespace vellumax
