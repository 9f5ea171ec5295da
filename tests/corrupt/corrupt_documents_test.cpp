// The regression corpus of damaged documents beside this file, through both parsers of untrusted
// files: the document reader and the page converter program. Each file has one exact outcome.

#include <gtest/gtest.h>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <vector>

#include <jpeglib.h>
#include <signal.h>
#include <tiffio.h>

#include "conversion/document_conversion.h"
#include "conversion/failure_wording.h"
#include "conversion/reader/document_reader.h"
#include "test_support.h"

namespace vellumax {
namespace {

using testing::Native;

const QString kCorpus = VELLUMAX_CORRUPT_DIR;
const QString kConverter = VELLUMAX_CONVERTER_PATH;

struct CorruptCase {
    const char* file;
    // The reader's failure; number 0 when it saves the document (it copies compressed strips
    // without decoding them, so some damage only shows in the converter).
    int readerNumber;
    const char* readerDescription;
    // What the converter prints after "vellumax_converter: FILE: "; empty when it succeeds.
    const char* converterReason;
    int pagesWritten;
    // Every page written, some kept with damage (exit status 3, not 1).
    bool keptWithDamage = false;
};

void PrintTo(const CorruptCase& row, std::ostream* out) {
    *out << row.file;
}

// A page is complete when libjpeg decodes every row without so much as a warning.
struct JpegErrors {
    jpeg_error_mgr manager;
    std::jmp_buf escape;
    int warnings;
};

bool DecodesCompletely(std::FILE* file) {
    jpeg_decompress_struct info{};
    JpegErrors errors{};
    info.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = [](j_common_ptr common) {
        std::longjmp(reinterpret_cast<JpegErrors*>(common->err)->escape, 1);
    };
    errors.manager.emit_message = [](j_common_ptr common, int level) {
        reinterpret_cast<JpegErrors*>(common->err)->warnings += level < 0 ? 1 : 0;
    };
    static std::vector<JSAMPLE> row(65500 * 3);
    JSAMPROW rows[1] = {row.data()};
    bool complete = false;
    if (setjmp(errors.escape) == 0) {
        jpeg_create_decompress(&info);
        jpeg_stdio_src(&info, file);
        jpeg_read_header(&info, TRUE);
        jpeg_start_decompress(&info);
        while (info.output_scanline < info.output_height) {
            jpeg_read_scanlines(&info, rows, 1);
        }
        jpeg_finish_decompress(&info);
        complete = errors.warnings == 0;
    }
    jpeg_destroy_decompress(&info);
    return complete;
}

bool IsCompleteJpeg(const QString& path) {
    std::FILE* file = std::fopen(QFile::encodeName(path).constData(), "rb");
    if (file == nullptr) {
        return false;
    }
    const bool complete = DecodesCompletely(file);
    std::fclose(file);
    return complete;
}

QStringList Entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

QByteArray Content(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

struct ConverterRun {
    bool finished = false;
    int exitCode = -1;
    QString errors;
};

// Runs the converter in `folder` on the file named `name` there.
ConverterRun RunConverter(const QString& folder, const QString& name, QProcess& process) {
    process.setWorkingDirectory(folder);
    process.start(kConverter, {"-xall", "-q", "75", "-out", "jpeg", name});
    ConverterRun run;
    // Far beyond anything these files need: only a hang gets here.
    run.finished = process.waitForFinished(120000);
    if (!run.finished) {
        process.kill();
        process.waitForFinished();
    }
    run.exitCode = process.exitCode();
    run.errors = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

// Each case works in a folder of its own, with TMPDIR and TEMP pointed at an empty one, so
// anything written anywhere but beside the document shows.
class CorruptDocumentTest : public ::testing::TestWithParam<CorruptCase> {
protected:
    void SetUp() override {
        previousTmpdir = qgetenv("TMPDIR");
        previousTemp = qgetenv("TEMP");
        qputenv("TMPDIR", QFile::encodeName(temporary.path()));
        qputenv("TEMP", QFile::encodeName(temporary.path()));
        corpusBefore = Entries(kCorpus);
        source = work.path() + '/' + GetParam().file;
        ASSERT_TRUE(QFile::copy(kCorpus + '/' + GetParam().file, source));
    }
    void TearDown() override {
        qputenv("TMPDIR", previousTmpdir);
        qputenv("TEMP", previousTemp);
        EXPECT_EQ(Entries(temporary.path()), QStringList()) << "nothing in the temporary folder";
        EXPECT_EQ(Entries(kCorpus), corpusBefore) << "nothing beside the corpus";
        EXPECT_EQ(Content(source), Content(kCorpus + '/' + GetParam().file))
            << "the document is only read";
    }

    QTemporaryDir work, temporary;
    QByteArray previousTmpdir, previousTemp;
    QStringList corpusBefore;
    QString source;
};

TEST_P(CorruptDocumentTest, TheReaderGivesItsExactFailureAndLeavesNoTarget) {
    const CorruptCase& row = GetParam();
    const QString target = work.path() + "/saved.tif";
    const auto failure = SaveDocumentAsTiff(Native(source), Native(target));
    if (row.readerNumber == 0) {
        ASSERT_FALSE(failure) << failure->number << " " << failure->description;
        QStringList expected = {row.file, "saved.tif"};
        expected.sort();
        EXPECT_EQ(Entries(work.path()), expected);
        return;
    }
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->number, row.readerNumber);
    EXPECT_EQ(failure->description, row.readerDescription);
    EXPECT_EQ(Entries(work.path()), QStringList({row.file})) << "no target, no temporary file";
}

TEST_P(CorruptDocumentTest, TheConverterGivesOneLineAndOnlyCompletePages) {
    const CorruptCase& row = GetParam();
    QProcess process;
    const ConverterRun run = RunConverter(work.path(), row.file, process);
    ASSERT_TRUE(run.finished) << "the converter hangs";
    ASSERT_EQ(process.exitStatus(), QProcess::NormalExit) << "the converter crashes";
    const bool fails = *row.converterReason != '\0';
    EXPECT_EQ(run.exitCode, row.keptWithDamage ? 3 : fails ? 1 : 0);
    EXPECT_EQ(run.errors,
              fails ? QString("vellumax_converter: %1: %2\n").arg(row.file, row.converterReason)
                    : QString());

    QStringList expected = {row.file};
    const QString stem = QFileInfo(row.file).completeBaseName();
    for (int page = 1; page <= row.pagesWritten; ++page) {
        const QString name = stem + QString("-%1.jpg").arg(page, 4, 10, QChar('0'));
        expected << name;
        EXPECT_TRUE(IsCompleteJpeg(work.path() + '/' + name)) << name.toStdString();
    }
    expected.sort();
    EXPECT_EQ(Entries(work.path()), expected) << "the pages written and nothing else";
}

// The browser's path: reader and converter in this process, into a folder of their own.
TEST_P(CorruptDocumentTest, InOneProcessFailsAsARunDoes) {
    const CorruptCase& row = GetParam();
    const QString folder = work.path() + "/out";
    ASSERT_TRUE(QDir().mkdir(folder));
    const FolderConversion conversion =
        ConvertIntoFolder(Native(source), Native(folder), converter::OutputFormat::Jpeg, 75);
    if (row.readerNumber != 0) {
        EXPECT_EQ(conversion.failure, FailureText(row.readerNumber, row.readerDescription));
        EXPECT_TRUE(conversion.outputs.empty());
    }
    for (const FolderConversion::Output& output : conversion.outputs) {
        EXPECT_TRUE(IsCompleteJpeg(QString::fromStdString(output.file.string())));
    }
    const bool allPages =
        conversion.pages > 0 && std::ssize(conversion.outputs) == conversion.pages;
    EXPECT_EQ(conversion.failure.empty(), allPages && !row.keptWithDamage) << conversion.failure;
    EXPECT_EQ(Entries(folder).size(), std::ssize(conversion.outputs)) << "only the pages stay";
    QDir(folder).removeRecursively();
}

const char kCutShort[] =
    "Invalid file format: page 1 is cut short: its image data reach past the end of the file";
const char kStripBeyond[] =
    "page 1: strip 1 lies beyond the end of the file (the file is damaged or cut off)";
const char kStripHoldsNothing[] =
    "Invalid file format: page 1 is damaged: its strip 2 holds no data";
const char kNoLzwCode[] = "page 1: cannot decode row 1: Using code not yet in table";

const std::vector<CorruptCase> kCases = {
    // Cut short.
    CorruptCase{"empty.tif", 321, "Invalid file format: the file is empty",
                "not a readable TIFF file: Cannot read TIFF header", 0},
    CorruptCase{"header-cut-short.tif", 321,
                "Invalid file format: the file is 6 bytes long, too short for a document's header",
                "not a readable TIFF file: Cannot read TIFF header", 0},
    CorruptCase{"directory-cut-short.tif", 321,
                "Invalid file format: the first page cannot be read: Can not read TIFF directory",
                "not a readable TIFF file: Can not read TIFF directory", 0},
    CorruptCase{"strip-cut-short.tif", 321, kCutShort, kStripBeyond, 0},
    // Offsets that point nowhere.
    CorruptCase{"no-directory.tif", 321, "Invalid file format: the document holds no page",
                "not a readable TIFF file", 0},
    CorruptCase{"directory-past-end.tif", 321,
                "Invalid file format: the first page cannot be read: Can not read TIFF "
                "directory count",
                "not a readable TIFF file: Can not read TIFF directory count", 0},
    CorruptCase{"bigtiff-directory-past-end.tif", 321,
                "Invalid file format: the first page cannot be read: Can not read TIFF "
                "directory count",
                "not a readable TIFF file: Can not read TIFF directory count", 0},
    CorruptCase{"imaging-header-garbage.mdi", 321,
                "Invalid file format: the first page cannot be read: Can not read TIFF "
                "directory count",
                "not a readable TIFF file: Can not read TIFF directory count", 0},
    CorruptCase{"strip-offset-past-end.tif", 321, kCutShort, kStripBeyond, 0},
    CorruptCase{"strip-offset-wraps.tif", 321, kCutShort, kStripBeyond, 0},
    CorruptCase{"tile-past-end.tif", 321, kCutShort,
                "page 1: tile 1 lies beyond the end of the file (the file is damaged or cut "
                "off)",
                0},
    CorruptCase{"second-page-strip-past-end.tif", 321,
                "Invalid file format: page 2 is cut short: its image data reach past the end "
                "of the file",
                "page 2: strip 1 lies beyond the end of the file (the file is damaged or cut "
                "off)",
                1},
    // Zero and huge sizes.
    CorruptCase{"width-zero.tif", 321,
                "Invalid file format: the first page cannot be read: Computed scanline size is "
                "zero",
                "not a readable TIFF file: Computed scanline size is zero", 0},
    CorruptCase{"rows-per-strip-zero.tif", 321,
                "Invalid file format: the first page cannot be read: Bad value 0 for "
                "\"RowsPerStrip\" tag",
                "not a readable TIFF file: Bad value 0 for \"RowsPerStrip\" tag", 0},
    CorruptCase{"tile-width-zero.tif", 321,
                "Invalid file format: the first page cannot be read: Cannot handle zero number "
                "of tiles",
                "not a readable TIFF file: Cannot handle zero number of tiles", 0},
    CorruptCase{"strip-byte-count-huge.tif", 321, kCutShort, kStripBeyond, 0},
    CorruptCase{"strip-byte-count-zero.tif", 0, "", kNoLzwCode, 0},
    CorruptCase{"page-over-a-gibibyte.tif", 7,
                "Out of memory: page 1 is 40000 x 40000 pixels, which needs more than 1 GiB "
                "decoded",
                "page 1: decoding the page would need 1526 MiB, more than the limit of 1 GiB", 0},
    CorruptCase{"wider-than-a-jpeg.tif", 0, "",
                "page 1: the page is 70000 x 8 pixels, more than a JPEG can hold (65500)", 0},
    CorruptCase{"samples-per-pixel-huge.tif", 321, kCutShort, kStripBeyond, 0},
    CorruptCase{"bits-per-sample-13.tif", 321,
                "Invalid file format: page 1 cannot be converted: Sorry, can not handle "
                "images with 13-bit samples",
                kStripBeyond, 0},
    // Loops in the directory chain: the converter keeps the pages before the loop.
    CorruptCase{"directory-loops-to-itself.tif", 321,
                "Invalid file format: the page chain breaks off after page 1: TIFF directory 0 "
                "has IFD looping to directory 0 at offset 0x8 (8)",
                "page 2: cannot read it: TIFF directory 0 has IFD looping to directory 0 at "
                "offset 0x8 (8)",
                1},
    CorruptCase{"directory-loops-back.tif", 321,
                "Invalid file format: the page chain breaks off after page 2: TIFF directory 1 "
                "has IFD looping to directory 0 at offset 0x8 (8)",
                "page 3: cannot read it: TIFF directory 1 has IFD looping to directory 0 at "
                "offset 0x8 (8)",
                2},
    // Wrong counts.
    CorruptCase{"strip-count-short.tif", 321, kStripHoldsNothing,
                "page 1: cannot decode row 3: Invalid strip byte count 0, strip 1", 0},
    CorruptCase{"strips-more-than-the-file.tif", 321, kStripHoldsNothing,
                "page 1: the page declares 60000 strips, more than the file could hold", 0},
    CorruptCase{"tag-count-huge.tif", 321, kCutShort, kStripBeyond, 0},
    CorruptCase{"palette-without-colour-map.tif", 321,
                "Invalid file format: the first page cannot be read: TIFF directory is missing "
                "required \"Colormap\" field",
                "not a readable TIFF file: TIFF directory is missing required \"Colormap\" "
                "field",
                0},
    // Compressed data that is noise. libtiff fills in bad G4 lines and goes on: the page
    // comes out, named as kept with damage.
    CorruptCase{"lzw-strip-noise.tif", 0, "", kNoLzwCode, 0},
    CorruptCase{"deflate-strip-noise.tif", 0, "",
                "page 1: cannot decode row 1: Decoding error at scanline 0, incorrect header "
                "check",
                0},
    CorruptCase{"jpeg-strip-noise.tif", 321,
                "Invalid file format: page 1 cannot be decoded: Not a JPEG file: starts with "
                "0x29 0xf8",
                "page 1: cannot decode row 1: Not a JPEG file: starts with 0x29 0xf8", 0},
    CorruptCase{"g4-strip-noise.tif", 0, "",
                "page 1 kept with damage: Line length mismatch at line 0 of strip 0 (got 20, "
                "expected 16)",
                1, true},
    // Found by fuzzing: libtiff's message ran over two lines into the failure list.
    CorruptCase{"two-line-libtiff-message.tif", 321,
                "Invalid file format: page 1 cannot be decoded: Improper JPEG sampling factors "
                "2,2 Apparently should be 1,1.",
                "page 1: cannot decode row 1: Improper JPEG sampling factors 2,2 Apparently "
                "should be 1,1.",
                0},
};

INSTANTIATE_TEST_SUITE_P(Corpus, CorruptDocumentTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<CorruptCase>& info) {
                             QString name = QFileInfo(info.param.file).completeBaseName();
                             return name.replace('-', '_').toStdString();
                         });

// A file added to the corpus without a row above would never be tried.
TEST(CorruptCorpusTest, EveryFileHasItsCase) {
    const QStringList files = QDir(kCorpus).entryList({"*.tif", "*.mdi"}, QDir::Files, QDir::Name);
    QStringList cases;
    for (const CorruptCase& row : kCases) {
        cases << row.file;
    }
    cases.sort();
    EXPECT_EQ(cases, files);
}

// ---- Sparse files: a few KiB on disk whose length lets a page declare gibibytes of compressed
// data. Each page is a header and one directory, its strips all at the same place.

struct SparseCase {
    const char* name;
    std::uint32_t width, height;
    std::uint16_t bits, samples, photometric, compression;
    std::uint32_t rowsPerStrip;
    std::uint64_t stripBytes;  // each strip's
    int readerNumber;
    const char* readerDescription;
    const char* converterReason;
};

void PrintTo(const SparseCase& row, std::ostream* out) {
    *out << row.name;
}

void WriteSparsePage(const QString& path, const SparseCase& page) {
    constexpr std::uint32_t kData = 4096;
    const std::uint32_t strips = (page.height + page.rowsPerStrip - 1) / page.rowsPerStrip;
    const std::uint32_t lists = 8 + 2 + 9 * 12 + 4;  // after the header and the directory
    QByteArray bytes("II*\0\x08\0\0\0\x09\0", 10);
    const auto put = [&bytes](std::uint32_t value, int size) {
        bytes.append(reinterpret_cast<const char*>(&value), size);
    };
    const auto entry = [&](std::uint16_t tag, std::uint16_t type, std::uint32_t count,
                           std::uint32_t value) {
        put(tag, 2);
        put(type, 2);
        put(count, 4);
        put(value, 4);
    };
    const bool one = strips == 1;
    entry(256, 4, 1, page.width);
    entry(257, 4, 1, page.height);
    entry(258, 3, 1, page.bits);
    entry(259, 3, 1, page.compression);
    entry(262, 3, 1, page.photometric);
    entry(273, 4, strips, one ? kData : lists);
    entry(277, 3, 1, page.samples);
    entry(278, 4, 1, page.rowsPerStrip);
    entry(279, 4, strips, one ? static_cast<std::uint32_t>(page.stripBytes) : lists + 4 * strips);
    put(0, 4);
    for (std::uint32_t strip = 0; strip < strips && !one; ++strip) {
        put(kData, 4);
    }
    for (std::uint32_t strip = 0; strip < strips && !one; ++strip) {
        put(static_cast<std::uint32_t>(page.stripBytes), 4);
    }
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_LE(bytes.size(), kData);
    file.write(bytes);
    ASSERT_TRUE(file.resize(kData + page.stripBytes));
}

class SparseDocumentTest : public ::testing::TestWithParam<SparseCase> {};

TEST_P(SparseDocumentTest, RefusedBeforeAnythingIsReadOrWritten) {
    const SparseCase& row = GetParam();
    QTemporaryDir work;
    const QString name = QString(row.name) + ".tif";
    WriteSparsePage(work.path() + '/' + name, row);

    const auto failure =
        SaveDocumentAsTiff(Native(work.path() + '/' + name), Native(work.path() + "/saved.tif"));
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->number, row.readerNumber);
    EXPECT_EQ(failure->description, row.readerDescription);
    EXPECT_EQ(Entries(work.path()), QStringList{name});

