#include "conversion/reader/document_reader.h"

#include <gtest/gtest.h>
#include <tiffio.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "conversion/reader/tiff_target.h"
#include "test_documents.h"
#include "test_support.h"

namespace vellumax {

void PrintTo(const ReaderFailure& failure, std::ostream* out) {
    *out << failure.number << " (" << failure.description << ")";
}

namespace {

using testing::MakeFile;
using testing::Native;

// Data rows show as their names in test listings.
template <typename Row>
requires requires(const Row& row) {
    row.name;
}
void PrintTo(const Row& row, std::ostream* out) {
    *out << row.name;
}

constexpr std::uint32_t kWidth = 37;  // odd, so rows end inside a byte and a tile
constexpr std::uint32_t kHeight = 23;

// How a generated page stores its pixels.
struct Form {
    std::uint16_t photometric;
    std::uint16_t bits;
    std::uint16_t samples;
    std::uint16_t compression;
    std::uint16_t planar = PLANARCONFIG_CONTIG;
    bool tiled = false;
};

// What the generator stores at (x, y): dots for 1-bit pages, a gradient otherwise.
std::uint32_t StoredSample(const Form& form, int page, std::uint32_t x, std::uint32_t y,
                           int sample) {
    if (form.bits == 1) {
        return (x * 5 + y * 3 + page) % 7 < 3 ? 1 : 0;
    }
    const std::uint32_t value = x * 2 + y + page * 20 + sample * 40;  // at most 234
    return form.bits == 16 ? value * 257 : value >> (8 - form.bits);
}

// 16-bit map entries whose high byte is the colour; the low byte tells 8-bit maps apart.
std::uint16_t PaletteEntry(int channel, std::uint32_t index) {
    const std::uint32_t values[] = {index, 255 - index, index * 7 % 256};
    return static_cast<std::uint16_t>(values[channel] * 256 + 128);
}

void PutSample(std::vector<std::uint8_t>& row, std::uint64_t index, std::uint16_t bits,
               std::uint32_t value) {
    if (bits == 16) {
        const auto wide = static_cast<std::uint16_t>(value);
        std::memcpy(&row[2 * index], &wide, 2);
    } else {
        const std::uint64_t bit = index * bits;
        row[bit / 8] |= static_cast<std::uint8_t>(value << (8 - bits - bit % 8));
    }
}

// One plane (or all samples interleaved) of one row, as stored.
std::vector<std::uint8_t> StoredRow(const Form& form, int page, std::uint32_t y, int plane) {
    const bool planes = form.planar == PLANARCONFIG_SEPARATE;
    const int samples = planes ? 1 : form.samples;
    std::vector<std::uint8_t> row((kWidth * samples * form.bits + 7) / 8);
    for (std::uint32_t x = 0; x < kWidth; ++x) {
        for (int s = 0; s < samples; ++s) {
            PutSample(row, std::uint64_t{x} * samples + s, form.bits,
                      StoredSample(form, page, x, y, planes ? plane : s));
        }
    }
    return row;
}

void WritePixels(TIFF* tiff, const Form& form, int page) {
    if (form.tiled) {  // 8-bit single-sample forms only
        std::vector<std::uint8_t> tile(16 * 16);
        for (std::uint32_t top = 0; top < kHeight; top += 16) {
            for (std::uint32_t left = 0; left < kWidth; left += 16) {
                for (std::uint32_t y = 0; y < 16; ++y) {
                    for (std::uint32_t x = 0; x < 16; ++x) {
                        tile[y * 16 + x] = static_cast<std::uint8_t>(
                            StoredSample(form, page, left + x, top + y, 0));
                    }
                }
                ASSERT_GE(TIFFWriteTile(tiff, tile.data(), left, top, 0, 0), 0);
            }
        }
        return;
    }
    const int planes = form.planar == PLANARCONFIG_SEPARATE ? form.samples : 1;
    for (int plane = 0; plane < planes; ++plane) {
        for (std::uint32_t y = 0; y < kHeight; ++y) {
            auto row = StoredRow(form, page, y, plane);
            ASSERT_GE(TIFFWriteScanline(tiff, row.data(), y, static_cast<std::uint16_t>(plane)), 0);
        }
    }
}

void WritePage(TIFF* tiff, const Form& form, int page) {
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, kWidth);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, kHeight);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, form.bits);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, form.samples);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, form.photometric);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, form.planar);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, form.compression);
    TIFFSetField(tiff, TIFFTAG_XRESOLUTION, 100.0 + page);
    TIFFSetField(tiff, TIFFTAG_YRESOLUTION, 50.0 + page);
    TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, page % 2 ? RESUNIT_INCH : RESUNIT_CENTIMETER);
    if (form.tiled) {
        TIFFSetField(tiff, TIFFTAG_TILEWIDTH, 16);
        TIFFSetField(tiff, TIFFTAG_TILELENGTH, 16);
    } else {
        TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, form.compression == COMPRESSION_JPEG ? 16 : 5);
    }
    if (form.photometric == PHOTOMETRIC_PALETTE) {
        std::vector<std::uint16_t> maps[3];
        for (int channel = 0; channel < 3; ++channel) {
            for (std::uint32_t index = 0; index < (1u << form.bits); ++index) {
                maps[channel].push_back(PaletteEntry(channel, index));
            }
        }
        TIFFSetField(tiff, TIFFTAG_COLORMAP, maps[0].data(), maps[1].data(), maps[2].data());
    }
    if (form.compression == COMPRESSION_JPEG) {
        TIFFSetField(tiff, TIFFTAG_JPEGQUALITY, 95);
        TIFFSetField(tiff, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    }
    WritePixels(tiff, form, page);
}

