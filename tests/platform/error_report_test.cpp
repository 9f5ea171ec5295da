#include "platform/error_report.h"

#include <gtest/gtest.h>
#include <new>

#include "platform/build_config.h"
#include "platform/runtime_error.h"
#include "scripted_dialogs.h"
#include "test_support.h"

namespace vellumax {
namespace {

using testing::ScriptedDialogs;

const QString kSupportLine =
    QString("Please email screenshot of this message to ") + build_config::kSupportEmail;

TEST(ErrorReportTest, ShowsTheDescriptionLocationAndLineInTheApplicationErrorBox) {
    ScriptedDialogs dialogs;
    dialogs.AnswerMessage(MessageAnswer::Ok);
    ErrorReport report(dialogs, FormLocation("PushButton2_Click"));

    report.Run(192, [] { throw RuntimeError(70, "Permission denied"); });

    ASSERT_EQ(dialogs.messages().size(), 1u);
    const auto box = dialogs.messages().front();
    EXPECT_EQ(box.text,
              "Permission denied\r\nin Quirnel2021/08/31.Form1.PushButton2_Click at line "
              "192\r\r" +
                  kSupportLine);
    EXPECT_EQ(box.title, "Application Error");
    EXPECT_EQ(box.buttons, MessageButtons::Ok);
    EXPECT_EQ(box.icon, MessageIcon::Warning);
}

TEST(ErrorReportTest, NamesTheFolderWalkByItsOwnLocation) {
    EXPECT_EQ(ErrorReportText("Path not found", FolderWalkLocation(), 112),
              "Path not found\r\nin Brimwold2021/08/31.AddFolder.GetSubDirectories2016 at line "
              "112\r\r" +
                  kSupportLine);
}

TEST(ErrorReportTest, GoesOnWithTheNextStatementAfterEachFailure) {
    ScriptedDialogs dialogs;
    dialogs.AnswerMessage(MessageAnswer::Ok);
    dialogs.AnswerMessage(MessageAnswer::Ok);
    ErrorReport report(dialogs, FormLocation("Form_Load"));
    QStringList ran;

    report.Run(100, [&] { ran << "100"; });
    report.Run(102, [&] { throw std::runtime_error("disk on fire"); });
    report.Run(104, [&] { ran << "104"; });
    report.Run(106, [&] { throw std::bad_alloc(); });
    report.Run(108, [&] { ran << "108"; });

    EXPECT_EQ(ran, QStringList({"100", "104", "108"}));
    ASSERT_EQ(dialogs.messages().size(), 2u);
    EXPECT_TRUE(dialogs.messages()[0].text.startsWith("disk on fire\r\nin "));
    EXPECT_TRUE(dialogs.messages()[0].text.contains("at line 102\r\r"));
    EXPECT_TRUE(dialogs.messages()[1].text.startsWith("Out of memory\r\n"));
}

TEST(ErrorReportTest, AConditionThatFailsEntersTheBranchItGuards) {
    ScriptedDialogs dialogs;
    dialogs.AnswerMessage(MessageAnswer::Ok);
    ErrorReport report(dialogs, FormLocation("Form_Load"));

    EXPECT_TRUE(report.Holds(144, []() -> bool { throw RuntimeError(13, "Type mismatch"); }));
    EXPECT_FALSE(report.Holds(146, [] { return false; }));
    EXPECT_TRUE(report.Holds(148, [] { return true; }));
    ASSERT_EQ(dialogs.messages().size(), 1u);
    EXPECT_TRUE(dialogs.messages()[0].text.contains("at line 144\r\r"));
}

}  // namespace
}  // namespace vellumax