    QProcess process;
    const ConverterRun run = RunConverter(work.path(), name, process);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.errors, QString("vellumax_converter: %1: %2\n").arg(name, row.converterReason));
    EXPECT_EQ(Entries(work.path()), QStringList{name});
}

constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;

INSTANTIATE_TEST_SUITE_P(
    Declared, SparseDocumentTest,
    ::testing::Values(
        // An A4 page at 300 dpi in G4, whose strips are copied as they are.
        SparseCase{"g4_strip_of_1536_mib", 2480, 3300, 1, 1, PHOTOMETRIC_MINISWHITE,
                   COMPRESSION_CCITTFAX4, 3300, 1536 * kMiB, 321,
                   "Invalid file format: page 1 is damaged: its strip 1 declares 1536 MiB of "
                   "compressed data, more than its pixels can need (8 MiB)",
                   "page 1: strip 1 declares 1536 MiB of compressed data, more than its pixels "
                   "can need (the file is damaged)"},
        // A colour page of the imaging component's transform codec, read whole to be decoded.
        SparseCase{"colour_strip_of_3072_mib", 2400, 3840, 8, 3, PHOTOMETRIC_RGB, 34720, 3840,
                   3072 * kMiB, 321,
                   "Invalid file format: page 1 is damaged: its strip 1 declares 3072 MiB of "
                   "compressed data, more than its pixels can need (53 MiB)",
                   "page 1: strip 1 declares 3072 MiB of compressed data, more than its pixels "
                   "can need (the file is damaged)"},
        // 30 strips, each within what its pixels can need, together over the page's limit.
        SparseCase{"lzw_page_of_1145_mib", 30000, 30000, 8, 1, PHOTOMETRIC_MINISBLACK,
                   COMPRESSION_LZW, 1000, 40000000, 7,
                   "Out of memory: page 1 declares more than 1 GiB of compressed data",
                   "page 1: the page's compressed data would need 1145 MiB, more than the limit "
                   "of 1 GiB"},
        // One strip held with its decoded strip and the RGBA band rendered from it.
        SparseCase{"ycbcr_strip_held_with_its_raster", 12000, 12000, 8, 3, PHOTOMETRIC_YCBCR,
                   COMPRESSION_LZW, 12000, 300 * kMiB, 7,
                   "Out of memory: page 1 needs more than 1 GiB of memory at once to be decoded",
                   "page 1: one strip would need 1056 MiB, more than the limit of 1 GiB"}),
    [](const ::testing::TestParamInfo<SparseCase>& info) { return std::string(info.param.name); });

