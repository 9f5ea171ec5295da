// End-to-end runs of the page converter binary on documents written here with libtiff.

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <array>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include <jpeglib.h>
#include <tiffio.h>

#include "test_support.h"

namespace vellumax {
namespace {

using Colour = std::array<int, 3>;

struct PageSize {
    std::uint32_t width;
    std::uint32_t height;
    float resolution;
    std::uint16_t unit;
};

// Sizes that leave partial tiles and strips; the last page is in pixels per centimetre.
const std::vector<PageSize> kPages = {
    {120, 80, 300, RESUNIT_INCH}, {90, 130, 200, RESUNIT_INCH}, {64, 48, 80, RESUNIT_CENTIMETER}};

// The top-left quadrant is "dark", the rest "light", so a flipped or mirrored page shows.
bool IsDark(std::uint32_t x, std::uint32_t y, const PageSize& page) {
    return x < page.width / 2 && y < page.height / 2;
}

struct Kind {
    const char* name;
    std::uint16_t photometric;
    std::uint16_t bits;
    std::uint16_t samples;
    std::uint16_t compression;
    int components;  // expected in the JPEG
    Colour dark;     // expected in the JPEG; grey kinds use the first value
    Colour light;
    std::uint32_t rowsPerStrip = 16;  // 0: the whole page in one strip
    std::uint32_t tileSize = 0;       // 0: stripped
    bool separate = false;
    bool lsbFirst = false;
    bool bigEndian = false;

