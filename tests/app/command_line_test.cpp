#include "app/command_line.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QThread>
#include <csignal>
#include <functional>

#include "platform/build_config.h"
#include "platform/file_descriptor.h"
#include "test_documents.h"
#include "test_support.h"

namespace vellumax {
namespace {

using testing::WriteGreyDocument;

struct UsageCase {
    const char* name;
    QStringList arguments;
    const char* message;
};
void PrintTo(const UsageCase& usage, std::ostream* out) {
    *out << usage.name;
}

class UsageErrorTest : public ::testing::TestWithParam<UsageCase> {};
TEST_P(UsageErrorTest, IsRefusedWithItsReason) {
    const Command command = ParseCommandLine(GetParam().arguments);
    const auto* error = std::get_if<UsageError>(&command);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->message, GetParam().message);
}
INSTANTIATE_TEST_SUITE_P(
    Arguments, UsageErrorTest,
    ::testing::Values(
        UsageCase{"unknown_command", {"--frobnicate"}, "unknown command --frobnicate"},
        UsageCase{"no_paths", {"--convert"}, "no document or folder given"},
        UsageCase{"quality_zero",
                  {"--convert", "--quality", "0", "a.mdi"},
                  "--quality takes a whole number from 1 to 100, not \"0\""},
        UsageCase{"quality_fraction",
                  {"--convert", "--quality", "85.5", "a.mdi"},
                  "--quality takes a whole number from 1 to 100, not \"85.5\""},
        UsageCase{
            "quality_missing", {"--convert", "a.mdi", "--quality"}, "--quality needs a value"},
        UsageCase{"both_outputs",
                  {"--convert", "--out", "/tmp", "--beside-source", "a.mdi"},
                  "--out and --beside-source exclude each other"},
        UsageCase{"unknown_option", {"--convert", "--fast", "a.mdi"}, "unknown option --fast"},
        UsageCase{"tree_without_out", {"--convert", "--tree", "a.mdi"}, "--tree needs --out"},
        UsageCase{"format_unknown",
                  {"--convert", "--format", "gif", "a.mdi"},
                  "--format takes jpeg, png, tiff or pdf, not \"gif\""},
        UsageCase{"quality_for_a_lossless_format",
                  {"--convert", "--format", "png", "--quality", "90", "a.mdi"},
                  "--quality applies to jpeg and pdf only"},
        UsageCase{"shard_zero",
                  {"--convert", "--shard", "0/3", "a.mdi"},
                  "--shard takes K/N, whole numbers with 1 <= K <= N, not \"0/3\""},
        UsageCase{"shard_beyond_its_count",
                  {"--convert", "--shard", "4/3", "a.mdi"},
                  "--shard takes K/N, whole numbers with 1 <= K <= N, not \"4/3\""},
        UsageCase{
            "null_without_a_list", {"--convert", "--null", "a.mdi"}, "--null needs --files-from"},
        UsageCase{
            "report_unnamed", {"--convert", "--report", "", "a.mdi"}, "--report needs a value"}));

TEST(CommandLineTest, ReadsEveryOption) {
    const Command command = ParseCommandLine(
        {"--convert", "--quality", "40", "--ext", "tif", "--out", "/o", "a", "--", "--odd"});
    const auto* convert = std::get_if<ConvertCommand>(&command);
    ASSERT_NE(convert, nullptr);
    EXPECT_EQ(convert->quality, 40);
    EXPECT_EQ(convert->extension, "tif");
    EXPECT_EQ(convert->outputFolder, "/o");
    EXPECT_EQ(convert->paths, QStringList({"a", "--odd"}));

    const auto defaults = std::get<ConvertCommand>(ParseCommandLine({"--convert", "x"}));
    EXPECT_EQ(defaults.quality, 85);
    EXPECT_EQ(defaults.extension, "mdi");
    EXPECT_TRUE(defaults.outputFolder.isEmpty()) << "beside the source by default";

    const auto archive = std::get<ConvertCommand>(ParseCommandLine(
        {"--convert", "--files-from", "-", "--null", "--shard", "2/5", "--resume", "r.jsonl"}));
    EXPECT_EQ(archive.filesFrom, "-");
    EXPECT_TRUE(archive.nulSeparated);
    EXPECT_EQ(archive.shard.Text(), "2/5");
    EXPECT_EQ(archive.reportFile, "r.jsonl") << "a resumed run goes on in its report";
}

// The real program, started as a script or a user would start it.
class ProgramTest : public ::testing::Test {
protected:
    struct Result {
        int status;
        QString output;
        QString errors;
    };
    Result Run(const QStringList& arguments, int waitMilliseconds = 120'000) {
        return RunCommand(QStringList{VELLUMAX_PROGRAM} + arguments, waitMilliseconds);
    }
    // The whole command, from the program on.
    Result RunCommand(QStringList command, int waitMilliseconds = 120'000) {
        QProcess program;
        program.setProcessEnvironment(Environment());
        program.start(command.takeFirst(), command);
        EXPECT_TRUE(program.waitForFinished(waitMilliseconds));
        return {program.exitCode(), QString::fromUtf8(program.readAllStandardOutput()),
                QString::fromUtf8(program.readAllStandardError())};
    }
    QProcessEnvironment Environment() const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_CONFIG_HOME", config.path());
        environment.insert("TEMP", temp.path());
        environment.remove("DISPLAY");
        environment.remove("WAYLAND_DISPLAY");
        return environment;
    }
    QString Document(const QString& relative, int pages = 1, QSize size = QSize(40, 30)) {
        const QString path = in.path() + '/' + relative;
        QDir().mkpath(QFileInfo(path).path());
        WriteGreyDocument(path, QList<QSize>(pages, size), true);
        return path;
    }
    QStringList Written(const QString& folder) const {
        return QDir(folder).entryList(QDir::Files, QDir::Name);
    }

    QTemporaryDir config, temp, in, out;
};

TEST_F(ProgramTest, ConvertsAFolderTreeByExtensionIntoTheOutputFolder) {
    Document("a.mdi", 2);
    Document("sub/b.mdi");
    Document("notes.tif");
    const Result result = Run({"--convert", "--out", out.path(), in.path()});
    EXPECT_EQ(result.status, 0) << result.errors.toStdString();
    EXPECT_EQ(result.output, "Done.\n");
    EXPECT_EQ(Written(out.path()), QStringList({"a_1.jpg", "a_2.jpg", "b_1.jpg"}));
    EXPECT_EQ(result.errors, "Processing: a.mdi [1/2]\nProcessing: b.mdi [2/2]\n");
    EXPECT_TRUE(QDir(config.path()).isEmpty()) << "the settings store is never touched";
    EXPECT_TRUE(QDir(temp.path()).isEmpty()) << "the work folder is gone";

    EXPECT_EQ(
        Run({"--convert", "--ext", "*", "--quality", "30", "--out", out.path(), in.path()}).status,
        0);
    EXPECT_TRUE(Written(out.path()).contains("notes_1.jpg"));
}

