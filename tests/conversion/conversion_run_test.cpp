#include "conversion/conversion_run.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <QRegularExpression>
#include <cstring>
#include <functional>

#include "filelist/file_list.h"
#include "platform/build_config.h"
#include "platform/runtime_error.h"
#include "scripted_dialogs.h"
#include "test_documents.h"
#include "test_support.h"

namespace vellumax {

inline void PrintTo(const OutputFormat& format, std::ostream* out) {
    *out << format.name;
}

namespace {

using testing::JpegSize;
using testing::MakeFile;
using testing::ScriptedDialogs;
using testing::WriteGreyDocument;

// The window as the run sees it, recording what the run shows.
class RecordingView : public ConversionView {
public:
    void SetMousePointer(int pointer) override { pointers << pointer; }
    void SetProgressValue(double percent) override { values << percent; }
    void SetProgressText(const QString& text) override {
        texts << text;
        if (onProgressText) {
            onProgressText();
        }
    }
    QString OutputFolder() const override { return outputFolder; }
    bool SaveToFolder() const override { return saveToFolder; }
    bool SaveBesideSource() const override { return !saveToFolder; }
    int Quality() const override { return 85; }
    OutputFormat Format() const override { return format; }
    void DocumentFinished(const DocumentOutcome& outcome) override {
        outcomes << outcome;
        if (onDocumentFinished) {
            onDocumentFinished();
        }
    }

    QList<int> pointers;
    QList<double> values;
    QStringList texts;
    QString outputFolder;
    bool saveToFolder = true;
    OutputFormat format = kJpegFormat;
    std::function<void()> onProgressText;
    QList<DocumentOutcome> outcomes;
    std::function<void()> onDocumentFinished;
};

// Stands in for the reader: the sources are TIFF documents already, so saving is a copy;
// a source named "unreadable..." is refused as the reader would refuse it.
class CopyingImaging : public DocumentImaging {
public:
    std::optional<ImagingFailure> SaveAsTiff(const QString& source,
                                             const QString& target) override {
        if (source.contains("unreadable")) {
            return ImagingFailure{321, "Invalid file format"};
        }
        QFile::remove(target);
        if (!QFile::copy(source, target)) {
            return ImagingFailure{75, "Path/File access error"};
        }
        return std::nullopt;
    }
};

class ConversionRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        previousTemp = qgetenv("TEMP");
        qputenv("TEMP", QFile::encodeName(temp.path()));
        view.outputFolder = output.path();
    }
    void TearDown() override { qputenv("TEMP", previousTemp); }