    // Variations for the data rows below.
    Kind As(const char* rowName) const {
        Kind k = *this;
        k.name = rowName;
        return k;
    }
    Kind Photometric(std::uint16_t value) const {
        Kind k = *this;
        k.photometric = value;
        return k;
    }
    Kind Bits(std::uint16_t value) const {
        Kind k = *this;
        k.bits = value;
        return k;
    }
    Kind Samples(std::uint16_t value) const {
        Kind k = *this;
        k.samples = value;
        return k;
    }
    Kind Compressed(std::uint16_t value) const {
        Kind k = *this;
        k.compression = value;
        return k;
    }
    Kind Tiled(std::uint32_t size) const {
        Kind k = *this;
        k.tileSize = size;
        return k;
    }
    Kind OneStrip() const {
        Kind k = *this;
        k.rowsPerStrip = 0;
        return k;
    }
    Kind Separate() const {
        Kind k = *this;
        k.separate = true;
        return k;
    }
    Kind LsbFirst() const {
        Kind k = *this;
        k.lsbFirst = true;
        return k;
    }
    Kind BigEndian() const {
        Kind k = *this;
        k.bigEndian = true;
        return k;
    }
    Kind Dark(Colour value) const {
        Kind k = *this;
        k.dark = value;
        return k;
    }
    Kind Light(Colour value) const {
        Kind k = *this;
        k.light = value;
        return k;
    }
};

void PrintTo(const Kind& kind, std::ostream* out) {
    *out << kind.name;
}

std::vector<std::uint16_t> StoredSamples(const Kind& kind, bool dark) {
    const std::uint16_t max = static_cast<std::uint16_t>((1u << kind.bits) - 1);
    const auto scaled = [&kind](int value) {
        return static_cast<std::uint16_t>(kind.bits == 16 ? value * 257 : value);
    };
    switch (kind.photometric) {
        case PHOTOMETRIC_MINISBLACK:
            return {dark ? std::uint16_t{0} : max};
        case PHOTOMETRIC_MINISWHITE:
            return {dark ? max : std::uint16_t{0}};
        case PHOTOMETRIC_PALETTE:
            return {dark ? std::uint16_t{1} : std::uint16_t{0}};
        case PHOTOMETRIC_SEPARATED:
            return dark ? std::vector<std::uint16_t>{0, 255, 255, 0}
                        : std::vector<std::uint16_t>{0, 0, 0, 0};
        case PHOTOMETRIC_CIELAB:
            return {static_cast<std::uint16_t>(dark ? 0 : 255), 0, 0};
        default: {
            std::vector<std::uint16_t> rgb = dark
                                                 ? std::vector{scaled(200), scaled(30), scaled(30)}
                                                 : std::vector{scaled(40), scaled(80), scaled(220)};
            if (kind.samples == 4) {
                rgb.push_back(dark ? max : 0);  // the light part is transparent
            }
            return rgb;
        }
    }
}

// One row segment as libtiff expects it: all samples, or only `plane` when planes are separate.
std::vector<std::uint8_t> PackRow(const Kind& kind, const PageSize& page, std::uint32_t y,
                                  std::uint32_t x0, std::uint32_t pixels, int plane,
                                  std::size_t bytes) {
    std::vector<std::uint8_t> row(bytes);
    const int samples = plane < 0 ? kind.samples : 1;
    for (std::uint32_t x = 0; x < pixels; ++x) {
        const auto values = StoredSamples(kind, IsDark(x0 + x, y, page));
        for (int s = 0; s < samples; ++s) {
            const std::uint16_t value = values[plane < 0 ? s : plane];
            const std::size_t index = std::size_t{x} * samples + s;
            if (kind.bits == 16) {
                std::memcpy(row.data() + 2 * index, &value, 2);
            } else if (kind.bits == 8) {
                row[index] = static_cast<std::uint8_t>(value);
            } else {
                const std::size_t bit = index * kind.bits;
                row[bit / 8] |= static_cast<std::uint8_t>(value << (8 - kind.bits - bit % 8));
            }
        }
    }
    return row;
}

void SetPageTags(TIFF* tiff, const Kind& kind, const PageSize& page) {
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, page.width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, page.height);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, kind.bits);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, kind.samples);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, kind.photometric);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, kind.compression);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG,
                 kind.separate ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_FILLORDER, kind.lsbFirst ? FILLORDER_LSB2MSB : FILLORDER_MSB2LSB);
    TIFFSetField(tiff, TIFFTAG_XRESOLUTION, page.resolution);
    TIFFSetField(tiff, TIFFTAG_YRESOLUTION, page.resolution);
    TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, page.unit);
    if (kind.photometric == PHOTOMETRIC_YCBCR) {
        TIFFSetField(tiff, TIFFTAG_JPEGQUALITY, 90);
        TIFFSetField(tiff, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    }
    if (kind.photometric == PHOTOMETRIC_CIELAB) {
        // libtiff turns Lab into sRGB without adapting the white; a D65 white keeps white white.
        float d65[] = {0.3127f, 0.3290f};
        TIFFSetField(tiff, TIFFTAG_WHITEPOINT, d65);
    }
    if (kind.photometric == PHOTOMETRIC_RGB && kind.samples == 4) {
        const std::uint16_t alpha = EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, &alpha);
    }
    if (kind.photometric == PHOTOMETRIC_PALETTE) {
        std::vector<std::uint16_t> red(1u << kind.bits), green(red.size()), blue(red.size());
        red[0] = 40 * 257, green[0] = 80 * 257, blue[0] = 220 * 257;
        red[1] = 200 * 257, green[1] = 30 * 257, blue[1] = 30 * 257;
        TIFFSetField(tiff, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
    }
    if (kind.tileSize > 0) {
        TIFFSetField(tiff, TIFFTAG_TILEWIDTH, kind.tileSize);
        TIFFSetField(tiff, TIFFTAG_TILELENGTH, kind.tileSize);
    } else {
        TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP,
                     kind.rowsPerStrip > 0 ? kind.rowsPerStrip : page.height);
    }
}

void WritePixels(TIFF* tiff, const Kind& kind, const PageSize& page) {
    const int planes = kind.separate ? kind.samples : 1;
    for (int plane = 0; plane < planes; ++plane) {
        const int packed = kind.separate ? plane : -1;
        if (kind.tileSize == 0) {
            for (std::uint32_t y = 0; y < page.height; ++y) {
                auto row = PackRow(kind, page, y, 0, page.width, packed, TIFFScanlineSize(tiff));
                ASSERT_GE(TIFFWriteScanline(tiff, row.data(), y, plane), 0);
            }
            continue;
        }
        const std::size_t rowBytes = TIFFTileRowSize(tiff);
        for (std::uint32_t ty = 0; ty < page.height; ty += kind.tileSize) {
            for (std::uint32_t tx = 0; tx < page.width; tx += kind.tileSize) {
                std::vector<std::uint8_t> tile(TIFFTileSize(tiff));
                const std::uint32_t pixels = std::min(kind.tileSize, page.width - tx);
                for (std::uint32_t y = ty; y < std::min(ty + kind.tileSize, page.height); ++y) {
                    const auto row = PackRow(kind, page, y, tx, pixels, packed, rowBytes);
                    std::copy(row.begin(), row.end(), tile.begin() + (y - ty) * rowBytes);
                }
                ASSERT_GE(TIFFWriteTile(tiff, tile.data(), tx, ty, 0, plane), 0);
            }
        }
    }
}