// With --tree the archive's folders come along, which keeps equal names apart; a folder the
// walk passes over is named, and the run does not claim success.
TEST_F(ProgramTest, TreeKeepsTheFoldersAndAnUnsearchedFolderFailsTheRun) {
    Document("scan.mdi");
    Document("1998/march/scan.mdi");
    Document("what?/lost.mdi");
    // Given as typed, relative to the current folder.
    const QString archive = QDir::current().relativeFilePath(in.path());
    const Result result = Run({"--convert", "--tree", "--out", out.path(), archive});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.output, "Done.\n");
    EXPECT_TRUE(result.errors.contains(
        "vellumax: not searched: " + archive +
        "/what?: its name is too long or has characters that cannot be passed on\n"))
        << result.errors.toStdString();
    EXPECT_EQ(Written(out.path()), QStringList({"scan_1.jpg"}));
    EXPECT_EQ(Written(out.path() + "/1998/march"), QStringList({"scan_1.jpg"}));
}

struct FormatCase {
    const char* format;
    QStringList written;  // for a.mdi of two pages and b.mdi of one
};
void PrintTo(const FormatCase& row, std::ostream* out) {
    *out << row.format;
}

class OutputFormatTest : public ProgramTest, public ::testing::WithParamInterface<FormatCase> {};

// Each format gives its own files and nothing else; a damaged document gives its failure line
// and no file.
TEST_P(OutputFormatTest, WritesItsFilesAndNoneForAFailedDocument) {
    Document("a.mdi", 2);
    Document("b.mdi");
    testing::MakeFile(in.path() + "/broken.mdi", QByteArray("II*\0 and no more", 16));
    const Result result =
        Run({"--convert", "--format", GetParam().format, "--out", out.path(), in.path()});
    EXPECT_EQ(result.status, 1) << result.errors.toStdString();
    EXPECT_TRUE(result.output.contains("/broken.mdi (321 (Invalid file format"))
        << result.output.toStdString();
    EXPECT_EQ(Written(out.path()), GetParam().written);
    EXPECT_TRUE(QDir(temp.path()).isEmpty());
}
INSTANTIATE_TEST_SUITE_P(Formats, OutputFormatTest,
                         ::testing::Values(FormatCase{"jpeg", {"a_1.jpg", "a_2.jpg", "b_1.jpg"}},
                                           FormatCase{"png", {"a_1.png", "a_2.png", "b_1.png"}},
                                           FormatCase{"tiff", {"a.tif", "b.tif"}},
                                           FormatCase{"pdf", {"a.pdf", "b.pdf"}}),
                         [](const auto& info) { return std::string(info.param.format); });

// A TIFF document converted beside itself to TIFF would be replaced by its own copy.
TEST_F(ProgramTest, NeverWritesOverADocumentItConverts) {
    const QString scan = Document("scan.tif");
    QFile original(scan);
    ASSERT_TRUE(original.open(QIODevice::ReadOnly));
    const QByteArray before = original.readAll();
    original.close();
    const Result result = Run({"--convert", "--format", "tiff", "--ext", "tif", in.path()});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(result.output.contains(scan + " (58 (File already exists: " + scan +
                                       " is a document being converted)) "))
        << result.output.toStdString();
    ASSERT_TRUE(original.open(QIODevice::ReadOnly));
    EXPECT_EQ(original.readAll(), before);
}

TEST_F(ProgramTest, WritesBesideEachSourceByDefault) {
    const QString document = Document("deep/scan.2019.mdi");
    EXPECT_EQ(Run({"--convert", document}).status, 0);
    EXPECT_EQ(Written(in.path() + "/deep"), QStringList({"scan.2019.mdi", "scan.2019_1.jpg"}));
}

TEST_F(ProgramTest, AFailedDocumentIsReportedAsInTheWindowAndGivesStatus1) {
    const QString good = Document("good.mdi");
    const QString missing = in.path() + "/missing.mdi";
    const Result result = Run({"--convert", "--out", out.path(), good, missing});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.output,
              "Done.\n\nError #2122:\nFollowing files: \n" + missing +
                  " (53 (File not found)) \n\ncould not be operated. They could be opened by "
                  "another program. \nPlease email screenshot of this message and some of files "
                  "to support@vellumax.example\n");
    EXPECT_EQ(Written(out.path()), QStringList({"good_1.jpg"}));
}

TEST_F(ProgramTest, RefusedStartsAndUsageErrorsGiveStatus2) {
    Document("a.mdi");
    const Result missingFolder = Run({"--convert", "--out", out.path() + "/nope", in.path()});
    EXPECT_EQ(missingFolder.status, 2);
    EXPECT_EQ(missingFolder.errors, "Folder does not exist. Please select another folder.\n");

    const Result usage = Run({"--convert", "--quality", "101", in.path()});
    EXPECT_EQ(usage.status, 2);
    EXPECT_TRUE(usage.errors.contains("Usage: vellumax --convert")) << usage.errors.toStdString();

    const Result help = Run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.output.startsWith("Usage: vellumax --convert"));
    EXPECT_TRUE(Written(out.path()).isEmpty());
}