void WriteDocument(const QString& path, const Form& form, int pages, const char* mode = "w") {
    TIFF* tiff = TIFFOpen(QFile::encodeName(path).constData(), mode);
    ASSERT_NE(tiff, nullptr);
    for (int page = 1; page <= pages; ++page) {
        WritePage(tiff, form, page);
        TIFFWriteDirectory(tiff);
    }
    TIFFClose(tiff);
}

const Form kRgb{PHOTOMETRIC_RGB, 8, 3, COMPRESSION_LZW};
const Form kGrey{PHOTOMETRIC_MINISBLACK, 8, 1, COMPRESSION_NONE};

QByteArray Contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void Store(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

// Classic little-endian directory chain, as the generator writes it.
std::uint32_t Word(const QByteArray& bytes, std::uint32_t at) {
    std::uint32_t value = 0;
    std::memcpy(&value, bytes.constData() + at, 4);
    return value;
}
void SetWord(QByteArray& bytes, std::uint32_t at, std::uint32_t value) {
    std::memcpy(bytes.data() + at, &value, 4);
}
std::uint16_t EntryCount(const QByteArray& bytes, std::uint32_t directory) {
    std::uint16_t count = 0;
    std::memcpy(&count, bytes.constData() + directory, 2);
    return count;
}
std::vector<std::uint32_t> Directories(const QByteArray& bytes) {
    std::vector<std::uint32_t> offsets;
    for (std::uint32_t at = Word(bytes, 4); at != 0;
         at = Word(bytes, at + 2 + 12 * EntryCount(bytes, at))) {
        offsets.push_back(at);
    }
    return offsets;
}

// Collects what the process writes to standard error, where libtiff prints by default.
class StderrCapture {
public:
    StderrCapture() {
        file_.open();
        std::fflush(stderr);
        saved_ = ::dup(2);
        ::dup2(file_.handle(), 2);
    }
    QByteArray Finish() {
        std::fflush(stderr);
        ::dup2(saved_, 2);
        ::close(saved_);
        return Contents(file_.fileName());
    }

private:
    QTemporaryFile file_;
    int saved_ = -1;
};

class ReaderTest : public ::testing::Test {
protected:
    QString In(const QString& name) const { return folder_.filePath(name); }
    QStringList Entries() const {
        return QDir(folder_.path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }
    // Runs the reader and keeps libtiff's printing, which must be none.
    std::optional<ReaderFailure> Save(const QString& source, const QString& target) {
        StderrCapture capture;
        auto failure = SaveDocumentAsTiff(Native(source), Native(target));
        EXPECT_EQ(capture.Finish(), QByteArray());
        return failure;
    }
    void ExpectFailure(const std::optional<ReaderFailure>& failure, int number,
                       const QString& description) {
        ASSERT_TRUE(failure.has_value());
        EXPECT_EQ(failure->number, number);
        EXPECT_TRUE(failure->description.starts_with(description.toStdString()))
            << failure->description;
    }

    QTemporaryDir folder_;
};

struct WrittenPage {
    std::uint32_t width = 0, height = 0;
    std::uint16_t bits = 0, samples = 0, photometric = 0, compression = 0, unit = 0;
    float xResolution = 0, yResolution = 0;
    std::vector<std::vector<std::uint8_t>> rows;
};

std::vector<WrittenPage> ReadWritten(const QString& path) {
    std::vector<WrittenPage> pages;
    TIFF* tiff = TIFFOpen(QFile::encodeName(path).constData(), "r");
    if (tiff == nullptr) {
        return pages;
    }
    do {
        WrittenPage page;
        TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &page.width);
        TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &page.height);
        TIFFGetField(tiff, TIFFTAG_BITSPERSAMPLE, &page.bits);
        TIFFGetField(tiff, TIFFTAG_SAMPLESPERPIXEL, &page.samples);
        TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &page.photometric);
        TIFFGetField(tiff, TIFFTAG_COMPRESSION, &page.compression);
        TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &page.xResolution);
        TIFFGetField(tiff, TIFFTAG_YRESOLUTION, &page.yResolution);
        TIFFGetField(tiff, TIFFTAG_RESOLUTIONUNIT, &page.unit);
        for (std::uint32_t y = 0; y < page.height; ++y) {
            page.rows.emplace_back(static_cast<std::size_t>(TIFFScanlineSize64(tiff)));
            TIFFReadScanline(tiff, page.rows.back().data(), y, 0);
        }
        pages.push_back(std::move(page));
    } while (TIFFReadDirectory(tiff));
    TIFFClose(tiff);
    return pages;
}

