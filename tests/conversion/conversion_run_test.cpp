#include "conversion/conversion_run.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <functional>

#include "filelist/file_list.h"
#include "platform/build_config.h"
#include "platform/runtime_error.h"
#include "scripted_dialogs.h"
#include "test_documents.h"
#include "test_support.h"

namespace vellumax {
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

    QList<int> pointers;
    QList<double> values;
    QStringList texts;
    QString outputFolder;
    bool saveToFolder = true;
    std::function<void()> onProgressText;
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
    for (const char* name :
         {"scan.2019.mdi", ".mdi", "it's \"a\" $(touch pwned) `touch pwned` b.mdi"}) {
        Source(name);
    }
    Convert();
    EXPECT_EQ(ClosingMessage(), "Done.");
    EXPECT_EQ(OutputNames(),
              QStringList({".mdi_1.jpg", "it's \"a\" $(touch pwned) `touch pwned` b_1.jpg",
                           "scan.2019_1.jpg"}));
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

TEST_F(ConversionRunTest, FailedDocumentsAreListedInTheClosingMessage) {
    const QString bad = sources.path() + "/unreadable.mdi";
    list.Append(bad);
    Source("good.mdi");
    Convert();
    EXPECT_EQ(ClosingMessage(),
              "Done.\r\n\r\nError #2122:\r\nFollowing files: \r\n" + bad +
                  " (321 (Invalid file format)) \r\n\r\ncould not be operated. They could be "
                  "opened by another program. \r\nPlease email screenshot of this message and "
                  "some of files to " +
                  build_config::kSupportEmail);
    EXPECT_EQ(OutputNames(), QStringList({"good_1.jpg"}));
}

TEST_F(ConversionRunTest, ADocumentTheConverterCannotReadIsAFailureNotASuccess) {
    const QString broken = sources.path() + "/broken.mdi";
    MakeFile(broken, "II*\0 this is no real TIFF");
    list.Append(broken);
    Convert();
    EXPECT_TRUE(ClosingMessage().contains(
        broken + " (321 (The page converter wrote no page image, exit status "))
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

    // The converter's own line names the copy in the run's folder, whose name is random.
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
        QRegularExpression::escape(noise +
                                   " (321 (The page converter wrote no page image, exit "
                                   "status 1: nconvert.exe: ") +
        "/[^ ]+/" +
        QRegularExpression::escape(
            "lzw-strip-noise.tif: page 1: cannot decode row 1: Using code "
            "not yet in table)) \r\n") +
        line(loop,
             "321 (Invalid file format: TIFF directory 1 has IFD looping to directory 0 at "
             "offset 0x8 (8))") +
        line(empty, "321 (Invalid file format)");
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

}  // namespace
}  // namespace vellumax