// The colour documents people actually have: each gives one page of its own size.
TEST_F(ProgramTest, ConvertsTheSharedColourSamples) {
    const QString samples = testing::SharedTestData() + "/mdi";
    const QStringList names = QDir(samples).entryList({"*.mdi"}, QDir::Files, QDir::Name);
    if (names.isEmpty()) {
        GTEST_SKIP() << "no shared samples in " << samples.toStdString();
    }
    // Some 150 megapixels of colour: minutes in the sanitizer build.
    const Result result = Run({"--convert", "--out", out.path(), samples}, 900'000);
    EXPECT_EQ(result.status, 0) << result.errors.toStdString();
    EXPECT_EQ(result.output, "Done.\n");
    QStringList expected;
    for (const QString& name : names) {
        expected << QFileInfo(name).completeBaseName() + "_1.jpg";
    }
    ASSERT_EQ(Written(out.path()), expected);
    for (const QString& page : expected) {
        EXPECT_GT(testing::JpegSize(out.path() + '/' + page).width(), 1000) << page.toStdString();
    }
    EXPECT_TRUE(QDir(temp.path()).isEmpty());
}

// Where pages cannot be saved, the document is listed with the system's reason and the run
// ends with status 1. Root may write anywhere, so the permission rows run the program as an
// ordinary user (nobody) when the tests run as root; the full disk is a small file system
// mounted for the program alone, which needs root.
struct UnsavedCase {
    const char* name;
    bool besideSource;
    bool readOnly;     // the folder the pages go to
    bool fullDisk;     // ... is a file system with room for a few pages only
    const char* line;  // the first failure line, from its document's name on
};
void PrintTo(const UnsavedCase& row, std::ostream* out) {
    *out << row.name;
}

class UnsavedPageTest : public ProgramTest, public ::testing::WithParamInterface<UnsavedCase> {
protected:
    // The program and its arguments, started so that `folder` behaves as the row says.
    QStringList Command(const QString& folder, const QStringList& arguments) {
        const UnsavedCase& row = GetParam();
        QStringList command{VELLUMAX_PROGRAM};
        if (row.readOnly && ::geteuid() == 0) {
            // nobody cannot reach into the build tree everywhere, nor into private folders.
            EXPECT_TRUE(QFile::copy(VELLUMAX_PROGRAM, program.path() + "/vellumax"));
            for (const QString& open : {program.path(), in.path(), out.path(), config.path()}) {
                ::chmod(QFile::encodeName(open), 0755);
            }
            ::chmod(QFile::encodeName(config.path()), 0777);
            ::chmod(QFile::encodeName(temp.path()), 01777);
            command = QStringList{"setpriv",
                                  "--reuid=65534",
                                  "--regid=65534",
                                  "--clear-groups",
                                  "--",
                                  program.path() + "/vellumax"};
        } else if (row.readOnly) {
            ::chmod(QFile::encodeName(folder), 0555);
        }
        if (row.fullDisk) {
            // What is left on the little file system is listed before it goes.
            command = QStringList{"unshare",
                                  "--mount",
                                  "sh",
                                  "-c",
                                  "mount -t tmpfs -o size=16k tmpfs \"$0\" || exit 3; \"$@\"; "
                                  "status=$?; ls -A \"$0\" >&2; exit $status",
                                  folder} +
                      command;
        }
        return command + arguments;
    }

    QTemporaryDir program;
};

TEST_P(UnsavedPageTest, ListsTheDocumentAndGivesStatus1) {
    const UnsavedCase& row = GetParam();
    if (row.fullDisk && (::geteuid() != 0 || QStandardPaths::findExecutable("unshare").isEmpty())) {
        GTEST_SKIP() << "mounting a small file system needs root";
    }
    QStringList documents;
    for (int document = 1; document <= (row.fullDisk ? 12 : 1); ++document) {
        documents << Document(QString("page%1.mdi").arg(document), 1, QSize(300, 300));
    }
    const QString folder = row.besideSource ? in.path() : out.path();
    const QStringList where =
        row.besideSource ? QStringList{"--beside-source"} : QStringList{"--out", out.path()};
    const QStringList command = Command(folder, QStringList{"--convert"} + where + documents);
    const Result result = RunCommand(command);
    ::chmod(QFile::encodeName(folder), 0700);
    EXPECT_EQ(result.status, 1) << result.errors.toStdString();
    const QString expected = QString(row.line).replace("FOLDER", folder);
    EXPECT_TRUE(result.output.contains(expected)) << result.output.toStdString();
    EXPECT_FALSE(result.errors.contains(".vx-")) << "no half-copied page is left";
}
INSTANTIATE_TEST_SUITE_P(
    Troubles, UnsavedPageTest,
    ::testing::Values(
        UnsavedCase{"read_only_output", false, true, false,
                    "/page1.mdi (70 (page 1 not saved: FOLDER/page1_1.jpg: Permission denied)) \n"},
        UnsavedCase{"read_only_source_folder", true, true, false,
                    "/page1.mdi (70 (page 1 not saved: FOLDER/page1_1.jpg: Permission denied)) \n"},
        UnsavedCase{"full_disk", false, false, true, "_1.jpg: No space left on device)) \n"}),
    [](const auto& info) { return std::string(info.param.name); });

// Processes whose command line mentions the text (a work folder, say).
QList<pid_t> ProcessesMentioning(const QString& text) {
    QList<pid_t> found;
    for (const QString& entry : QDir("/proc").entryList(QDir::Dirs)) {
        bool isNumber = false;
        const pid_t pid = entry.toInt(&isNumber);
        QFile commandLine("/proc/" + entry + "/cmdline");
        if (isNumber && commandLine.open(QIODevice::ReadOnly) &&
            commandLine.readAll().contains(text.toUtf8())) {
            found << pid;
        }
    }
    return found;
}

// Documents of blank 8000 x 8000 pages, one per page count: a few KiB each, and seconds of
// converting for the converter.
QStringList SlowDocuments(const QString& folder, const QList<int>& pageCounts) {
    QStringList paths;
    for (const int pages : pageCounts) {
        paths << folder + QString("/slow%1.mdi").arg(paths.size() + 1);
        testing::WriteBlankBilevelDocument(paths.last(), pages, QSize(8000, 8000));
    }
    return paths;
}

// The processes of the job for the document at `position` in the run's work folder under `temp`.
QList<pid_t> JobProcesses(const QString& temp, int position) {
    const QStringList work = QDir(temp).entryList({"vellumax-*"}, QDir::Dirs);
    return work.size() == 1 ? ProcessesMentioning(temp + '/' + work.first() + '/' +
                                                  QString::number(position) + '/')
                            : QList<pid_t>();
}

// Starts a run over 30 documents big enough to take a while, and waits until the second one.
class StoppedRunTest : public ProgramTest {
protected:
    void StartLongRun() {
        QStringList arguments{"--convert", "--out", out.path()};
        for (int document = 1; document <= 30; ++document) {
            arguments << Document(QString("doc%1.mdi").arg(document, 2, 10, QChar('0')), 3,
                                  QSize(1500, 1500));
        }
        program.setProcessEnvironment(Environment());
        program.start(VELLUMAX_PROGRAM, arguments);
        ASSERT_TRUE(program.waitForStarted());
        program.setReadChannel(QProcess::StandardError);
        while (!progress.contains("[2/30]") && program.waitForReadyRead(30'000)) {
            progress += program.readAllStandardError();
        }
    }
    void Signal(int signal) { ::kill(static_cast<pid_t>(program.processId()), signal); }

    QProcess program;
    QByteArray progress;
};

struct StopCase {
    const char* name;
    QList<int> stopSignals;
    int status;
};
void PrintTo(const StopCase& row, std::ostream* out) {
    *out << row.name;
}

class StopSignalTest : public StoppedRunTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(StopSignalTest, StopsCleanlyWithTheSignalsStatus) {
    StartLongRun();
    for (const int signal : GetParam().stopSignals) {
        Signal(signal);
        QThread::msleep(50);
    }
    ASSERT_TRUE(program.waitForFinished(60'000));
    progress += program.readAllStandardError();
    EXPECT_EQ(program.exitCode(), GetParam().status);
    EXPECT_TRUE(progress.contains("Stopped: worked on ")) << progress.toStdString();
    EXPECT_LT(Written(out.path()).size(), 90);
    if (GetParam().stopSignals.size() == 1) {
        EXPECT_EQ(Written(out.path()).size() % 3, 0) << "no document is left half converted";
    }
    EXPECT_TRUE(QDir(temp.path()).isEmpty());
    EXPECT_TRUE(ProcessesMentioning(temp.path()).isEmpty()) << "the converter ended too";
}
INSTANTIATE_TEST_SUITE_P(Signals, StopSignalTest,
                         ::testing::Values(StopCase{"ctrl_c", {SIGINT}, 130},
                                           StopCase{"term", {SIGTERM}, 143},
                                           StopCase{"hangup", {SIGHUP}, 129},
                                           StopCase{"ctrl_c_twice", {SIGINT, SIGINT}, 130}),
                         [](const auto& info) { return std::string(info.param.name); });

// Killed outright, the program cannot clean up: its converter dies with it, and the next start
// removes what it left.
TEST_F(StoppedRunTest, AKilledRunLeavesNoConverterAndItsFolderGoesAtTheNextStart) {
    const QString slow = SlowDocuments(in.path(), {24}).first();
    program.setProcessEnvironment(Environment());
    program.start(VELLUMAX_PROGRAM, {"--convert", "--out", out.path(), slow});
    for (int wait = 0; wait < 300 && ProcessesMentioning(temp.path()).isEmpty(); ++wait) {
        QThread::msleep(20);
    }
    ASSERT_FALSE(ProcessesMentioning(temp.path()).isEmpty()) << "no converter seen running";
    Signal(SIGKILL);
    ASSERT_TRUE(program.waitForFinished(10'000));
    // The conversion would take seconds more.
    for (int wait = 0; wait < 25 && !ProcessesMentioning(temp.path()).isEmpty(); ++wait) {
        QThread::msleep(20);
    }
    EXPECT_TRUE(ProcessesMentioning(temp.path()).isEmpty());
    EXPECT_FALSE(QDir(temp.path()).isEmpty()) << "the killed run's folder is still there";

    EXPECT_EQ(Run({"--help"}).status, 0);
    EXPECT_TRUE(QDir(temp.path()).isEmpty());
}

// The lines of a report, each parsed; a line that does not parse is an empty object.
QList<QJsonObject> ReportLines(const QString& path) {
    QFile report(path);
    EXPECT_TRUE(report.open(QIODevice::ReadOnly)) << path.toStdString();
    QList<QJsonObject> lines;
    for (const QByteArray& line : report.readAll().split('\n')) {
        if (!line.isEmpty()) {
            lines << QJsonDocument::fromJson(line).object();
        }
    }
    return lines;
}

// The sources of the document lines with the status, from the run that started last.
QStringList SourcesOfLastRun(const QList<QJsonObject>& lines, const QString& status) {
    qsizetype start = lines.size() - 1;
    while (start > 0 && lines[start]["type"] != "start") {
        --start;
    }
    QStringList sources;
    for (const QJsonObject& line : lines.mid(start)) {
        if (line["type"] == "document" && line["status"] == status) {
            sources << line["source"].toString();
        }
    }
    sources.sort();
    return sources;
}

// The first signal ends the converter of the document started ahead at once; the current one
// goes on and is delivered whole.
TEST_F(StoppedRunTest, TheFirstSignalEndsTheWorkAheadAtOnce) {
    if (QThread::idealThreadCount() < 2) {
        GTEST_SKIP() << "one worker: nothing is started ahead";
    }
    program.setProcessEnvironment(Environment());
    program.start(VELLUMAX_PROGRAM, QStringList{"--convert", "--out", out.path()} +
                                        SlowDocuments(in.path(), {24, 48}));
    for (int wait = 0; wait < 1500 && (JobProcesses(temp.path(), 1).isEmpty() ||
                                       JobProcesses(temp.path(), 2).isEmpty());
         ++wait) {
        QThread::msleep(20);
    }
    ASSERT_FALSE(JobProcesses(temp.path(), 2).isEmpty()) << "no converter seen ahead";
    Signal(SIGTERM);
    for (int wait = 0; wait < 1500 && !JobProcesses(temp.path(), 2).isEmpty(); ++wait) {
        QThread::msleep(10);
    }
    EXPECT_FALSE(JobProcesses(temp.path(), 1).isEmpty())
        << "the converter ahead ran on until the current document's had finished";
    ASSERT_TRUE(program.waitForFinished(60'000));
    EXPECT_EQ(program.exitCode(), 143);
    EXPECT_EQ(Written(out.path()).size(), 24);
    EXPECT_TRUE(QDir(temp.path()).isEmpty());
}

struct CutShortCase {
    const char* name;
    bool toEveryProcess;  // the signal reaches the converter too, as a scheduler sends it
};
void PrintTo(const CutShortCase& row, std::ostream* out) {
    *out << row.name;
}

class CutShortTest : public StoppedRunTest, public ::testing::WithParamInterface<CutShortCase> {};

// A document whose converter the stop ended is no failure: the report says it was stopped, and
// a resumed run converts it.
TEST_P(CutShortTest, ADocumentCutShortByTheStopIsConvertedOnResume) {
    const QString slow = SlowDocuments(in.path(), {24}).first();
    const QString report = in.path() + "/report.jsonl";
    const QStringList arguments{"--convert", "--resume", report, "--out", out.path(), slow};
    program.setProcessEnvironment(Environment());
    program.start(VELLUMAX_PROGRAM, arguments);
    for (int wait = 0; wait < 1500 && JobProcesses(temp.path(), 1).isEmpty(); ++wait) {
        QThread::msleep(20);
    }
    ASSERT_FALSE(JobProcesses(temp.path(), 1).isEmpty()) << "no converter seen running";
    if (GetParam().toEveryProcess) {
        for (const pid_t converter : JobProcesses(temp.path(), 1)) {
            ::kill(converter, SIGTERM);
        }
        QThread::msleep(300);  // the run's own signal may come after its converter has died
    } else {
        Signal(SIGTERM);
        QThread::msleep(50);
    }
    Signal(SIGTERM);
    ASSERT_TRUE(program.waitForFinished(60'000));
    EXPECT_EQ(program.exitCode(), 143);
    EXPECT_EQ(program.readAllStandardOutput(), "Done.\n") << "no failure listed";
    EXPECT_TRUE(Written(out.path()).isEmpty());
    const QList<QJsonObject> lines = ReportLines(report);
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[1]["status"], "stopped");
    EXPECT_FALSE(lines[1].contains("reason"));
    EXPECT_EQ(lines[2]["failed"], 0);
    EXPECT_EQ(lines[2]["stopped_documents"], 1);

    const Result resumed = Run(arguments);
    EXPECT_EQ(resumed.status, 0) << resumed.errors.toStdString();
    EXPECT_EQ(SourcesOfLastRun(ReportLines(report), "converted"), QStringList{slow});
    EXPECT_EQ(Written(out.path()).size(), 24);
}
INSTANTIATE_TEST_SUITE_P(Stops, CutShortTest,
                         ::testing::Values(CutShortCase{"second_signal", false},
                                           CutShortCase{"signal_to_every_process", true}),
                         [](const auto& info) { return std::string(info.param.name); });

QString Sha256Of(const QString& path) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex();
}

// Each document line names its source and every file written as they are on disk; a failed
// one gives the failure list's reason.
TEST_F(ProgramTest, TheReportMatchesTheFilesOnDisk) {
    const QString a = Document("a.mdi", 2);
    const QString b = Document("sub/b.mdi");
    const QString broken = in.path() + "/broken.mdi";
    testing::MakeFile(broken, QByteArray("II*\0 and no more", 16));
    const QString report = in.path() + "/report.jsonl";
    const Result result = Run({"--convert", "--report", report, "--out", out.path(), in.path()});
    EXPECT_EQ(result.status, 1) << result.errors.toStdString();

    const QList<QJsonObject> lines = ReportLines(report);
    ASSERT_EQ(lines.size(), 5);
    EXPECT_EQ(lines.first()["type"], "start");
    EXPECT_EQ(lines.first()["version"], build_config::kVersion);
    EXPECT_EQ(lines.first()["options"]["out"], out.path());
    EXPECT_TRUE(QDateTime::fromString(lines.first()["started"].toString(), Qt::ISODate).isValid());
    EXPECT_EQ(lines.last(), (QJsonObject{{"type", "end"},
                                         {"converted", 2},
                                         {"failed", 1},
                                         {"skipped", 0},
                                         {"stopped", false},
                                         {"stopped_documents", 0},
                                         {"ended", lines.last()["ended"]}}));
    QStringList outputs;
    for (const QJsonObject& line : lines.mid(1, 3)) {
        const QString source = line["source"].toString();
        EXPECT_EQ(line["size"], QFileInfo(source).size());
        EXPECT_EQ(line["sha256"], Sha256Of(source));
        EXPECT_EQ(line["status"], source == broken ? "failed" : "converted");
        EXPECT_EQ(line["pages"], source == a ? 2 : source == b ? 1 : 0);
        for (const QJsonValue& output : line["outputs"].toArray()) {
            const QString path = output["path"].toString();
            EXPECT_EQ(output["size"], QFileInfo(path).size());
            EXPECT_EQ(output["sha256"], Sha256Of(path));
            outputs << QFileInfo(path).fileName();
        }
        if (source == broken) {
            EXPECT_TRUE(line["reason"].toString().startsWith("(321 (Invalid file format"))
                << line["reason"].toString().toStdString();
            EXPECT_TRUE(result.output.contains(broken + ' ' + line["reason"].toString()));
        }
    }
    outputs.sort();
    EXPECT_EQ(outputs, Written(out.path()));
}

// A run killed while copying a page into place leaves its temporary file; a later run removes
// it from the folders it writes to, and nothing else: a live run's (locked), a link, a folder,
// another name, another user's file, a folder it does not write to.
TEST_F(ProgramTest, ARunRemovesTheCopiesKilledRunsLeftWhereItWrites) {
    Document("a.mdi");
    Document("sub/b.mdi");
    const QDir output(out.path());
    output.mkpath("other");
    for (const QString name : {".vx-Dead01", "sub/.vx-Dead02", ".vx-Live01", ".vx-Dead01.jpg",
                               "other/.vx-Dead03", ".vx-Other1"}) {
        testing::MakeFile(output.filePath(name), "page");
    }
    output.mkdir(".vx-Fold01");
    QFile::link(output.filePath(".vx-Live01"), output.filePath(".vx-Link01"));
    const FileDescriptor live(::open(QFile::encodeName(output.filePath(".vx-Live01")), O_RDONLY));
    ASSERT_EQ(::flock(live.get(), LOCK_EX), 0);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(QFile::encodeName(output.filePath(".vx-Other1")), 65534, 65534), 0);
    }
    const Result result = Run({"--convert", "--tree", "--out", out.path(), in.path()});
    EXPECT_EQ(result.status, 0) << result.errors.toStdString();
    const QStringList left =
        output.entryList({".vx-*"}, QDir::AllEntries | QDir::Hidden | QDir::System, QDir::Name);
    EXPECT_EQ(left, (QStringList{".vx-Dead01.jpg", ".vx-Fold01", ".vx-Link01", ".vx-Live01"} +
                     (root ? QStringList{".vx-Other1"} : QStringList())));
    EXPECT_FALSE(QFile::exists(output.filePath("sub/.vx-Dead02")));
    EXPECT_TRUE(QFile::exists(output.filePath("other/.vx-Dead03")));
}

// A run killed outright keeps the report lines it finished; resumed, it converts exactly the
// documents those lines do not list.
TEST_F(ProgramTest, AKilledRunResumedConvertsOnlyWhatWasLeft) {
    QStringList documents;
    for (int document = 1; document <= 12; ++document) {
        documents << Document(QString("doc%1.mdi").arg(document, 2, 10, QChar('0')), 2,
                              QSize(1500, 1500));
    }
    const QString report = in.path() + "/report.jsonl";
    const QStringList arguments{"--convert", "--resume", report, "--out", out.path(), in.path()};
    QProcess program;
    program.setProcessEnvironment(Environment());
    program.start(VELLUMAX_PROGRAM, arguments);
    ASSERT_TRUE(program.waitForStarted());
    const auto documentLines = [&] {
        QFile lines(report);
        return lines.open(QIODevice::ReadOnly) ? lines.readAll().count("\"document\"") : 0;
    };
    while (program.state() == QProcess::Running && documentLines() == 0) {
        QThread::msleep(5);
    }
    ::kill(static_cast<pid_t>(program.processId()), SIGKILL);
    ASSERT_TRUE(program.waitForFinished(10'000));
    for (int wait = 0; wait < 100 && !ProcessesMentioning(temp.path()).isEmpty(); ++wait) {
        QThread::msleep(20);
    }
    const QStringList done = SourcesOfLastRun(ReportLines(report), "converted");
    ASSERT_FALSE(done.isEmpty());
    ASSERT_LT(done.size(), documents.size()) << "the run ended before it was killed";

    const Result resumed = Run(arguments);
    EXPECT_EQ(resumed.status, 0) << resumed.errors.toStdString();
    const QList<QJsonObject> lines = ReportLines(report);
    QStringList left = documents;
    for (const QString& source : done) {
        left.removeOne(source);
    }
    EXPECT_EQ(SourcesOfLastRun(lines, "converted"), left);
    EXPECT_EQ(lines.last()["skipped"], done.size());
    EXPECT_EQ(Written(out.path()).size(), 2 * documents.size());
}

// Shards of the same arguments take disjoint shares that together are every document once,
// however often it is named; a document added between the starts of two shards moves no other.
TEST_F(ProgramTest, ShardsAreDisjointCoverEveryDocumentAndStayPut) {
    QStringList documents;
    for (int document = 1; document <= 8; ++document) {
        documents << Document(QString("box%1/scan%2.mdi").arg(document % 3).arg(document));
    }
    const auto shares = [&] {
        QMap<QString, QStringList> shareOf;
        for (const QString shard : {"1/3", "2/3", "3/3"}) {
            const QString report = out.path() + "/shard" + shard.left(1) + ".jsonl";
            const Result result = Run({"--convert", "--shard", shard, "--report", report, in.path(),
                                       in.path() + "/box1/../box1/scan1.mdi"});
            EXPECT_EQ(result.status, 0) << result.errors.toStdString();
            shareOf[shard] = SourcesOfLastRun(ReportLines(report), "converted");
        }
        return shareOf;
    };
    const QMap<QString, QStringList> before = shares();
    QStringList converted;
    for (const QStringList& share : before) {
        EXPECT_FALSE(share.isEmpty());
        converted += share;
    }
    converted.sort();
    documents.sort();
    EXPECT_EQ(converted, documents);

    const QString added = Document("box0/added.mdi");
    const QMap<QString, QStringList> after = shares();
    for (const QString& shard : before.keys()) {
        QStringList kept = after[shard];
        kept.removeOne(added);
        EXPECT_EQ(kept, before[shard]) << shard.toStdString();
    }
}

struct ChangeCase {
    const char* name;
    bool source;  // the source changed, else one of its pages
    bool verify;  // ... keeping its size and time, which only --verify sees
};
void PrintTo(const ChangeCase& row, std::ostream* out) {
    *out << row.name;
}

class ResumeChangeTest : public ProgramTest, public ::testing::WithParamInterface<ChangeCase> {};

TEST_P(ResumeChangeTest, ADocumentChangedSinceIsConvertedAgain) {
    const QString kept = Document("kept.mdi");
    const QString changed = Document("changed.mdi");
    const QString report = out.path() + "/report.jsonl";
    QStringList arguments{"--convert", "--resume", report, "--out", out.path(), in.path()};
    ASSERT_EQ(Run(arguments).status, 0);
    if (GetParam().verify) {
        const QByteArray page = QFile::encodeName(out.path() + "/changed_1.jpg");
        struct stat before {};
        ASSERT_EQ(::stat(page.constData(), &before), 0);
        QFile file(out.path() + "/changed_1.jpg");
        ASSERT_TRUE(file.open(QIODevice::ReadWrite) && file.seek(before.st_size / 2));
        file.write("!");
        file.close();
        const struct timespec times[2] = {before.st_atim, before.st_mtim};
        ASSERT_EQ(::utimensat(AT_FDCWD, page.constData(), times, 0), 0);
        arguments << "--verify";
    } else if (GetParam().source) {
        WriteGreyDocument(changed, {QSize(40, 30), QSize(30, 40)}, true);
    } else {
        testing::MakeFile(out.path() + "/changed_1.jpg", "not the page");
    }
    const Result resumed = Run(arguments);
    EXPECT_EQ(resumed.status, 0) << resumed.errors.toStdString();
    const QList<QJsonObject> lines = ReportLines(report);
    EXPECT_EQ(SourcesOfLastRun(lines, "converted"), QStringList{changed});
    EXPECT_EQ(lines.last()["skipped"], 1);
    // Only a verified document skipped has a line of its own.
    EXPECT_EQ(SourcesOfLastRun(lines, "skipped"),
              GetParam().verify ? QStringList{kept} : QStringList());
}
INSTANTIATE_TEST_SUITE_P(Changes, ResumeChangeTest,
                         ::testing::Values(ChangeCase{"source", true, false},
                                           ChangeCase{"page", false, false},
                                           ChangeCase{"page_of_same_size_and_time", false, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// The list find -print0 writes, on standard input, along with a document given as an argument.
TEST_F(ProgramTest, ReadsANulSeparatedListFromStandardInput) {
    const QString given = Document("given.mdi");
    const QString odd = Document("line\nbreak.mdi");
    const QString plain = Document("plain.mdi");
    Document("unlisted.mdi");
    QProcess program;
    program.setProcessEnvironment(Environment());
    program.start(VELLUMAX_PROGRAM,
                  {"--convert", "--files-from", "-", "--null", "--out", out.path(), given});
    ASSERT_TRUE(program.waitForStarted());
    program.write(QFile::encodeName(odd) + '\0' + '\0' + QFile::encodeName(plain) + '\0');
    program.closeWriteChannel();
    ASSERT_TRUE(program.waitForFinished(60'000));
    EXPECT_EQ(program.exitCode(), 0) << program.readAllStandardError().toStdString();
    QStringList written = Written(out.path());
    written.sort();
    EXPECT_EQ(written, QStringList({"given_1.jpg", "line\nbreak_1.jpg", "plain_1.jpg"}));
}

// Two documents that give one name: the first keeps its pages on every later run, resumed or
// not, and the second stays a failure naming it.
struct ClashCase {
    const char* name;
    const char* first;   // converted first, as the walk lists it
    const char* second;  // ... gives the same output name
    QStringList options;
};
void PrintTo(const ClashCase& row, std::ostream* out) {
    *out << row.name;
}

class ClashTest : public ProgramTest, public ::testing::WithParamInterface<ClashCase> {};

TEST_P(ClashTest, TheFirstDocumentsPagesAreNeverReplaced) {
    const QString first = Document(GetParam().first);
    const QString second = Document(GetParam().second, 2, QSize(50, 20));
    const QString page = out.path() + "/scan_1.jpg";
    const QString clash = "(58 (File already exists: " + page + " was written for " + first;
    const QStringList options = QStringList{"--convert", "--out", out.path()} + GetParam().options;
    const QString report = out.path() + "/report.jsonl";
    for (int run = 1; run <= 2; ++run) {
        const Result result = Run(options + QStringList{"--resume", report, in.path()});
        EXPECT_EQ(result.status, 1) << "run " << run;
        EXPECT_TRUE(result.output.contains(second + ' ' + clash)) << result.output.toStdString();
        EXPECT_EQ(testing::JpegSize(page), QSize(40, 30)) << "run " << run;
    }
    // Another run into the same folder, as a second shard would be.
    const Result alone = Run(options + QStringList{second});
    EXPECT_EQ(alone.status, 1);
    EXPECT_TRUE(alone.output.contains(second + ' ' + clash)) << alone.output.toStdString();
    EXPECT_EQ(testing::JpegSize(page), QSize(40, 30));
}
INSTANTIATE_TEST_SUITE_P(
    Names, ClashTest,
    ::testing::Values(ClashCase{"folders", "a/scan.mdi", "b/scan.mdi", {}},
                      ClashCase{"case", "scan.MDI", "scan.mdi", {"--tree", "--ext", "mdi"}},
                      ClashCase{"extension", "scan.mdi", "scan.tif", {"--ext", "*"}}),
    [](const auto& info) { return std::string(info.param.name); });

// One document named by several spellings is converted once, and is no clash with itself.
TEST_F(ProgramTest, ADocumentNamedTwiceIsConvertedOnce) {
    const QString scan = Document("scan.mdi");
    const QString report = out.path() + "/report.jsonl";
    const QString relative = QDir::current().relativeFilePath(scan);
    const Result result = Run({"--convert", "--report", report, "--out", out.path(), in.path(),
                               relative, in.path() + "/./scan.mdi"});
    EXPECT_EQ(result.status, 0) << result.output.toStdString();
    EXPECT_EQ(SourcesOfLastRun(ReportLines(report), "converted"), QStringList{scan});
}

// A list find -print0 wrote, read by lines, would give names cut short at their first NUL.
TEST_F(ProgramTest, ANulSeparatedListWithoutNullIsRefusedBeforeAnythingIsWritten) {
    const QString a = Document("a.mdi");
    QProcess program;
    program.setProcessEnvironment(Environment());
    program.start(VELLUMAX_PROGRAM, {"--convert", "--files-from", "-", "--out", out.path()});
    ASSERT_TRUE(program.waitForStarted());
    program.write(QFile::encodeName(a) + '\0' + QFile::encodeName(in.path() + "/b.mdi") + '\0');
    program.closeWriteChannel();
    ASSERT_TRUE(program.waitForFinished(60'000));
    EXPECT_EQ(program.exitCode(), 2);
    EXPECT_TRUE(program.readAllStandardError().contains("read it with --null"));
    EXPECT_TRUE(Written(out.path()).isEmpty());
}

// The report is written only at its own name, by one run at a time, and a resumed report named
// by a second name is added to, not emptied.
TEST_F(ProgramTest, TheReportIsNeverWrittenThroughALinkOrByTwoRuns) {
    Document("a.mdi");
    const QString target = out.path() + "/precious.txt";
    testing::MakeFile(target, "kept");
    const QString link = out.path() + "/link.jsonl";
    ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link)), 0);
    const QString dangling = out.path() + "/dangling.jsonl";
    ASSERT_EQ(::symlink("nowhere.txt", QFile::encodeName(dangling)), 0);
    for (const QString& report : {link, dangling}) {
        const Result result =
            Run({"--convert", "--resume", report, "--out", out.path(), in.path()});
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.errors,
                  "vellumax: cannot write the report " + report + ": it is a symbolic link\n");
    }
    EXPECT_FALSE(QFile::exists(out.path() + "/nowhere.txt"));

    const QString report = out.path() + "/report.jsonl";
    ASSERT_EQ(Run({"--convert", "--report", report, "--out", out.path(), in.path()}).status, 0);
    const QString second = out.path() + "/second-name.jsonl";
    ASSERT_EQ(::link(QFile::encodeName(report), QFile::encodeName(second)), 0);
    EXPECT_EQ(
        Run({"--convert", "--resume", report, "--report", second, "--out", out.path(), in.path()})
            .status,
        0);
    const QList<QJsonObject> lines = ReportLines(report);
    EXPECT_EQ(lines.size(), 5) << "both runs' lines, the second skipping its document";
    EXPECT_EQ(lines.last()["skipped"], 1);

    QFile held(report);
    ASSERT_TRUE(held.open(QIODevice::ReadWrite));
    struct flock lock {};
    lock.l_type = F_WRLCK;
    ASSERT_EQ(::fcntl(held.handle(), F_SETLK, &lock), 0);
    const Result busy = Run({"--convert", "--resume", report, "--out", out.path(), in.path()});
    EXPECT_EQ(busy.status, 2);
    EXPECT_EQ(busy.errors, "vellumax: cannot write the report " + report +
                               ": report in use by process " +
                               QString::number(QCoreApplication::applicationPid()) + "\n");
    EXPECT_EQ(ReportLines(report).size(), 5);
}

// What the run writes is never a document of a later run of the same report, even when it lies
// in the archive the run walks for every file.
TEST_F(ProgramTest, TheRunNeverTakesItsOwnFilesAsDocuments) {
    Document("a.mdi");
    const QString report = in.path() + "/report.jsonl";
    const QStringList arguments{"--convert", "--ext", "*", "--resume", report, in.path()};
    ASSERT_EQ(Run(arguments).status, 0);
    const Result resumed = Run(arguments);
    EXPECT_EQ(resumed.status, 0) << resumed.output.toStdString();
    EXPECT_EQ(ReportLines(report).last()["skipped"], 1);
}

// A converted line counts only when it lists exactly the files this run's options give, each as
// recorded: a hand-edited line, or one written for another format, is converted again.
struct RecordCase {
    const char* name;
    std::function<void(QJsonObject& line, const QString& unrelated)> edit;
    QStringList options;
};
void PrintTo(const RecordCase& row, std::ostream* out) {
    *out << row.name;
}

class ResumeRecordTest : public ProgramTest, public ::testing::WithParamInterface<RecordCase> {};

TEST_P(ResumeRecordTest, ADocumentWithoutItsFilesIsConvertedAgain) {
    const QString scan = Document("scan.mdi");
    const QString report = out.path() + "/report.jsonl";
    const QStringList arguments{"--convert", "--resume", report, "--out", out.path(), in.path()};
    ASSERT_EQ(Run(arguments).status, 0);
    const QString unrelated = out.path() + "/unrelated.txt";
    testing::MakeFile(unrelated, "unrelated");
    QList<QJsonObject> lines = ReportLines(report);
    GetParam().edit(lines[1], unrelated);
    QByteArray edited;
    for (const QJsonObject& line : lines) {
        edited += QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n';
    }
    testing::MakeFile(report, edited);

    const Result resumed = Run(arguments + GetParam().options);
    EXPECT_EQ(resumed.status, 0) << resumed.errors.toStdString();
    EXPECT_EQ(SourcesOfLastRun(ReportLines(report), "converted"), QStringList{scan});
}
INSTANTIATE_TEST_SUITE_P(
    Edits, ResumeRecordTest,
    ::testing::Values(
        RecordCase{
            "no_outputs", [](QJsonObject& line, const QString&) { line["outputs"] = {}; }, {}},
        RecordCase{"unrelated_output",
                   [](QJsonObject& line, const QString& unrelated) {
                       line["outputs"] = QJsonArray{QJsonObject{
                           {"path", unrelated}, {"size", 9}, {"sha256", Sha256Of(unrelated)}}};
                   },
                   {}},
        RecordCase{"other_format", [](QJsonObject&, const QString&) {}, {"--format", "png"}},
        RecordCase{"other_quality", [](QJsonObject&, const QString&) {}, {"--quality", "40"}}),
    [](const auto& info) { return std::string(info.param.name); });

// A line the disk has room for only in part is named with the system's reason, and the run is
// no success. The report lies on a file system of one page, mounted for the program alone.
TEST_F(ProgramTest, AReportThatCannotBeWrittenGivesTheSystemsReason) {
    if (::geteuid() != 0 || QStandardPaths::findExecutable("unshare").isEmpty()) {
        GTEST_SKIP() << "mounting a small file system needs root";
    }
    for (int document = 1; document <= 8; ++document) {
        Document(QString(200, 'a') + QString::number(document) + ".mdi");
    }
    QTemporaryDir small;
    const Result result =
        RunCommand({"unshare", "--mount", "sh", "-c",
                    "mount -t tmpfs -o size=4k tmpfs \"$0\" || exit 3; exec \"$@\"", small.path(),
                    VELLUMAX_PROGRAM, "--convert", "--report", small.path() + "/report.jsonl",
                    "--out", out.path(), in.path()});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(result.errors.contains("is incomplete: No space left on device"))
        << result.errors.toStdString();
}

// Names from old disks that are not UTF-8 convert like any other: their files keep the bytes,
// failure lines show them escaped, a resumed run knows them again, and a list names them too.
// Hidden files, passed over by design, are named.
TEST_F(ProgramTest, NamesThatAreNotUtf8ConvertLikeAnyOther) {
    const QByteArray root = QFile::encodeName(in.path()) + '/';
    const auto renamed = [&](const QString& made, const QByteArray& name) {
        EXPECT_EQ(::rename(QFile::encodeName(made).constData(), (root + name).constData()), 0);
    };
    renamed(Document("a.mdi"), "lat\xe9.mdi");
    ASSERT_EQ(::mkdir(root + "d\xe9p", 0755), 0);
    renamed(Document("b.mdi"), "d\xe9p/b.mdi");
    testing::MakeFile(in.path() + "/broken.mdi", "II*");
    renamed(in.path() + "/broken.mdi", "bad\xe9.mdi");
    Document(".hidden.mdi");
    const QString report = out.path() + "/report.jsonl";
    const QStringList arguments{"--convert", "--tree",   "--resume", report,
                                "--out",     out.path(), in.path()};
    const Result first = Run(arguments);
    EXPECT_EQ(first.status, 1);
    EXPECT_TRUE(first.output.contains(in.path() + "/bad\\xe9.mdi (321 (Invalid file format"))
        << first.output.toStdString();
    EXPECT_TRUE(first.errors.contains("vellumax: passed over: " + in.path() +
                                      "/.hidden.mdi: a hidden file\n"));
    const QByteArray written = QFile::encodeName(out.path()) + '/';
    EXPECT_EQ(::access(written + "lat\xe9_1.jpg", F_OK), 0);
    EXPECT_EQ(::access(written + "d\xe9p/b_1.jpg", F_OK), 0);

    EXPECT_EQ(Run(arguments).status, 1);
    EXPECT_EQ(ReportLines(report).last()["skipped"], 2);

    // Given as an argument, through a shell, as bytes no text holds.
    const Result given = RunCommand(
        {"/bin/sh", "-c",
         "exec \"$0\" --convert --format tiff --out \"$1\" \"$1\"/lat\"$(printf '\\351')\".mdi",
         VELLUMAX_PROGRAM, in.path()});
    EXPECT_EQ(given.status, 0) << given.output.toStdString();
    EXPECT_EQ(::access(root + "lat\xe9.tif", F_OK), 0);

    QProcess listed;
    listed.setProcessEnvironment(Environment());
    listed.start(VELLUMAX_PROGRAM, {"--convert", "--files-from", "-", "--null", "--format", "png",
                                    "--out", out.path()});
    ASSERT_TRUE(listed.waitForStarted());
    listed.write(root + "lat\xe9.mdi" + '\0');
    listed.closeWriteChannel();
    ASSERT_TRUE(listed.waitForFinished(60'000));
    EXPECT_EQ(listed.exitCode(), 0) << listed.readAllStandardOutput().toStdString();
    EXPECT_EQ(::access(written + "lat\xe9_1.png", F_OK), 0);
}

}  // namespace
}  // namespace vellumax
