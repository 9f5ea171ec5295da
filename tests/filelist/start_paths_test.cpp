#include "filelist/start_paths.h"

#include <gtest/gtest.h>
#include <QDir>

#include "filelist/file_list.h"
#include "scripted_dialogs.h"
#include "test_support.h"

namespace vellumax {
namespace {

using testing::MakeFile;
using testing::ScriptedDialogs;
using testing::Texts;

TEST(StartPathsTest, OnlyArgumentsWithoutOptionsOpenTheWindow) {
    const struct {
        QStringList arguments;
        bool window;
    } rows[] = {
        {{}, true},
        {{"/home/ann/scan.mdi", "relative folder"}, true},
        {{"--convert", "/home/ann/scan.mdi"}, false},
        {{"-h"}, false},
        {{"/home/ann/scan.mdi", "--bogus"}, false},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(OpensWindow(row.arguments), row.window) << row.arguments.join(' ').toStdString();
    }
}

TEST(StartPathsTest, FilesComeAsGivenAndFoldersBringTheirTreesMdiFiles) {
    QTemporaryDir root;
    const QString folder = root.path() + "/archive";
    MakeFile(folder + "/a.mdi");
    MakeFile(folder + "/notes.txt");
    MakeFile(folder + "/scan.tif");
    MakeFile(folder + "/1998/b.mdi");
    ScriptedDialogs dialogs;
    FileList list;
    AddStartPaths(list, {root.path() + "//given.tif", folder, "missing.mdi"}, dialogs);
    EXPECT_EQ(Texts(list),
              QStringList({root.path() + "/given.tif", folder + "/a.mdi", folder + "/1998/b.mdi",
                           QDir::currentPath() + "/missing.mdi"}));
    EXPECT_TRUE(dialogs.messages().empty());
}

}  // namespace
}  // namespace vellumax