    QString Source(const QString& name, int pages = 1) {
        const QString path = sources.path() + '/' + name;
        QList<QSize> sizes;
        for (int page = 1; page <= pages; ++page) {
            sizes << QSize(20 + page, 12);  // the width tells the pages apart
        }
        WriteGreyDocument(path, sizes);
        list.Append(path);
        return path;
    }
    void Convert() {
        dialogs.AnswerMessage(MessageAnswer::Ok);
        run.PushButton2_Click();
    }
    QString ClosingMessage() const { return dialogs.messages().back().text; }
    // The lines of the closing message's failure list.
    QStringList FailureLines() const {
        const QString text = ClosingMessage();
        const qsizetype start = text.indexOf("Following files: \r\n");
        const qsizetype end = text.indexOf("\r\n\r\ncould not be operated");
        if (start < 0 || end < 0) {
            return {};
        }
        const qsizetype first = start + qsizetype(std::strlen("Following files: \r\n"));
        return text.mid(first, end - first).split("\r\n");
    }
    QStringList OutputNames() const {
        return QDir(output.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }

    QTemporaryDir temp, sources, output;
    QByteArray previousTemp;
    FileList list;
    ScriptedDialogs dialogs;
    RecordingView view;
    ImagingFactory imaging = [] { return std::make_unique<CopyingImaging>(); };
    ConversionRun run{list, dialogs, view, [this] { return imaging(); }};
};

TEST_F(ConversionRunTest, AnEmptyListIsRefused) {
    Convert();
    ASSERT_EQ(dialogs.messages().size(), 1u);
    EXPECT_EQ(ClosingMessage(), "No files added.");
    EXPECT_EQ(dialogs.messages()[0].title, "Vellumax");
    EXPECT_TRUE(view.pointers.isEmpty());
    EXPECT_FALSE(run.isConverting());
}

TEST_F(ConversionRunTest, AMissingOutputFolderIsRefusedUnlessResultsGoBesideTheSources) {
    Source("scan.mdi");
    view.outputFolder = output.path() + "/missing";
    Convert();
    EXPECT_EQ(ClosingMessage(), "Folder does not exist. Please select another folder.");
    EXPECT_TRUE(QDir(temp.path()).isEmpty()) << "nothing is written";

    view.saveToFolder = false;
    Convert();
    EXPECT_EQ(ClosingMessage(), "Done.");
    EXPECT_TRUE(QFile::exists(sources.path() + "/scan_1.jpg"));
}

TEST_F(ConversionRunTest, MissingImagingIsExplainedAndTheWindowReturnsToIdle) {
    Source("scan.mdi");
    imaging = []() -> std::unique_ptr<DocumentImaging> { throw RuntimeError(429, "cannot"); };
    Convert();
    EXPECT_EQ(ClosingMessage(),
              "You must have 'Microsoft Office Document Imaging' installed.\r\n\r\nPlease click "
              "the 'Help' button at the top of ths software.");
    EXPECT_EQ(view.pointers, QList<int>({0, 0}));
    EXPECT_EQ(view.values, QList<double>({0}));
    EXPECT_EQ(view.texts, QStringList({"Progress Bar"}));
    EXPECT_FALSE(run.isConverting());
}

TEST_F(ConversionRunTest, PagesAreNumberedInPageOrder) {
    Source("twelve.mdi", 12);
    Source("one.mdi", 1);
    Convert();
    EXPECT_EQ(ClosingMessage(), "Done.");
    for (int page = 1; page <= 12; ++page) {
        EXPECT_EQ(JpegSize(output.path() + "/twelve_" + QString::number(page) + ".jpg"),
                  QSize(20 + page, 12))
            << "page " << page;
    }
    EXPECT_EQ(JpegSize(output.path() + "/one_1.jpg"), QSize(21, 12));
    EXPECT_EQ(OutputNames().size(), 13);
}

TEST_F(ConversionRunTest, NamesAreTakenWholeAndNothingInThemIsExecuted) {
    view.outputFolder = output.path() + '/';
    // The longest name whose page name still fits the file system's 255 bytes.
    const QString longest = QString(249, 'n');
    for (const QString& name :
         {QString("scan.2019.mdi"), QString(".mdi"),
          QString("it's \"a\" $(touch pwned) `touch pwned` b.mdi"), longest + ".mdi"}) {
        Source(name);
    }
    Convert();
    EXPECT_EQ(ClosingMessage(), "Done.");
    EXPECT_EQ(OutputNames(),
              QStringList({".mdi_1.jpg", "it's \"a\" $(touch pwned) `touch pwned` b_1.jpg",
                           longest + "_1.jpg", "scan.2019_1.jpg"}));
    EXPECT_FALSE(QFile::exists(temp.path() + "/pwned"));
    EXPECT_FALSE(QFile::exists("pwned"));
}

TEST_F(ConversionRunTest, ShowsProgressPerDocumentThenReturnsToIdle) {
    for (const char* name : {"a.mdi", "b.mdi", "c.mdi", "d.mdi"}) {
        Source(name);
    }
    Convert();
    EXPECT_EQ(view.values, QList<double>({25, 50, 75, 100, 0}));
    EXPECT_EQ(view.texts, QStringList({"Processing: a.mdi", "Processing: b.mdi",
                                       "Processing: c.mdi", "Processing: d.mdi", "Progress Bar"}));
    EXPECT_EQ(view.pointers.first(), 11);
    EXPECT_EQ(view.pointers.last(), 0);
    EXPECT_FALSE(run.isConverting());
}

TEST_F(ConversionRunTest, ASecondStartDuringARunReturnsAtOnce) {
    Source("a.mdi");
    Source("b.mdi");
    int nestedStarts = 0;
    view.onProgressText = [&] {
        if (run.isConverting() && nestedStarts++ == 0) {
            run.PushButton2_Click();
        }
    };
    Convert();
    EXPECT_EQ(dialogs.messages().size(), 1u) << "only the closing message";
    EXPECT_EQ(OutputNames(), QStringList({"a_1.jpg", "b_1.jpg"}));
}

// Reading and converting are the workers'; the window's thread only waits for them and puts
// pages in place, so its events keep being handled. When the window's thread did the reading
// and polled the converter, this run held its events back for 110 ms at a time.
TEST_F(ConversionRunTest, TheEventLoopGoesOnWhileDocumentsAreConverted) {
    imaging = DocumentReaderFactory();
    for (const QString name : {"first.mdi", "second.mdi", "third.mdi"}) {
        testing::WriteBlankBilevelDocument(sources.path() + '/' + name, 2, QSize(6000, 8000));
        list.Append(sources.path() + '/' + name);
    }
    QElapsedTimer sinceTick;
    qint64 longestStall = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestStall = std::max(longestStall, sinceTick.restart());
    });
    view.onProgressText = [&] {
        if (!ticker.isActive()) {
            sinceTick.start();
            ticker.start(1);
        }
    };
    Convert();
    EXPECT_EQ(ClosingMessage(), "Done.");
    EXPECT_EQ(OutputNames().size(), 6);
    // The window is to answer within 50 ms (about 25 here); the bound leaves room for a loaded
    // test machine.
    EXPECT_LT(longestStall, 80) << "the event loop stalled for " << longestStall << " ms";
}