// ---- Every kind of page, several to a document, keeps its pixels and resolution.

struct PageCase {
    const char* name;
    Form form;
    int tolerance;  // for JPEG's loss only
};

class PageKindTest : public ReaderTest, public ::testing::WithParamInterface<PageCase> {};

std::uint8_t ExpectedSample(const Form& form, int page, std::uint32_t x, std::uint32_t y,
                            int channel) {
    const auto byte = [&](int sample) {
        const std::uint32_t maximum = form.bits == 16 ? 65535 : (1u << form.bits) - 1;
        return static_cast<std::uint8_t>(
            (StoredSample(form, page, x, y, sample) * 255 + maximum / 2) / maximum);
    };
    switch (form.photometric) {
        case PHOTOMETRIC_MINISWHITE:
            return 255 - byte(0);
        case PHOTOMETRIC_MINISBLACK:
            return byte(0);
        case PHOTOMETRIC_PALETTE:
            return PaletteEntry(channel, StoredSample(form, page, x, y, 0)) >> 8;
        default:
            return byte(channel);
    }
}

TEST_P(PageKindTest, EveryPageKeepsItsPixelsAndResolution) {
    const Form form = GetParam().form;
    WriteDocument(In("doc.tif"), form, 3);

    ASSERT_EQ(Save(In("doc.tif"), In("out.tif")), std::nullopt);

    ASSERT_TRUE(Contents(In("out.tif")).startsWith(QByteArray("II*\0", 4)));
    const auto pages = ReadWritten(In("out.tif"));
    ASSERT_EQ(pages.size(), 3u);
    const bool bilevel = form.bits == 1 && form.photometric != PHOTOMETRIC_PALETTE;
    const bool grey = form.photometric <= PHOTOMETRIC_MINISBLACK && !bilevel;
    for (int number = 1; number <= 3; ++number) {
        const WrittenPage& page = pages[number - 1];
        EXPECT_EQ(page.width, kWidth);
        EXPECT_EQ(page.height, kHeight);
        EXPECT_EQ(page.bits, bilevel ? 1 : 8);
        EXPECT_EQ(page.samples, bilevel || grey ? 1 : 3);
        EXPECT_EQ(page.photometric, bilevel ? form.photometric
                                    : grey  ? PHOTOMETRIC_MINISBLACK
                                            : PHOTOMETRIC_RGB);
        if (bilevel) {
            EXPECT_EQ(page.compression, COMPRESSION_CCITTFAX4);
        } else {  // written plain, or the source's own lossless strips copied as they are
            EXPECT_TRUE(page.compression == COMPRESSION_NONE ||
                        page.compression == form.compression)
                << page.compression;
        }
        EXPECT_EQ(page.xResolution, 100.0f + number);
        EXPECT_EQ(page.yResolution, 50.0f + number);
        EXPECT_EQ(page.unit, number % 2 ? RESUNIT_INCH : RESUNIT_CENTIMETER);
        for (std::uint32_t y = 0; y < kHeight; ++y) {
            for (std::uint32_t x = 0; x < kWidth; ++x) {
                for (int channel = 0; channel < page.samples; ++channel) {
                    const int written = bilevel ? (page.rows[y][x / 8] >> (7 - x % 8)) & 1
                                                : page.rows[y][x * page.samples + channel];
                    const int expected = bilevel
                                             ? static_cast<int>(StoredSample(form, number, x, y, 0))
                                             : ExpectedSample(form, number, x, y, channel);
                    ASSERT_LE(std::abs(written - expected), GetParam().tolerance)
                        << "page " << number << " at " << x << "," << y << " channel " << channel;
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, PageKindTest,
    ::testing::Values(
        PageCase{"BilevelG4", {PHOTOMETRIC_MINISWHITE, 1, 1, COMPRESSION_CCITTFAX4}, 0},
        PageCase{"BilevelPackBits", {PHOTOMETRIC_MINISBLACK, 1, 1, COMPRESSION_PACKBITS}, 0},
        PageCase{"Grey8Lzw", {PHOTOMETRIC_MINISBLACK, 8, 1, COMPRESSION_LZW}, 0},
        PageCase{"Grey4MinIsWhite", {PHOTOMETRIC_MINISWHITE, 4, 1, COMPRESSION_NONE}, 0},
        PageCase{"Grey16Deflate", {PHOTOMETRIC_MINISBLACK, 16, 1, COMPRESSION_ADOBE_DEFLATE}, 0},
        PageCase{"GreyTiled",
                 {PHOTOMETRIC_MINISBLACK, 8, 1, COMPRESSION_LZW, PLANARCONFIG_CONTIG, true},
                 0},
        PageCase{"Palette8", {PHOTOMETRIC_PALETTE, 8, 1, COMPRESSION_LZW}, 0},
        PageCase{"Palette4", {PHOTOMETRIC_PALETTE, 4, 1, COMPRESSION_NONE}, 0},
        PageCase{"RgbDeflate", {PHOTOMETRIC_RGB, 8, 3, COMPRESSION_ADOBE_DEFLATE}, 0},
        PageCase{"RgbPlanes", {PHOTOMETRIC_RGB, 8, 3, COMPRESSION_NONE, PLANARCONFIG_SEPARATE}, 0},
        PageCase{"JpegYCbCr", {PHOTOMETRIC_YCBCR, 8, 3, COMPRESSION_JPEG}, 10}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Headers and sources: what is accepted and what is refused.

struct SourceCase {
    const char* name;
    void (*make)(const QString& path);
    int number;  // 0: accepted
    const char* description;
};

class SourceTest : public ReaderTest, public ::testing::WithParamInterface<SourceCase> {};

TEST_P(SourceTest, AcceptsDocumentHeadersAndRefusesTheRest) {
    const QString source = In("doc");
    GetParam().make(source);
    const QByteArray before = Contents(source);
    MakeFile(In("out.tif"), "old");
    const QStringList entries = Entries();

    const auto failure = Save(source, In("out.tif"));

    EXPECT_EQ(Contents(source), before);
    EXPECT_EQ(Entries(), entries);  // nothing left over
    if (GetParam().number == 0) {
        ASSERT_EQ(failure, std::nullopt);
        EXPECT_TRUE(Contents(In("out.tif")).startsWith(QByteArray("II*\0", 4)));
        EXPECT_EQ(ReadWritten(In("out.tif")).size(), 2u);
    } else {
        ExpectFailure(failure, GetParam().number, GetParam().description);
        EXPECT_EQ(Contents(In("out.tif")), "old");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Headers, SourceTest,
    ::testing::Values(
        SourceCase{"ImagingHeader",
                   [](const QString& path) {
                       WriteDocument(path, kRgb, 2);
                       QByteArray bytes = Contents(path);
                       Store(path, bytes.replace(0, 2, "EP"));
                   },
                   0, ""},
        SourceCase{"LittleEndian", [](const QString& path) { WriteDocument(path, kRgb, 2, "wl"); },
                   0, ""},
        SourceCase{"BigEndian", [](const QString& path) { WriteDocument(path, kRgb, 2, "wb"); }, 0,
                   ""},
        SourceCase{"BigTiff", [](const QString& path) { WriteDocument(path, kGrey, 2, "w8"); }, 0,
                   ""},
        SourceCase{"ImagingHeaderWithoutDirectory",
                   [](const QString& path) { MakeFile(path, QByteArray("EP*\0\xff\xff\0\0", 8)); },
                   321, "Invalid file format: "},
        SourceCase{"Garbage", [](const QString& path) { MakeFile(path, "not a document at all"); },
                   321, "Invalid file format"},
        SourceCase{"Empty", [](const QString& path) { MakeFile(path, ""); }, 321,
                   "Invalid file format"},
        SourceCase{"Missing", [](const QString&) {}, 53, "File not found"},
        SourceCase{"Folder", [](const QString& path) { QDir().mkpath(path); }, 75,
                   "Path/File access error"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Damaged documents fail as a whole and leave no target.

struct DamageCase {
    const char* name;
    void (*damage)(QByteArray& bytes);
    const char* description;
};

class DamageTest : public ReaderTest, public ::testing::WithParamInterface<DamageCase> {};

TEST_P(DamageTest, FailsAndLeavesNoTarget) {
    WriteDocument(In("doc.tif"), kGrey, 3);
    QByteArray bytes = Contents(In("doc.tif"));
    GetParam().damage(bytes);
    Store(In("doc.tif"), bytes);

    ExpectFailure(Save(In("doc.tif"), In("out.tif")), 321, GetParam().description);
    EXPECT_EQ(Entries(), QStringList{"doc.tif"});
}

INSTANTIATE_TEST_SUITE_P(
    Damage, DamageTest,
    ::testing::Values(
        DamageCase{"CutShort", [](QByteArray& bytes) { bytes.truncate(bytes.size() * 6 / 10); },
                   "Invalid file format: "},
        DamageCase{"StripPastTheEnd",
                   [](QByteArray& bytes) {
                       const std::uint32_t last = Directories(bytes).back();
                       for (std::uint16_t entry = 0; entry < EntryCount(bytes, last); ++entry) {
                           const std::uint32_t at = last + 2 + 12 * entry;
                           if (bytes[at] == char(273 & 0xff) && bytes[at + 1] == char(273 >> 8)) {
                               SetWord(bytes, Word(bytes, at + 8), bytes.size() - 4);
                           }
                       }
                   },
                   "Invalid file format: page 3 is cut short"},
        DamageCase{"DirectoryLoop",
                   [](QByteArray& bytes) {
                       const auto directories = Directories(bytes);
                       const std::uint32_t last = directories.back();
                       SetWord(bytes, last + 2 + 12 * EntryCount(bytes, last), directories[1]);
                   },
                   "Invalid file format: "}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Every failure says what is wrong, in its own words: never a bare "Invalid file format",
// never libtiff's note on a tag it cannot read, never the file's name again.

// The offset of the first directory's entry for `tag`.
std::uint32_t EntryOf(const QByteArray& bytes, std::uint16_t tag) {
    const std::uint32_t first = Directories(bytes).front();
    for (std::uint16_t entry = 0; entry < EntryCount(bytes, first); ++entry) {
        const std::uint32_t at = first + 2 + 12 * entry;
        std::uint16_t found = 0;
        std::memcpy(&found, bytes.constData() + at, 2);
        if (found == tag) {
            return at;
        }
    }
    ADD_FAILURE() << "no tag " << tag;
    return 0;
}

struct ReasonCase {
    const char* name;
    Form form;
    void (*damage)(QByteArray& bytes);
    const char* description;
};

class ReasonTest : public ReaderTest, public ::testing::WithParamInterface<ReasonCase> {};

TEST_P(ReasonTest, SaysWhatIsWrong) {
    WriteDocument(In("doc.tif"), GetParam().form, 2);
    QByteArray bytes = Contents(In("doc.tif"));
    GetParam().damage(bytes);
    Store(In("doc.tif"), bytes);

    const auto failure = Save(In("doc.tif"), In("out.tif"));

    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->number, 321);
    EXPECT_EQ(failure->description, GetParam().description);
    EXPECT_EQ(Entries(), QStringList{"doc.tif"});
}

const Form kGreyTiles{PHOTOMETRIC_MINISBLACK, 8, 1, COMPRESSION_NONE, PLANARCONFIG_CONTIG, true};

INSTANTIATE_TEST_SUITE_P(
    Reasons, ReasonTest,
    ::testing::Values(
        ReasonCase{"NoFirstDirectory", kGrey, [](QByteArray& bytes) { SetWord(bytes, 4, 0); },
                   "Invalid file format: the document holds no page"},
        // The width's entry becomes tag 0 of type 0: libtiff calls that an error, yet the
        // missing width is what fails.
        ReasonCase{"WidthTagUnknown", kGrey,
                   [](QByteArray& bytes) {
                       const std::uint32_t at = EntryOf(bytes, 256);
                       bytes[at + 1] = 0;
                       bytes[at + 2] = 0;
                   },
                   "Invalid file format: the first page cannot be read: Computed scanline size is "
                   "zero"},
        // Narrower tiles than the list of tiles was written for: libtiff drops the list.
        ReasonCase{"TileListTooShort", kGreyTiles,
                   [](QByteArray& bytes) { bytes[EntryOf(bytes, 322) + 8] = 8; },
                   "Invalid file format: page 1 is damaged: its tile 7 holds no data"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ReaderTest, SkipsThumbnailsAndReducedImages) {
    TIFF* tiff = TIFFOpen(QFile::encodeName(In("doc.tif")).constData(), "w");
    std::uint64_t thumbnail = 0;
    TIFFSetField(tiff, TIFFTAG_SUBIFD, 1, &thumbnail);
    WritePage(tiff, kRgb, 1);
    TIFFWriteDirectory(tiff);
    WritePage(tiff, kRgb, 2);  // the thumbnail, in the SubIFD
    TIFFWriteDirectory(tiff);
    TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, FILETYPE_REDUCEDIMAGE);
    WritePage(tiff, kRgb, 3);
    TIFFWriteDirectory(tiff);
    WritePage(tiff, kGrey, 4);
    TIFFWriteDirectory(tiff);
    TIFFClose(tiff);

    ASSERT_EQ(Save(In("doc.tif"), In("out.tif")), std::nullopt);

    const auto pages = ReadWritten(In("out.tif"));
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0].samples, 3);
    EXPECT_EQ(pages[0].xResolution, 101.0f);
    EXPECT_EQ(pages[1].samples, 1);
    EXPECT_EQ(pages[1].xResolution, 104.0f);
}

TEST_F(ReaderTest, RefusesAPageOverOneGibibyteWithoutDecodingIt) {
    TIFF* tiff = TIFFOpen(QFile::encodeName(In("huge.tif")).constData(), "w");
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, 40000);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, 40000);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 40000);
    char data[] = "x";
    TIFFWriteRawStrip(tiff, 0, data, 1);
    TIFFWriteDirectory(tiff);
    TIFFClose(tiff);

    ExpectFailure(Save(In("huge.tif"), In("out.tif")), 7,
                  "Out of memory: page 1 is 40000 x 40000 pixels, which needs more than 1 GiB");
    EXPECT_EQ(Entries(), QStringList{"huge.tif"});
}

// ---- What one document may put in the work folder, whatever its pages declare.

// Grey pages of `width` x `height` whose strips of 512 rows hold nothing but zeros, in
// `compression`. With `oneBlock` every strip of every page points at the first page's first
// strip, as in a file made to fill the disk.
void WriteBlankGreyDocument(const QString& path, int pages, std::uint32_t width,
                            std::uint32_t height, std::uint16_t compression, bool oneBlock) {
    TIFF* tiff = TIFFOpen(QFile::encodeName(path).constData(), "w");
    ASSERT_NE(tiff, nullptr);
    std::vector<std::uint8_t> row(width, 0);
    for (int page = 0; page < pages; ++page) {
        TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
        TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height);
        TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        TIFFSetField(tiff, TIFFTAG_COMPRESSION, compression);
        TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 512);
        // Strips of zeros, each the same; only the first is encoded.
        const std::vector<std::uint8_t> strip(std::size_t{width} * 512, 0);
        const tmsize_t first = TIFFWriteEncodedStrip(
            tiff, 0, const_cast<std::uint8_t*>(strip.data()), static_cast<tmsize_t>(strip.size()));
        ASSERT_GT(first, 0);
        for (std::uint32_t index = 1; index < (height + 511) / 512; ++index) {
            const std::uint32_t rows = std::min<std::uint32_t>(512, height - index * 512);
            ASSERT_GT(TIFFWriteEncodedStrip(tiff, index, const_cast<std::uint8_t*>(strip.data()),
                                            static_cast<tmsize_t>(std::size_t{width} * rows)),
                      0);
        }
        ASSERT_TRUE(TIFFWriteDirectory(tiff));
    }
    TIFFClose(tiff);
    if (!oneBlock) {
        return;
    }
    QByteArray bytes = Contents(path);
    std::uint32_t first = 0;
    for (const std::uint32_t directory : Directories(bytes)) {
        for (std::uint16_t entry = 0; entry < EntryCount(bytes, directory); ++entry) {
            const std::uint32_t at = directory + 2 + 12 * entry;
            std::uint16_t tag = 0;
            std::memcpy(&tag, bytes.constData() + at, 2);
            if (tag != TIFFTAG_STRIPOFFSETS) {
                continue;
            }
            const std::uint32_t list = Word(bytes, at + 8);
            first = first != 0 ? first : Word(bytes, list);
            for (std::uint32_t strip = 0; strip < Word(bytes, at + 4); ++strip) {
                SetWord(bytes, list + 4 * strip, first);
            }
        }
    }
    Store(path, bytes);
}

QByteArray Header(const QString& path) {
    return Contents(path).left(4);
}

struct PageForm {
    std::uint32_t width = 0, height = 0;
    std::uint16_t compression = 0;
    QString description;
};

// Each page's size and compression, without reading its pixels.
std::vector<PageForm> Forms(const QString& path) {
    std::vector<PageForm> forms;
    TIFF* tiff = TIFFOpen(QFile::encodeName(path).constData(), "r");
    if (tiff == nullptr) {
        return forms;
    }
    do {
        PageForm form;
        const char* description = nullptr;
        TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &form.width);
        TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &form.height);
        TIFFGetField(tiff, TIFFTAG_COMPRESSION, &form.compression);
        if (TIFFGetField(tiff, TIFFTAG_IMAGEDESCRIPTION, &description)) {
            form.description = QString::fromUtf8(description);
        }
        forms.push_back(form);
    } while (TIFFReadDirectory(tiff));
    TIFFClose(tiff);
    return forms;
}

// The case of the issue at a quarter of its size: pages of 16384 x 16400 grey (256.3 MiB
// decoded, beyond the 256 MiB written as decoded) that all point at one block of zeros.
TEST_F(ReaderTest, PagesThatAllPointAtOneBlockOfZerosTakeNextToNothing) {
    WriteBlankGreyDocument(In("blank.tif"), 2, 16384, 16400, COMPRESSION_ADOBE_DEFLATE, true);
    ASSERT_LT(QFileInfo(In("blank.tif")).size(), 1 << 20);

    ASSERT_EQ(Save(In("blank.tif"), In("out.tif")), std::nullopt);

    // 513 MiB when the pages were written as decoded.
    EXPECT_LT(QFileInfo(In("out.tif")).size(), 1 << 20);
    const auto forms = Forms(In("out.tif"));
    ASSERT_EQ(forms.size(), 2u);
    for (const PageForm& form : forms) {
        EXPECT_EQ(form.height, 16400u);
        EXPECT_EQ(form.compression, reader::WrittenCompression());
    }
}

// Pages go as decoded up to the allowance, and compressed after it; they read back the same.
TEST_F(ReaderTest, PagesPastThePlainAllowanceAreCompressed) {
    WriteBlankGreyDocument(In("blank.tif"), 4, 4096, 4096, COMPRESSION_ADOBE_DEFLATE, false);
    WrittenFileBounds bounds;
    bounds.plainBytes = 40 << 20;  // two pages of 16 MiB

    ASSERT_EQ(SaveDocumentAsTiff(Native(In("blank.tif")), Native(In("out.tif")), bounds),
              std::nullopt);

    const auto forms = Forms(In("out.tif"));
    ASSERT_EQ(forms.size(), 4u);
    EXPECT_EQ(forms[0].compression, COMPRESSION_NONE);
    EXPECT_EQ(forms[1].compression, COMPRESSION_NONE);
    EXPECT_EQ(forms[2].compression, reader::WrittenCompression());
    EXPECT_EQ(forms[3].compression, reader::WrittenCompression());
    EXPECT_LT(QFileInfo(In("out.tif")).size(), (32 << 20) + (256 << 10));
    const auto pages = ReadWritten(In("out.tif"));
    for (const WrittenPage& page : pages) {
        for (const auto& row : page.rows) {
            ASSERT_EQ(std::count(row.begin(), row.end(), 0), 4096);
        }
    }
}

// Uncompressed strips are not copied as they are: they could be a hole in a sparse file, or
// one block that every strip points at.
TEST_F(ReaderTest, UncompressedStripsAreNotCopiedAsTheyAre) {
    WriteBlankGreyDocument(In("blank.tif"), 2, 4096, 4096, COMPRESSION_NONE, true);
    WrittenFileBounds bounds;
    bounds.plainBytes = 0;

    ASSERT_EQ(SaveDocumentAsTiff(Native(In("blank.tif")), Native(In("out.tif")), bounds),
              std::nullopt);

    EXPECT_LT(QFileInfo(In("out.tif")).size(), 256 * 1024);  // 32 MiB when copied
    const auto forms = Forms(In("out.tif"));
    ASSERT_EQ(forms.size(), 2u);
    EXPECT_EQ(forms[1].compression, reader::WrittenCompression());
}

// Grey pages of 1024 x 1024 noise, which no compression makes smaller.
void WriteNoiseDocument(const QString& path, int pages) {
    TIFF* tiff = TIFFOpen(QFile::encodeName(path).constData(), "w");
    ASSERT_NE(tiff, nullptr);
    std::uint32_t state = 12345;
    std::vector<std::uint8_t> row(1024);
    for (int page = 0; page < pages; ++page) {
        TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, 1024);
        TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, 1024);
        TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 64);
        for (std::uint32_t y = 0; y < 1024; ++y) {
            for (auto& sample : row) {
                state = state * 1664525u + 1013904223u;
                sample = static_cast<std::uint8_t>(state >> 24);
            }
            ASSERT_EQ(TIFFWriteScanline(tiff, row.data(), y, 0), 1);
        }
        ASSERT_TRUE(TIFFWriteDirectory(tiff));
    }
    TIFFClose(tiff);
}

