#include "filelist/list_adders.h"
#include "platform/folder_walk.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <QDir>
#include <QFile>
#include <QMimeData>
#include <QUrl>

#include "filelist/file_list.h"
#include "scripted_dialogs.h"
#include "test_support.h"

namespace vellumax {
namespace {

using testing::DialogKind;
using testing::MakeFile;
using testing::ScriptedDialogs;
using testing::TemporaryConfig;
using testing::Texts;

class AdderTest : public ::testing::Test {
protected:
    QString Path(const QString& relative) const { return root.path() + '/' + relative; }
    void MakeReadOnly(const QString& relative) {
        ASSERT_EQ(::chmod(QFile::encodeName(Path(relative)).constData(), 0444), 0);
    }

    TemporaryConfig config;
    ScriptedDialogs dialogs;
    QTemporaryDir root;
    FileList list;
};

TEST_F(AdderTest, CancellingTheOpenFileDialogChangesNothing) {
    dialogs.AnswerFiles({});
    AddFilesByDialog(list, dialogs);
    EXPECT_EQ(list.Count(), 0);
    ASSERT_EQ(dialogs.requests().size(), 1u);
    EXPECT_EQ(dialogs.requests()[0].title, "Add File(s) - Hold Ctrl to select multiple files");
    EXPECT_EQ(dialogs.requests()[0].detail, "MDI Files (*.mdi)");
}

TEST_F(AdderTest, OneChosenFileIsAppendedExactlyAsTheDialogReturnedIt) {
    dialogs.AnswerFiles({"/in//odd name.txt"});
    AddFilesByDialog(list, dialogs);
    dialogs.AnswerFiles({"/in//odd name.txt"});
    AddFilesByDialog(list, dialogs);
    EXPECT_EQ(Texts(list), QStringList({"/in//odd name.txt", "/in//odd name.txt"}));
}

TEST_F(AdderTest, SeveralChosenFilesAreAppendedInTheDialogsOrder) {
    dialogs.AnswerFiles({"/b.mdi", "/a.mdi"});
    AddFilesByDialog(list, dialogs);
    dialogs.AnswerFiles({"/in/x.mdi", "/in/missing.mdi"});
    AddFilesByDialog(list, dialogs);
    EXPECT_EQ(Texts(list), QStringList({"/b.mdi", "/a.mdi", "/in/x.mdi", "/in/missing.mdi"}));
    EXPECT_TRUE(dialogs.messages().empty());
}

TEST_F(AdderTest, ASelectionTooLargeIsRefusedAsAWhole) {
    QStringList many;
    const QString longPath = "/" + QString(4000, 'x') + ".mdi";
    while (many.size() * (longPath.size() + 1) <= kOpenFilesCapacity) {
        many << longPath;
    }
    dialogs.AnswerFiles(many);
    dialogs.AnswerMessage(MessageAnswer::Ok);
    AddFilesByDialog(list, dialogs);
    EXPECT_EQ(list.Count(), 0);
    ASSERT_EQ(dialogs.messages().size(), 1u);
    EXPECT_EQ(dialogs.messages()[0].text,
              "You've selected too many files to add.\r\rPlease try adding via the \"Add All\" "
              "button.");
    EXPECT_EQ(dialogs.messages()[0].title, "Vellumax");
    EXPECT_EQ(dialogs.messages()[0].icon, MessageIcon::None);
}

class AddAllTest : public AdderTest {
protected:
    void SetUp() override {
        for (const char* file : {"a.mdi", "B.MDI", "~$note.mdi", "a~b.mdi", ".hidden.mdi",
                                 ".kept.mdi", "notes.txt", "x..mdi", "page10.mdi", "page2.mdi",
                                 "sub/c.mdi", "sub/deeper/e.mdi", "sub2/d.mdi", "sub2/f.txt"}) {
            MakeFile(Path(file));
        }
        MakeReadOnly(".kept.mdi");  // hidden + archive + read-only: 35, kept
    }
    QStringList AddAll(const QString& extension, const QString& folder) {
        dialogs.AnswerInput(extension);
        dialogs.AnswerFolder(folder);
        AddAllFilesInFolder(list, dialogs, [this](int pointer) { pointers << pointer; });
        return Texts(list);
    }
    QList<int> pointers;
};

TEST_F(AddAllTest, AddsMatchingFilesFolderByFolderWithTheBusyPointer) {
    const QString r = root.path();
    EXPECT_EQ(AddAll("mdi", r),
              QStringList({r + "/.kept.mdi", r + "/a.mdi", r + "/a~b.mdi", r + "/B.MDI",
                           r + "/page2.mdi", r + "/page10.mdi", r + "/x..mdi", r + "/sub/c.mdi",
                           r + "/sub2/d.mdi", r + "/sub/deeper/e.mdi"}))
        << "level by level: the chosen folder, its subfolders, then theirs";
    EXPECT_EQ(pointers, QList<int>({11, 0}));
    EXPECT_EQ(config.Stored("LastFolder"), r);
    ASSERT_EQ(dialogs.requests().size(), 2u);
    EXPECT_EQ(dialogs.requests()[0].text,
              "Enter file extension to load:\r\r(* for all files, txt for all txt files, doc for "
              "all doc files, etc.)");
    EXPECT_EQ(dialogs.requests()[0].title, "Vellumax");
    EXPECT_EQ(dialogs.requests()[0].detail, "mdi");
    EXPECT_EQ(dialogs.requests()[1].title, "Please select folder:");
}

// The walk's counts grow as it goes; stopped at any point, it adds nothing.
TEST_F(AddAllTest, AWatchedScanCountsWhatItFindsAndAddsNothingWhenStopped) {
    list.Append("/earlier.mdi");
    QList<QPair<int, int>> counts;
    int stopAfter = -1;
    WalkWatch watch{[&](int folders, int files) {
                        counts.append({folders, files});
                    },
                    [&] { return stopAfter >= 0 && counts.size() >= stopAfter; }};
    dialogs.AnswerInput("mdi");
    dialogs.AnswerFolder(root.path());
    AddAllFilesInFolder(
        list, dialogs, [](int) {}, &watch);
    EXPECT_EQ(counts.last(), (QPair<int, int>(4, 10))) << "4 folders, 10 documents";
    for (const int stop : {2, 6}) {  // among the folders, among the files
        SCOPED_TRACE(stop);
        list.Clear();
        list.Append("/earlier.mdi");
        counts.clear();
        watch.folders = watch.files = 0;
        stopAfter = stop;
        dialogs.AnswerInput("mdi");
        dialogs.AnswerFolder(root.path());
        AddAllFilesInFolder(
            list, dialogs, [](int) {}, &watch);
        EXPECT_EQ(Texts(list), QStringList({"/earlier.mdi"}));
        EXPECT_EQ(counts.size(), stop);
    }
}

TEST_F(AddAllTest, TheExtensionIsUsedAsTyped) {
    const QString r = root.path();
    EXPECT_EQ(AddAll("txt", r), QStringList({r + "/notes.txt", r + "/sub2/f.txt"}));
    list.Clear();
    EXPECT_EQ(AddAll(".mdi", r), QStringList({r + "/x..mdi"})) << "the pattern is *..mdi";
    list.Clear();
    EXPECT_EQ(AddAll("*", r).size(), 12) << "every file but the ~ and hidden-archive ones";
}

TEST_F(AddAllTest, StartsAtTheLastFolderAndAddsDuplicatesAgain) {
    AddAll("txt", Path("sub2"));
    AddAll("txt", Path("sub2"));
    EXPECT_EQ(Texts(list), QStringList({Path("sub2/f.txt"), Path("sub2/f.txt")}));
    EXPECT_EQ(dialogs.requests()[3].detail, Path("sub2"));
}

TEST_F(AddAllTest, CancellingEitherQuestionChangesNothing) {
    config.Store("LastFolder", "/earlier");
    dialogs.AnswerInput("");
    AddAllFilesInFolder(list, dialogs, [this](int pointer) { pointers << pointer; });
    EXPECT_EQ(dialogs.requests().size(), 1u) << "no folder question after a cancelled input";

    AddAll("mdi", "");
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(config.Stored("LastFolder"), "/earlier");
    EXPECT_TRUE(pointers.isEmpty());
}

TEST(ShellDropTest, OnlyLocalFileAddressesAreAFileDrop) {
    QMimeData text;
    text.setText("/tmp/a.mdi");
    EXPECT_FALSE(IsShellFileDrop(text));
    QMimeData web;
    web.setUrls({QUrl("https://example.org/a.mdi")});
    EXPECT_FALSE(IsShellFileDrop(web));
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile("/tmp/a b.mdi"), QUrl("https://example.org/"),
                   QUrl::fromLocalFile("/tmp/dir")});
    EXPECT_TRUE(IsShellFileDrop(files));
    EXPECT_EQ(DroppedPaths(files), QStringList({"/tmp/a b.mdi", "/tmp/dir"}));
}

TEST_F(AdderTest, ADroppedFolderBringsItsFilesAndADroppedFileComesAsDelivered) {
    for (const char* file : {"drop/a.mdi", "drop/b.txt", "drop/~tmp.mdi", "drop/.c.mdi",
                             "drop/inner/d.doc", "other/z.mdi", "notes.txt"}) {
        MakeFile(Path(file));
    }
    AddDroppedPaths(list, {Path("drop"), Path("notes.txt"), Path("other"), Path("gone.mdi")},
                    dialogs);
    EXPECT_EQ(Texts(list),
              QStringList({Path("drop/a.mdi"), Path("drop/b.txt"), Path("drop/inner/d.doc"),
                           Path("notes.txt"), Path("other/z.mdi"), Path("gone.mdi")}));
}

}  // namespace
}  // namespace vellumax