// The next document starts while one is finished; if the list changes meanwhile, the document
// in that place is converted, not the one started ahead.
TEST_F(ConversionRunTest, AListChangedDuringTheRunIsFollowed) {
    Source("first.mdi");
    Source("second.mdi");
    const QString other = sources.path() + "/other.mdi";
    WriteGreyDocument(other, {QSize(30, 12), QSize(31, 12)});
    view.onDocumentFinished = [&] {
        if (view.outcomes.size() == 1) {
            list.SetText(2, other);
        }
    };
    Convert();
    EXPECT_EQ(ClosingMessage(), "Done.");
    EXPECT_EQ(OutputNames(), QStringList({"first_1.jpg", "other_1.jpg", "other_2.jpg"}));
}

TEST_F(ConversionRunTest, FailedDocumentsAreListedInTheClosingMessage) {
    const QString bad = sources.path() + "/unreadable\nscan.mdi";
    list.Append(bad);
    Source("good.mdi", 2);
    Convert();
    ASSERT_EQ(view.outcomes.size(), 2);
    EXPECT_EQ(view.outcomes[0].source, bad);
    EXPECT_EQ(view.outcomes[0].failure, " (321 (Invalid file format)) ");
    EXPECT_TRUE(view.outcomes[0].outputs.isEmpty());
    EXPECT_EQ(view.outcomes[1].failure, "");
    EXPECT_EQ(view.outcomes[1].pages, 2);
    EXPECT_EQ(view.outcomes[1].outputs,
              QStringList({output.path() + "/good_1.jpg", output.path() + "/good_2.jpg"}));
    EXPECT_EQ(ClosingMessage(),
              "Done.\r\n\r\nError #2122:\r\nFollowing files: \r\n" + sources.path() +
                  "/unreadable\\nscan.mdi (321 (Invalid file format)) \r\n\r\ncould not be "
                  "operated. They could be "
                  "opened by another program. \r\nPlease email screenshot of this message and "
                  "some of files to " +
                  build_config::kSupportEmail);
    EXPECT_EQ(OutputNames(), QStringList({"good_1.jpg", "good_2.jpg"}));
}

TEST_F(ConversionRunTest, ADocumentTheConverterCannotReadIsAFailureNotASuccess) {
    const QString broken = sources.path() + "/broken.mdi";
    MakeFile(broken, "II*\0 this is no real TIFF");
    list.Append(broken);
    Convert();
    EXPECT_TRUE(ClosingMessage().contains(
        broken + " (321 (The page converter wrote no page image: not a readable TIFF file"))
        << ClosingMessage().toStdString();
    EXPECT_TRUE(OutputNames().isEmpty());
}