TEST_F(ReaderTest, TheWrittenFileIsHeldToItsLimit) {
    WriteNoiseDocument(In("noise.tif"), 3);
    // Holes in a sparse file take no disk, and count for nothing in the limit.
    {
        QFile file(In("noise.tif"));
        ASSERT_TRUE(file.resize(64 << 20));
    }

    WrittenFileBounds bounds;
    bounds.limit = 2 << 20;
    const auto failure = SaveDocumentAsTiff(Native(In("noise.tif")), Native(In("out.tif")), bounds);

    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->number, 7);
    EXPECT_EQ(failure->description,
              "Out of memory: page 2 would take the converted document past 2 MiB, the most a "
              "document of 4 MiB on disk may take");
    EXPECT_EQ(Entries(), QStringList{"noise.tif"}) << "nothing is left";
    bounds.limit = 4 << 20;
    ASSERT_EQ(SaveDocumentAsTiff(Native(In("noise.tif")), Native(In("out.tif")), bounds),
              std::nullopt);
    EXPECT_EQ(ReadWritten(In("out.tif")).size(), 3u);
}

TEST_F(ReaderTest, TheLimitIsAGibibyteAnd256BytesForEachByteOnDisk) {
    constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;
    EXPECT_EQ(WrittenFileLimit(0), kGiB);
    EXPECT_EQ(WrittenFileLimit(16 * 1024), kGiB + 4 * 1024 * 1024);
    EXPECT_EQ(WrittenFileLimit(100 << 20), kGiB + 25600ull * 1024 * 1024);
    EXPECT_GT(WrittenFileLimit(UINT64_MAX), kGiB);  // no wrapping
}