// Pages that each decode to a gibibyte from a few KiB of G4: slow enough to be caught while
// the first one is being written.
void WriteSlowDocument(const QString& path) {
    TIFF* tiff = TIFFOpen(QFile::encodeName(path).constData(), "w");
    ASSERT_NE(tiff, nullptr);
    constexpr std::uint32_t kSide = 32760;
    const std::vector<std::uint8_t> row(kSide / 8, 0);
    for (int page = 0; page < 2; ++page) {
        TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, kSide);
        TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, kSide);
        TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 1);
        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
        TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
        TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, kSide);
        for (std::uint32_t y = 0; y < kSide; ++y) {
            ASSERT_EQ(TIFFWriteScanline(tiff, const_cast<std::uint8_t*>(row.data()), y, 0), 1);
        }
        ASSERT_TRUE(TIFFWriteDirectory(tiff));
    }
    TIFFClose(tiff);
}

bool WritesAPage(const QString& folder) {
    return !QDir(folder).entryList({".page-*"}, QDir::Files | QDir::Hidden).isEmpty();
}

// The watchdog's alarm is raised at once, while a page is half written, rather than waited for.
TEST(ConverterWatchdogTest, StopsWithOneLineAndLeavesNoPartialPage) {
    QTemporaryDir work;
    WriteSlowDocument(work.path() + "/slow.tif");
    const qint64 size = QFileInfo(work.path() + "/slow.tif").size();
    QProcess process;
    process.setWorkingDirectory(work.path());
    process.start(kConverter, {"-xall", "-q", "75", "-out", "jpeg", "slow.tif"});
    ASSERT_TRUE(process.waitForStarted());
    while (process.state() == QProcess::Running && !WritesAPage(work.path())) {
        QThread::msleep(5);
    }
    ASSERT_EQ(process.state(), QProcess::Running) << "converted before it could be stopped";
    ::kill(static_cast<pid_t>(process.processId()), SIGALRM);
    ASSERT_TRUE(process.waitForFinished(120000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 1);
    EXPECT_EQ(QString::fromLocal8Bit(process.readAllStandardError()),
              QString("vellumax_converter: slow.tif: stopped after %1 seconds, the longest a file "
                      "of this size may take\n")
                  .arg(60 + size / 1024));
    EXPECT_EQ(Entries(work.path()), QStringList({"slow.tif"}));
}

}  // namespace
}  // namespace vellumax