void WriteDocument(const QString& path, const Kind& kind,
                   const std::vector<PageSize>& pages = kPages) {
    TIFF* tiff = TIFFOpen(QFile::encodeName(path).constData(), kind.bigEndian ? "wb" : "wl");
    ASSERT_NE(tiff, nullptr);
    for (const auto& page : pages) {
        SetPageTags(tiff, kind, page);
        WritePixels(tiff, kind, page);
        ASSERT_TRUE(TIFFWriteDirectory(tiff));
    }
    TIFFClose(tiff);
}

const Kind kBilevel{"Bilevel", PHOTOMETRIC_MINISWHITE, 1, 1, COMPRESSION_CCITTFAX4, 1,
                    {0, 0, 0}, {255, 255, 255}};
const Kind kRgb{"Rgb", PHOTOMETRIC_RGB, 8, 3, COMPRESSION_LZW, 3, {200, 30, 30}, {40, 80, 220}};
const Kind kGrey{"Grey", PHOTOMETRIC_MINISBLACK, 8, 1, COMPRESSION_LZW, 1, {0}, {255}};
// For kinds whose light part comes out white.
const Kind kWhite{"White", PHOTOMETRIC_RGB, 8, 3, COMPRESSION_NONE, 3, {0}, {255, 255, 255}};

// A decoded JPEG with its JFIF header, read back through libjpeg.
struct Jpeg {
    int width = 0;
    int height = 0;
    int components = 0;
    int densityUnit = -1;
    int xDensity = 0;
    int yDensity = 0;
    bool baselineJfif = false;
    std::vector<std::uint8_t> pixels;

    Colour At(int x, int y) const {
        const std::uint8_t* pixel = pixels.data() + (std::size_t(y) * width + x) * components;
        return components == 1 ? Colour{pixel[0], pixel[0], pixel[0]}
                               : Colour{pixel[0], pixel[1], pixel[2]};
    }
};

struct JpegErrors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

void OnJpegError(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->jump, 1);
}

// libjpeg leaves by longjmp on bad data; these frames hold nothing that needs destroying.
bool ReadJpegHeader(jpeg_decompress_struct* info, JpegErrors* errors) {
    if (setjmp(errors->jump)) {
        return false;
    }
    jpeg_read_header(info, TRUE);
    jpeg_start_decompress(info);
    return true;
}

bool ReadJpegRows(jpeg_decompress_struct* info, JpegErrors* errors, std::uint8_t* pixels) {
    if (setjmp(errors->jump)) {
        return false;
    }
    while (info->output_scanline < info->output_height) {
        JSAMPROW row = pixels + std::size_t(info->output_scanline) * info->output_width *
                                    info->output_components;
        jpeg_read_scanlines(info, &row, 1);
    }
    jpeg_finish_decompress(info);
    return true;
}

std::optional<Jpeg> ReadJpeg(const QString& path) {
    std::FILE* file = std::fopen(QFile::encodeName(path).constData(), "rb");
    if (file == nullptr) {
        return std::nullopt;
    }
    jpeg_decompress_struct info{};
    JpegErrors errors{};
    info.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = &OnJpegError;
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, file);
    Jpeg jpeg;
    bool ok = ReadJpegHeader(&info, &errors);
    if (ok) {
        jpeg = {int(info.output_width),
                int(info.output_height),
                info.output_components,
                info.density_unit,
                info.X_density,
                info.Y_density,
                info.saw_JFIF_marker && !info.progressive_mode && !info.arith_code,
                {}};
        jpeg.pixels.resize(std::size_t(jpeg.width) * jpeg.height * jpeg.components);
        ok = ReadJpegRows(&info, &errors, jpeg.pixels.data());
    }
    jpeg_destroy_decompress(&info);
    std::fclose(file);
    return ok ? std::optional(jpeg) : std::nullopt;
}

struct ConverterRun {
    bool exitedNormally = false;
    int exitCode = -1;
    QString errors;
};

ConverterRun RunConverter(const QStringList& arguments) {
    QProcess process;
    process.start(VELLUMAX_CONVERTER_PATH, arguments);
    const bool finished = process.waitForFinished(60000);
    if (!finished) {
        process.kill();
        process.waitForFinished();
    }
    return {finished && process.exitStatus() == QProcess::NormalExit, process.exitCode(),
            QString::fromLocal8Bit(process.readAllStandardError())};
}