// Classic TIFF addresses 4 GiB at most; a larger limit writes BigTIFF.
TEST_F(ReaderTest, ALimitPastFourGibibytesWritesBigTiff) {
    WriteDocument(In("doc.tif"), kRgb, 2);

    WrittenFileBounds bounds;
    bounds.limit = std::uint64_t{1} << 30;
    ASSERT_EQ(SaveDocumentAsTiff(Native(In("doc.tif")), Native(In("small.tif")), bounds),
              std::nullopt);
    bounds.limit = std::uint64_t{5} << 30;
    ASSERT_EQ(SaveDocumentAsTiff(Native(In("doc.tif")), Native(In("big.tif")), bounds),
              std::nullopt);

    EXPECT_EQ(Header(In("small.tif")), QByteArray("II*\0", 4));
    EXPECT_EQ(Header(In("big.tif")), QByteArray("II+\0", 4));
    const auto small = ReadWritten(In("small.tif"));
    const auto big = ReadWritten(In("big.tif"));
    ASSERT_EQ(big.size(), 2u);
    EXPECT_EQ(big[1].rows, small[1].rows);
}

// ---- Pages decoded past damage: libtiff fills in what it cannot read and goes on.

// Bi-level G4 pages of 4096 x 2100 in one strip each, more than 1 MiB decoded: the reader
// decodes them and writes them anew.
constexpr QSize kDecodedG4Page(4096, 2100);

