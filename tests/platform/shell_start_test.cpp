#include "platform/shell_start.h"

#include <gtest/gtest.h>
#include <QElapsedTimer>

#include "test_support.h"

namespace vellumax {
namespace {

using testing::MakeFile;

constexpr qint32 kRunFailureOffset = -2147221504;  // 0x80040000

struct FailureRow {
    int code;
    qint32 number;
    const char* description;
};
void PrintTo(const FailureRow& row, std::ostream* out) {
    *out << "code" << row.code;
}

class ShellFailureTableTest : public ::testing::TestWithParam<FailureRow> {};
TEST_P(ShellFailureTableTest, GivesTheNumberAndTextOfEachCode) {
    const ShellFailure failure = ShellFailureFor(GetParam().code);
    EXPECT_EQ(failure.number, GetParam().number);
    EXPECT_EQ(failure.description, GetParam().description);
    EXPECT_EQ(failure.source, "shell_start_tests.GShell") << "the program's name without extension";
}
INSTANTIATE_TEST_SUITE_P(
    Codes, ShellFailureTableTest,
    ::testing::Values(
        FailureRow{0, 7, "Out of memory"}, FailureRow{2, 53, "File not found"},
        FailureRow{3, 76, "Path not found"}, FailureRow{5, 75, "Path/file access error"},
        FailureRow{11, -2147220445, "The executable file is invalid or corrupt"},
        FailureRow{26, 75, "A sharing violation occurred."},
        FailureRow{31, -2147220425, "No application is associated with this file type."},
        FailureRow{32, 48, "The specified dynamic-link library was not found."},
        FailureRow{1, -2147220455,
                   "An error occurred occurred whilst trying to open or print the selected file."},
        FailureRow{
            25, -2147220431,
            "An error occurred occurred whilst trying to open or print the selected file."}));

TEST(ShowCommandTest, ProgramsRunHiddenAndBareStartsShowNormally) {
    EXPECT_EQ(EffectiveShowCommand("/t/NCONVERT.exe", 5, "-q 85", ""), 0);
    EXPECT_EQ(EffectiveShowCommand("/t/tool.ExE.sh", 5, "", "/t"), 0);
    EXPECT_EQ(EffectiveShowCommand("/t/run.bat", 5, "", "/t"), 5);
    EXPECT_EQ(EffectiveShowCommand("/t/a.exe", 0, "", ""), 1) << "neither parameters nor folder";
}

class ShellRunTest : public ::testing::Test {
protected:
    QString Script(const QString& name, const QByteArray& text) {
        const QString path = folder.path() + '/' + name;
        MakeFile(path, text);
        return path;
    }
    QTemporaryDir folder;
    std::optional<ShellFailure> failure;
};

TEST_F(ShellRunTest, AMissingFileFailsAtOnceWithFileNotFound) {
    EXPECT_EQ(ShellOpenFile(folder.path() + "/missing.bat", 0, "", folder.path(), "open", failure),
              2);
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->number, 53);
    failure.reset();
    const ProcessOutcome run =
        ShellRunAndWait(folder.path() + "/missing.bat", 0, folder.path(), failure);
    EXPECT_EQ(run.result, 53 + kRunFailureOffset);
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->description, "File not found");

    ShellRunAndWait(folder.path() + "/no/such/x.bat", 0, folder.path(), failure);
    EXPECT_EQ(failure->number, 76);
}

TEST_F(ShellRunTest, WaitsForTheScriptAndReturnsItsExitCodeAndLastErrorLine) {
    const QString script =
        Script("job.bat", "sleep 0.3\necho first >&2\necho 'the reason' >&2\nexit 7\n");
    const ProcessOutcome run = ShellRunAndWait(script, 0, folder.path(), failure);
    EXPECT_FALSE(failure);
    EXPECT_EQ(run.result, 7);
    EXPECT_EQ(run.lastErrorLine, "the reason");
    EXPECT_FALSE(run.killedAfterLimit);
}

TEST_F(ShellRunTest, RunsInTheWorkingFolder) {
    const QString script = Script("here.sh", "pwd > where.txt\n");
    ShellRunAndWait(script, 0, folder.path(), failure);
    QFile where(folder.path() + "/where.txt");
    ASSERT_TRUE(where.open(QIODevice::ReadOnly));
    EXPECT_EQ(where.readAll().trimmed(), QFile::encodeName(folder.path()));
}

TEST_F(ShellRunTest, AProcessThatOutlivesTheLimitIsStopped) {
    const QString script = Script("hang.bat", "exec sleep 30\n");
    QElapsedTimer clock;
    clock.start();
    const ProcessOutcome run =
        ShellRunAndWait(script, 0, folder.path(), failure, std::chrono::milliseconds(300));
    EXPECT_TRUE(run.killedAfterLimit);
    EXPECT_LT(clock.elapsed(), 20'000) << "the wait must end long before the process would";
}

}  // namespace
}  // namespace vellumax
