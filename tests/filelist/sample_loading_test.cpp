#include "filelist/sample_loading.h"

#include <gtest/gtest.h>

#include "filelist/file_list.h"
#include "scripted_dialogs.h"
#include "test_support.h"

namespace vellumax {
namespace {

using testing::MakeFile;
using testing::ScriptedDialogs;

constexpr char kQuestion[] =
    "Would you like this software to open the folder where these sample files are stored (so "
    "that you can view them before working with them)?";

class SampleFilesTest : public ::testing::Test {
protected:
    QString Sample(const QString& name) const { return program.path() + "/Samples/" + name; }
    void Load(MessageAnswer answer) {
        dialogs.AnswerMessage(answer);
        LoadSampleFiles(list, program.path(), dialogs);
    }
    QTemporaryDir program;
    ScriptedDialogs dialogs;
    FileList list;
};

TEST_F(SampleFilesTest, PressingTwiceAddsTheSamplesOnceAndAsksTwice) {
    MakeFile(Sample("Letter.mdi"));
    MakeFile(Sample("Invoice.mdi"));
    Load(MessageAnswer::No);
    Load(MessageAnswer::No);
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Text(1), Sample("Invoice.mdi"));
    EXPECT_EQ(list.Text(2), Sample("Letter.mdi"));
    ASSERT_EQ(dialogs.messages().size(), 2u);
    EXPECT_EQ(dialogs.messages()[1].text, kQuestion);
    EXPECT_EQ(dialogs.messages()[1].buttons, MessageButtons::YesNo);
    EXPECT_EQ(dialogs.messages()[1].title, "Vellumax");
    EXPECT_TRUE(dialogs.openedTargets().isEmpty());
}

TEST_F(SampleFilesTest, OnlyAnEntryWithExactlyTheSameTextCountsAsListed) {
    MakeFile(Sample("Letter.mdi"));
    MakeFile(Sample("Invoice.mdi"));
    list.Append(Sample("Letter.mdi"));
    list.Append(Sample("INVOICE.mdi"));
    Load(MessageAnswer::No);
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(list.Text(3), Sample("Invoice.mdi"));
}

TEST_F(SampleFilesTest, WithoutASampleFolderNothingIsAddedAndTheQuestionIsStillAsked) {
    Load(MessageAnswer::Yes);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(dialogs.openedTargets(), QStringList{program.path() + "/Samples/"});
}

}  // namespace
}  // namespace vellumax