ConverterRun Convert(const QString& tiffPath, int quality = 90) {
    return RunConverter({"-xall", "-q", QString::number(quality), "-out", "jpeg", tiffPath});
}

QStringList FilesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

void ExpectNear(const Colour& actual, const Colour& expected, int components, const char* where) {
    for (int c = 0; c < components; ++c) {
        EXPECT_NEAR(actual[c], expected[c], 24) << where << ", channel " << c;
    }
}

class PageKindTest : public ::testing::TestWithParam<Kind> {};

TEST_P(PageKindTest, EachPageBecomesAJpegOfTheRightSizeColourAndResolution) {
    const Kind& kind = GetParam();
    QTemporaryDir folder;
    const QString input = folder.filePath("scan.tif");
    WriteDocument(input, kind);

    const ConverterRun run = Convert(input);
    ASSERT_TRUE(run.exitedNormally);
    ASSERT_EQ(run.exitCode, 0) << run.errors.toStdString();
    EXPECT_TRUE(run.errors.isEmpty()) << run.errors.toStdString();
    EXPECT_EQ(FilesIn(folder.path()),
              QStringList({"scan-0001.jpg", "scan-0002.jpg", "scan-0003.jpg", "scan.tif"}));

    for (std::size_t i = 0; i < kPages.size(); ++i) {
        SCOPED_TRACE("page " + std::to_string(i + 1));
        const PageSize& page = kPages[i];
        const auto jpeg =
            ReadJpeg(folder.filePath(QString("scan-%1.jpg").arg(i + 1, 4, 10, QChar('0'))));
        ASSERT_TRUE(jpeg.has_value());
        EXPECT_EQ(jpeg->width, int(page.width));
        EXPECT_EQ(jpeg->height, int(page.height));
        EXPECT_EQ(jpeg->components, kind.components);
        EXPECT_TRUE(jpeg->baselineJfif);
        EXPECT_EQ(jpeg->densityUnit, page.unit == RESUNIT_CENTIMETER ? 2 : 1);
        EXPECT_EQ(jpeg->xDensity, int(page.resolution));
        EXPECT_EQ(jpeg->yDensity, int(page.resolution));

        const int left = page.width / 4, right = page.width * 3 / 4;
        const int top = page.height / 4, bottom = page.height * 3 / 4;
        ExpectNear(jpeg->At(left, top), kind.dark, kind.components, "top left");
        ExpectNear(jpeg->At(right, top), kind.light, kind.components, "top right");
        ExpectNear(jpeg->At(left, bottom), kind.light, kind.components, "bottom left");
        ExpectNear(jpeg->At(right, bottom), kind.light, kind.components, "bottom right");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, PageKindTest,
    ::testing::Values(
        kBilevel.As("BilevelG4MinIsWhite"),
        kBilevel.As("BilevelG4MinIsBlack").Photometric(PHOTOMETRIC_MINISBLACK),
        kBilevel.As("BilevelG4LsbFirst").LsbFirst(),
        kBilevel.As("BilevelRawLsbFirst").Compressed(COMPRESSION_NONE).LsbFirst(),
        kBilevel.As("BilevelG3Tiled").Compressed(COMPRESSION_CCITTFAX3).Tiled(32),
        kGrey.As("Grey8Bit"), kGrey.As("Grey4BitPackBits").Bits(4).Compressed(COMPRESSION_PACKBITS),
        kGrey.As("Grey16BitBigEndian").Bits(16).BigEndian(),
        kRgb.As("Palette8Bit").Photometric(PHOTOMETRIC_PALETTE).Samples(1),
        kRgb.As("Palette4BitTiled").Photometric(PHOTOMETRIC_PALETTE).Samples(1).Bits(4).Tiled(16),
        kRgb.As("RgbStrips"),
        kRgb.As("RgbOneStripDeflate").OneStrip().Compressed(COMPRESSION_ADOBE_DEFLATE),
        kRgb.As("RgbTiled").Tiled(32), kRgb.As("RgbSeparatePlanes").Separate(),
        kRgb.As("RgbSeparateTiled").Separate().Tiled(16),
        kRgb.As("Rgb16BitBigEndian").Bits(16).BigEndian(),
        kRgb.As("RgbTransparentOverWhite").Samples(4).Light({255, 255, 255}),
        kRgb.As("YCbCrJpeg").Photometric(PHOTOMETRIC_YCBCR).Compressed(COMPRESSION_JPEG),
        kWhite.As("Cmyk").Photometric(PHOTOMETRIC_SEPARATED).Samples(4).Dark({255, 0, 0}),
        kWhite.As("CieLabOneStrip").Photometric(PHOTOMETRIC_CIELAB).OneStrip(),
        kWhite.As("CieLabTiled").Photometric(PHOTOMETRIC_CIELAB).Tiled(32)),
    [](const auto& info) { return std::string(info.param.name); });

// A busy page, so that the quality setting has something to trade away.
TEST(ConverterTest, AHigherQualityGivesALargerFile) {
    QTemporaryDir folder;
    const QString input = folder.filePath("busy.tif");
    TIFF* tiff = TIFFOpen(QFile::encodeName(input).constData(), "w");
    ASSERT_NE(tiff, nullptr);
    SetPageTags(tiff, kRgb, {256, 256, 300, RESUNIT_INCH});
    std::vector<std::uint8_t> row(256 * 3);
    for (std::uint32_t y = 0; y < 256; ++y) {
        for (std::size_t i = 0; i < row.size(); ++i) {
            row[i] = static_cast<std::uint8_t>((i * 7 + y * 13) ^ (i * y));
        }
        ASSERT_GE(TIFFWriteScanline(tiff, row.data(), y, 0), 0);
    }
    TIFFClose(tiff);

    std::vector<qint64> sizes;
    for (const int quality : {20, 60, 95}) {
        ASSERT_EQ(Convert(input, quality).exitCode, 0);
        sizes.push_back(QFileInfo(folder.filePath("busy-0001.jpg")).size());
    }
    EXPECT_LT(sizes[0], sizes[1]);
    EXPECT_LT(sizes[1], sizes[2]);
}

TEST(ConverterTest, SubIfdThumbnailsAreNotPages) {
    QTemporaryDir folder;
    const QString input = folder.filePath("thumbs.tif");
    TIFF* tiff = TIFFOpen(QFile::encodeName(input).constData(), "w");
    ASSERT_NE(tiff, nullptr);
    for (const PageSize& page : {kPages[0], kPages[1]}) {
        std::uint64_t thumbnailOffset = 0;
        TIFFSetField(tiff, TIFFTAG_SUBIFD, 1, &thumbnailOffset);
        SetPageTags(tiff, kRgb, page);
        WritePixels(tiff, kRgb, page);
        ASSERT_TRUE(TIFFWriteDirectory(tiff));
        // libtiff writes the directory after one with a SubIFD tag as that SubIFD.
        SetPageTags(tiff, kRgb, {16, 16, 72, RESUNIT_INCH});
        WritePixels(tiff, kRgb, {16, 16, 72, RESUNIT_INCH});
        ASSERT_TRUE(TIFFWriteDirectory(tiff));
    }
    TIFFClose(tiff);

    ASSERT_EQ(Convert(input).exitCode, 0);
    EXPECT_EQ(FilesIn(folder.path()),
              QStringList({"thumbs-0001.jpg", "thumbs-0002.jpg", "thumbs.tif"}));
    EXPECT_EQ(ReadJpeg(folder.filePath("thumbs-0002.jpg"))->height, int(kPages[1].height));
}

// Little-endian TIFF surgery: the one-value entry of a tag in the given directory.
std::uint32_t Read(const QByteArray& tiff, std::size_t at, std::size_t size) {
    std::uint32_t value = 0;
    std::memcpy(&value, tiff.constData() + at, size);
    return value;
}

std::size_t EntryOf(const QByteArray& tiff, std::uint16_t tag, int directory = 0) {
    std::uint32_t offset = Read(tiff, 4, 4);
    for (int i = 0; i < directory; ++i) {
        offset = Read(tiff, offset + 2 + Read(tiff, offset, 2) * 12, 4);
    }
    const std::uint32_t count = Read(tiff, offset, 2);
    for (std::size_t entry = offset + 2; entry < offset + 2 + count * 12; entry += 12) {
        if (Read(tiff, entry, 2) == tag) {
            return entry;
        }
    }
    ADD_FAILURE() << "tag " << tag << " not found";
    return 0;
}

std::uint32_t ValueOf(const QByteArray& tiff, std::uint16_t tag) {
    return Read(tiff, EntryOf(tiff, tag) + 8, 4);
}

void SetValue(QByteArray& tiff, std::uint16_t tag, std::uint32_t value, int directory = 0) {
    std::memcpy(tiff.data() + EntryOf(tiff, tag, directory) + 8, &value, 4);
}

QByteArray OnePageDocument(const Kind& kind, const PageSize& page = kPages[0]) {
    QTemporaryDir folder;
    WriteDocument(folder.filePath("page.tif"), kind, {page});
    QFile file(folder.filePath("page.tif"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A white bi-level page compresses to almost nothing, however large it says it is.
QByteArray BlankBilevelPage(std::uint32_t width, std::uint32_t height) {
    QTemporaryDir folder;
    const QByteArray path = QFile::encodeName(folder.filePath("blank.tif"));
    TIFF* tiff = TIFFOpen(path.constData(), "w");
    SetPageTags(tiff, kBilevel, {width, height, 300, RESUNIT_INCH});
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, height);
    const std::vector<std::uint8_t> row(TIFFScanlineSize(tiff));
    for (std::uint32_t y = 0; y < height; ++y) {
        TIFFWriteScanline(tiff, const_cast<std::uint8_t*>(row.data()), y, 0);
    }
    TIFFClose(tiff);
    QFile file(QString::fromLocal8Bit(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct BadDocument {
    const char* name;
    QByteArray (*bytes)();
    const char* reason;  // part of the message
};

void PrintTo(const BadDocument& document, std::ostream* out) {
    *out << document.name;
}

class BadDocumentTest : public ::testing::TestWithParam<BadDocument> {};

TEST_P(BadDocumentTest, FailsWithOneLineAndLeavesNoPageBehind) {
    QTemporaryDir folder;
    testing::MakeFile(folder.filePath("bad.tif"), GetParam().bytes());

    const ConverterRun run = Convert(folder.filePath("bad.tif"));
    ASSERT_TRUE(run.exitedNormally);
    EXPECT_NE(run.exitCode, 0);
    EXPECT_EQ(run.errors.count('\n'), 1) << run.errors.toStdString();
    EXPECT_TRUE(run.errors.contains(GetParam().reason)) << run.errors.toStdString();
    EXPECT_EQ(FilesIn(folder.path()), QStringList{"bad.tif"});
}

INSTANTIATE_TEST_SUITE_P(
    Documents, BadDocumentTest,
    ::testing::Values(
        BadDocument{"Empty", [] { return QByteArray(); }, "not a readable TIFF"},
        BadDocument{"NotATiff", [] { return QByteArray("%PDF-1.4 nothing here"); },
                    "not a readable TIFF"},
        BadDocument{"HeaderOnly", [] { return OnePageDocument(kRgb).left(8); },
                    "not a readable TIFF"},
        BadDocument{"CutInHalf",
                    [] {
                        const QByteArray whole = OnePageDocument(kRgb);
                        return whole.left(whole.size() / 2);
                    },
                    "not a readable TIFF"},
        BadDocument{"StripBeyondTheEnd",
                    [] {
                        QByteArray tiff = OnePageDocument(kRgb, {64, 16, 300, RESUNIT_INCH});
                        SetValue(tiff, TIFFTAG_STRIPOFFSETS, tiff.size() - 10);
                        return tiff;
                    },
                    "beyond the end of the file"},
        BadDocument{"GarbledG4Data",
                    [] {
                        QByteArray tiff = OnePageDocument(kBilevel, {64, 16, 300, RESUNIT_INCH});
                        const auto offset = ValueOf(tiff, TIFFTAG_STRIPOFFSETS);
                        const auto length = ValueOf(tiff, TIFFTAG_STRIPBYTECOUNTS);
                        for (std::uint32_t i = 0; i < length; ++i) {
                            tiff[offset + i] = 0;
                        }
                        return tiff;
                    },
                    "page 1: cannot decode row"},
        BadDocument{"UnknownColourModel",
                    [] {
                        QByteArray tiff = OnePageDocument(kRgb);
                        SetValue(tiff, TIFFTAG_PHOTOMETRIC, 77);
                        return tiff;
                    },
                    "cannot be converted"},
        BadDocument{"TooLargeToDecode", [] { return BlankBilevelPage(33000, 33000); },
                    "more than the limit of 1 GiB"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ConverterTest, ADamagedPageFailsAloneAndTheOthersAreWritten) {
    QTemporaryDir folder;
    const QString input = folder.filePath("mixed.tif");
    WriteDocument(input, kRgb.OneStrip());
    QFile file(input);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    QByteArray tiff = file.readAll();
    SetValue(tiff, TIFFTAG_STRIPOFFSETS, tiff.size() + 100, 1);
    ASSERT_TRUE(file.seek(0));
    ASSERT_EQ(file.write(tiff), tiff.size());
    file.close();

    const ConverterRun run = Convert(input);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.errors.contains("page 2:")) << run.errors.toStdString();
    EXPECT_EQ(FilesIn(folder.path()),
              QStringList({"mixed-0001.jpg", "mixed-0003.jpg", "mixed.tif"}));
}

TEST(ConverterTest, AMissingFileFails) {
    QTemporaryDir folder;
    const ConverterRun run = Convert(folder.filePath("gone.tif"));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.errors.contains("no such file")) << run.errors.toStdString();
}

class CommandLineTest : public ::testing::TestWithParam<QStringList> {};

TEST_P(CommandLineTest, AnythingButTheOneFormIsRefusedWithTheUsage) {
    QTemporaryDir folder;
    const QString input = folder.filePath("scan.tif");
    WriteDocument(input, kBilevel, {kPages[0]});
    QStringList arguments = GetParam();
    arguments.replaceInStrings("FILE", input);

    const ConverterRun run = RunConverter(arguments);
    ASSERT_TRUE(run.exitedNormally);
    EXPECT_NE(run.exitCode, 0);
    EXPECT_TRUE(run.errors.startsWith("usage: ")) << run.errors.toStdString();
    EXPECT_EQ(FilesIn(folder.path()), QStringList{"scan.tif"});
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, CommandLineTest,
    ::testing::Values(QStringList{}, QStringList{"FILE"},
                      QStringList{"-xall", "-q", "85", "-out", "jpeg"},
                      QStringList{"-q", "85", "-xall", "-out", "jpeg", "FILE"},
                      QStringList{"-xall", "-q", "0", "-out", "jpeg", "FILE"},
                      QStringList{"-xall", "-q", "101", "-out", "jpeg", "FILE"},
                      QStringList{"-xall", "-q", "-5", "-out", "jpeg", "FILE"},
                      QStringList{"-xall", "-q", "8x", "-out", "jpeg", "FILE"},
                      QStringList{"-xall", "-q", "", "-out", "jpeg", "FILE"},
                      QStringList{"-xall", "-q", "85", "-out", "gif", "FILE"},
                      QStringList{"-xall", "-q", "85", "-out", "JPEG", "FILE"},
                      QStringList{"-xall", "-q", "85", "-out", "", "FILE"},
                      QStringList{"-xall", "-q", "85", "-out", "pdf"},
                      QStringList{"-xall", "-q", "85", "-out", "jpeg", ""},
                      QStringList{"-xall", "-q", "85", "-out", "jpeg", "FILE", "FILE"}));

struct OddPath {
    const char* folder;
    const char* file;
    const char* firstPage;
};

void PrintTo(const OddPath& path, std::ostream* out) {
    *out << path.file;
}

class OddPathTest : public ::testing::TestWithParam<OddPath> {};

TEST_P(OddPathTest, BlanksQuotesAndDollarsReachTheConverterAsTheyAre) {
    QTemporaryDir root;
    const QString folder = root.filePath(GetParam().folder);
    ASSERT_TRUE(QDir().mkpath(folder));
    WriteDocument(folder + '/' + GetParam().file, kBilevel, {kPages[0]});

    const ConverterRun run = Convert(folder + '/' + GetParam().file);
    ASSERT_EQ(run.exitCode, 0) << run.errors.toStdString();
    EXPECT_EQ(FilesIn(folder), QStringList({GetParam().firstPage, GetParam().file}));
}

INSTANTIATE_TEST_SUITE_P(Paths, OddPathTest,
                         ::testing::Values(OddPath{"with blanks", "a scan.tif", "a scan-0001.jpg"},
                                           OddPath{"it's \"quoted\"", "say \"hi\".tif",
                                                   "say \"hi\"-0001.jpg"},
                                           OddPath{"$HOME", "$PATH `x`.TIF", "$PATH `x`-0001.jpg"},
                                           OddPath{"dots", "v1.2.tif", "v1.2-0001.jpg"}));

}  // namespace
}  // namespace vellumax