QString Description(const QString& path, int page) {
    TIFF* tiff = TIFFOpen(QFile::encodeName(path).constData(), "r");
    if (tiff == nullptr) {
        return "(unreadable)";
    }
    const char* text = nullptr;
    const bool set = TIFFSetDirectory(tiff, static_cast<tdir_t>(page - 1)) &&
                     TIFFGetField(tiff, TIFFTAG_IMAGEDESCRIPTION, &text);
    const QString description = set ? QString::fromUtf8(text) : QString();
    TIFFClose(tiff);
    return description;
}

TEST_F(ReaderTest, APageDecodedPastDamageIsKeptWithANote) {
    testing::WriteBilevelDocument(In("scan.tif"), 3, kDecodedG4Page);
    testing::FlipCodedBit(In("scan.tif"), 2, 0);

    ASSERT_EQ(Save(In("scan.tif"), In("out.tif")), std::nullopt);

    ASSERT_EQ(ReadWritten(In("out.tif")).size(), 3u);
    EXPECT_EQ(Description(In("out.tif"), 1), "");
    EXPECT_TRUE(Description(In("out.tif"), 2)
                    .startsWith("Vellumax: kept with damage: Bad code word at line "))
        << Description(In("out.tif"), 2).toStdString();
    EXPECT_EQ(Description(In("out.tif"), 3), "");
}