TEST_F(ConversionRunTest, TheTemporaryFolderIsLeftAsItWas) {
    MakeFile(temp.path() + "/stray.jpg", "someone else's picture");
    Source("a.mdi");
    Convert();
    EXPECT_EQ(OutputNames(), QStringList({"a_1.jpg"}));
    EXPECT_EQ(QDir(temp.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList({"stray.jpg"}));
}

// The real reader and converter over good documents and damaged ones from the corrupt corpus.
TEST_F(ConversionRunTest, EveryGoodDocumentIsConvertedAndEveryCorruptOneListed) {
    imaging = DocumentReaderFactory();
    const auto corrupt = [&](const QString& name) {
        const QString path = sources.path() + '/' + name;
        EXPECT_TRUE(QFile::copy(QString(VELLUMAX_CORRUPT_DIR) + '/' + name, path));
        list.Append(path);
        return path;
    };
    const QString cutShort = corrupt("strip-cut-short.tif");
    WriteGreyDocument(sources.path() + "/letter.mdi", {QSize(31, 9), QSize(32, 9)}, true);
    list.Append(sources.path() + "/letter.mdi");
    const QString huge = corrupt("page-over-a-gibibyte.tif");
    const QString noise = corrupt("lzw-strip-noise.tif");
    Source("invoice.tif", 3);
    const QString loop = corrupt("directory-loops-back.tif");
    const QString empty = corrupt("empty.tif");
    const QStringList sourcesBefore = QDir(sources.path()).entryList(QDir::Files | QDir::Hidden);

    Convert();

    const auto line = [](const QString& source, const QString& text) {
        return QRegularExpression::escape(source + " (" + text + ") \r\n");
    };
    const QString failures =
        line(cutShort,
             "321 (Invalid file format: page 1 is cut short: its image data reach past "
             "the end of the file)") +
        line(huge,
             "7 (Out of memory: page 1 is 40000 x 40000 pixels, which needs more than 1 "
             "GiB decoded)") +
        line(noise,
             "321 (The page converter could not convert page 1 of 1: cannot decode row 1: "
             "Using code not yet in table)") +
        line(loop,
             "321 (Invalid file format: the page chain breaks off after page 2: TIFF directory 1 "
             "has IFD looping to directory 0 at offset 0x8 (8))") +
        line(empty, "321 (Invalid file format: the file is empty)");
    const QRegularExpression closing(
        "^" + QRegularExpression::escape("Done.\r\n\r\nError #2122:\r\nFollowing files: \r\n") +
        failures +
        QRegularExpression::escape("\r\ncould not be operated. They could be opened by another "
                                   "program. \r\nPlease email screenshot of this message and "
                                   "some of files to " +
                                   QString(build_config::kSupportEmail)) +
        "$");
    EXPECT_TRUE(closing.match(ClosingMessage()).hasMatch()) << ClosingMessage().toStdString();

    EXPECT_EQ(OutputNames(), QStringList({"invoice_1.jpg", "invoice_2.jpg", "invoice_3.jpg",
                                          "letter_1.jpg", "letter_2.jpg"}));
    EXPECT_EQ(JpegSize(output.path() + "/letter_2.jpg"), QSize(32, 9));
    EXPECT_EQ(JpegSize(output.path() + "/invoice_3.jpg"), QSize(23, 12));
    EXPECT_EQ(QDir(sources.path()).entryList(QDir::Files | QDir::Hidden), sourcesBefore);
    EXPECT_TRUE(QDir(temp.path()).isEmpty()) << "the run's folder is gone";
}

TEST_F(ConversionRunTest, PagesKeepTheirOwnNumbersWhenOneCannotBeConverted) {
    const QString path = sources.path() + "/ledger.mdi";
    testing::WriteDocumentWithABadThirdPage(path);
    list.Append(path);
    Convert();
    EXPECT_EQ(FailureLines().value(0),
              path +
                  " (321 (The page converter could not convert page 3 of 4: the page does "
                  "not say how its samples are coloured)) ");
    EXPECT_EQ(OutputNames(), QStringList({"ledger_1.jpg", "ledger_2.jpg", "ledger_4.jpg"}));
    EXPECT_EQ(JpegSize(output.path() + "/ledger_4.jpg"), QSize(24, 12));
}

// A page libtiff decoded past damage (a flipped bit in its G4 strip) is delivered, and its
// document listed with the page and libtiff's reason, in every format.
class KeptWithDamageRunTest : public ConversionRunTest,
                              public ::testing::WithParamInterface<OutputFormat> {};

TEST_P(KeptWithDamageRunTest, TheDocumentIsListedWithThePageAndWhy) {
    imaging = DocumentReaderFactory();
    view.format = GetParam();
    const QString path = sources.path() + "/scan.mdi";
    testing::WriteBilevelDocument(path, 3, QSize(400, 300));
    testing::FlipCodedBit(path, 2, 0);
    list.Append(path);
    Convert();
    EXPECT_EQ(FailureLines(),
              QStringList{path + " (321 (page 2 kept with damage: Bad code word at line 5 of "
                                 "strip 0 (x 92))) "});
    const QString extension = GetParam().extension;
    const QStringList outputs =
        GetParam().perPage
            ? QStringList({"scan_1." + extension, "scan_2." + extension, "scan_3." + extension})
            : QStringList({"scan." + extension});
    EXPECT_EQ(OutputNames(), outputs);
    ASSERT_EQ(view.outcomes.size(), 1);
    EXPECT_EQ(view.outcomes[0].outputs.size(), outputs.size());
}

INSTANTIATE_TEST_SUITE_P(Formats, KeptWithDamageRunTest, ::testing::ValuesIn(kOutputFormats),
                         [](const auto& info) { return std::string(info.param.name); });

// A page too large for its strips to be copied is decoded by the reader, which notes the damage
// for the converter to report.
TEST_F(ConversionRunTest, DamageTheReaderDecodedPastIsListedToo) {
    imaging = DocumentReaderFactory();
    const QString path = sources.path() + "/scan.mdi";
    testing::WriteBilevelDocument(path, 2, QSize(4096, 2100));
    testing::FlipCodedBit(path, 2, 0);
    list.Append(path);
    Convert();
    EXPECT_TRUE(FailureLines().value(0).startsWith(
        path + " (321 (page 2 kept with damage: Bad code word at line "))
        << ClosingMessage().toStdString();
    EXPECT_EQ(OutputNames(), QStringList({"scan_1.jpg", "scan_2.jpg"}));
}

// Two documents of one name in one run: the second is refused rather than overwriting the
// first, while a page from an earlier run is replaced as usual.
TEST_F(ConversionRunTest, APageWrittenInThisRunIsNeverReplaced) {
    MakeFile(output.path() + "/scan_2.jpg", "left by an earlier run");
    QDir(sources.path()).mkpath("a");
    QDir(sources.path()).mkpath("b");
    const QString first = Source("a/scan.mdi", 2);
    const QString second = Source("b/scan.mdi", 1);
    Convert();
    EXPECT_EQ(FailureLines().value(0), second + " (58 (File already exists: " + output.path() +
                                           "/scan_1.jpg was written for " + first +
                                           " in this run)) ");
    EXPECT_EQ(JpegSize(output.path() + "/scan_1.jpg"), QSize(21, 12));
    EXPECT_EQ(JpegSize(output.path() + "/scan_2.jpg"), QSize(22, 12));
    EXPECT_EQ(OutputNames(), QStringList({"scan_1.jpg", "scan_2.jpg"}));
}

// A later run, or another run at the same time, finds the first document's pages marked as its
// own and leaves them; a document listed twice, by any spelling, is no clash with itself.
TEST_F(ConversionRunTest, APageOfAnotherDocumentIsNeverReplacedAcrossRuns) {
    QDir(sources.path()).mkpath("a");
    QDir(sources.path()).mkpath("b");
    const QString first = Source("a/scan.mdi", 1);
    list.Append(sources.path() + "/a/../a/scan.mdi");
    Convert();
    EXPECT_EQ(ClosingMessage(), "Done.");

    list.Clear();
    const QString second = Source("b/scan.mdi", 2);
    Convert();
    EXPECT_EQ(FailureLines().value(0), second + " (58 (File already exists: " + output.path() +
                                           "/scan_1.jpg was written for " + first + ")) ");
    EXPECT_EQ(JpegSize(output.path() + "/scan_1.jpg"), QSize(21, 12));
    EXPECT_EQ(OutputNames(), QStringList({"scan_1.jpg"}));
}

// What stands at a page's name is replaced, never written through, also when the page has to
// be copied to another file system.
TEST_F(ConversionRunTest, ALinkAtAPageNameIsReplacedNotFollowed) {
    QTemporaryDir elsewhere("/dev/shm/vellumax-test-XXXXXX");
    struct stat temporary {};
    struct stat other {};
    if (!elsewhere.isValid() || ::stat(QFile::encodeName(temp.path()), &temporary) != 0 ||
        ::stat(QFile::encodeName(elsewhere.path()), &other) != 0 ||
        temporary.st_dev == other.st_dev) {
        GTEST_SKIP() << "no second file system at /dev/shm";
    }
    view.outputFolder = elsewhere.path();
    const QString victim = sources.path() + "/victim.txt";
    MakeFile(victim, "precious");
    ASSERT_TRUE(QFile::link(victim, elsewhere.path() + "/scan_1.jpg"));
    Source("scan.mdi");
    Convert();
    EXPECT_EQ(ClosingMessage(), "Done.");
    EXPECT_FALSE(QFileInfo(elsewhere.path() + "/scan_1.jpg").isSymLink());
    EXPECT_EQ(JpegSize(elsewhere.path() + "/scan_1.jpg"), QSize(21, 12));
    QFile precious(victim);
    ASSERT_TRUE(precious.open(QIODevice::ReadOnly));
    EXPECT_EQ(precious.readAll(), "precious");
    EXPECT_EQ(
        QDir(elsewhere.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        QStringList({"scan_1.jpg"}))
        << "no temporary copy is left";
}

// What a row may change before the run.
struct RunSetting {
    RecordingView& view;
    ScriptedDialogs& dialogs;
    QString output;
    QString temp;
};

struct UndeliveredCase {
    const char* name;
    // Prepares the trouble; returns the failure lines expected, with OUT, TEMP and SOURCES for
    // the output, temporary and source folders.
    std::function<QStringList(RunSetting)> arrange;
};
void PrintTo(const UndeliveredCase& row, std::ostream* out) {
    *out << row.name;
}

class UndeliveredPageTest : public ConversionRunTest,
                            public ::testing::WithParamInterface<UndeliveredCase> {};

TEST_P(UndeliveredPageTest, ListsTheDocumentWithTheSystemsReason) {
    Source("a.mdi", 2);
    Source("b.mdi");
    QStringList expected = GetParam().arrange({view, dialogs, output.path(), temp.path()});
    Convert();
    expected.replaceInStrings("OUT", output.path());
    expected.replaceInStrings("TEMP", temp.path());
    expected.replaceInStrings("SOURCES", sources.path());
    EXPECT_EQ(FailureLines(), expected);
}

QStringList FolderAtAPageName(RunSetting run) {
    EXPECT_TRUE(QDir(run.output).mkdir("a_2.jpg"));
    return {"SOURCES/a.mdi (75 (page 2 not saved: OUT/a_2.jpg: Is a directory)) "};
}
QStringList OutputFolderRemovedMidRun(RunSetting run) {
    run.view.onProgressText = [view = &run.view, output = run.output] {
        if (view->texts.last() == "Processing: b.mdi") {
            QDir(output).removeRecursively();
        }
    };
    return {"SOURCES/b.mdi (76 (page 1 not saved: OUT/b_1.jpg: No such file or directory)) "};
}
QStringList TemporaryFolderMissing(RunSetting run) {
    run.dialogs.AnswerMessage(MessageAnswer::Ok);  // the error report as the run starts
    qputenv("TEMP", QFile::encodeName(run.temp + "/gone"));
    const QString line =
        " (76 (no work folder can be made in TEMP/gone: No such file or directory)) ";
    return {"SOURCES/a.mdi" + line, "SOURCES/b.mdi" + line};
}
QStringList TemporaryFolderIsAFile(RunSetting run) {
    run.dialogs.AnswerMessage(MessageAnswer::Ok);
    MakeFile(run.temp + "/file");
    qputenv("TEMP", QFile::encodeName(run.temp + "/file"));
    const QString line = " (76 (no work folder can be made in TEMP/file: Not a directory)) ";
    return {"SOURCES/a.mdi" + line, "SOURCES/b.mdi" + line};
}

INSTANTIATE_TEST_SUITE_P(
    Troubles, UndeliveredPageTest,
    ::testing::Values(UndeliveredCase{"folder_at_a_page_name", &FolderAtAPageName},
                      UndeliveredCase{"output_folder_removed", &OutputFolderRemovedMidRun},
                      UndeliveredCase{"temp_missing", &TemporaryFolderMissing},
                      UndeliveredCase{"temp_is_a_file", &TemporaryFolderIsAFile}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vellumax