TEST_F(ReaderTest, WarningsAboutTagsAreNoDamage) {
    testing::WriteBilevelDocument(In("scan.tif"), 1, kDecodedG4Page);
    QByteArray bytes = Contents(In("scan.tif"));
    // The resolution unit becomes a tag libtiff does not know, out of order.
    const std::uint16_t unknown = 65000;
    std::memcpy(bytes.data() + EntryOf(bytes, TIFFTAG_RESOLUTIONUNIT), &unknown, 2);
    Store(In("scan.tif"), bytes);

    ASSERT_EQ(Save(In("scan.tif"), In("out.tif")), std::nullopt);

    EXPECT_EQ(Description(In("out.tif"), 1), "");
}

// ---- Targets that cannot be written.

struct TargetCase {
    const char* name;
    const char* target;
};

class TargetTest : public ReaderTest, public ::testing::WithParamInterface<TargetCase> {};

TEST_P(TargetTest, GivesAccessErrorAndLeavesNothing) {
    WriteDocument(In("doc.tif"), kGrey, 1);
    const QByteArray before = Contents(In("doc.tif"));
    MakeFile(In("file.txt"), "text");
    QDir().mkpath(In("folder.tif"));

    ExpectFailure(Save(In("doc.tif"), In(GetParam().target)), 75, "Path/File access error: ");

    EXPECT_EQ(Contents(In("doc.tif")), before);
    EXPECT_EQ(Entries(), (QStringList{"doc.tif", "file.txt", "folder.tif"}));
    EXPECT_TRUE(QDir(In("folder.tif")).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Targets, TargetTest,
                         ::testing::Values(TargetCase{"ParentIsAFile", "file.txt/out.tif"},
                                           TargetCase{"MissingFolder", "missing/out.tif"},
                                           TargetCase{"TargetIsAFolder", "folder.tif"},
                                           TargetCase{"TargetIsTheSource", "doc.tif"}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- The shared document-imaging samples: colour pages of the imaging component's own codec.

TEST_F(ReaderTest, SharedSamplesConvertToColourPages) {
    const QString folder = testing::SharedTestData() + "/mdi";
    const QStringList samples = QDir(folder).entryList({"*.mdi"}, QDir::Files);
    if (samples.isEmpty()) {
        GTEST_SKIP() << "no shared samples in " << folder.toStdString();
    }
    for (const QString& sample : samples) {
        SCOPED_TRACE(sample.toStdString());
        ASSERT_EQ(Save(folder + "/" + sample, In("out.tif")), std::nullopt);
        const std::vector<WrittenPage> pages = ReadWritten(In("out.tif"));
        ASSERT_EQ(pages.size(), 1u);
        EXPECT_EQ(pages[0].samples, 3);
        EXPECT_EQ(pages[0].bits, 8);
        EXPECT_GT(pages[0].width, 0u);
        EXPECT_EQ(pages[0].rows.size(), pages[0].height);
        ASSERT_TRUE(QFile::remove(In("out.tif")));
    }
}

}  // namespace
}  // namespace vellumax
