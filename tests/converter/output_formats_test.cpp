// The page converter's PNG, TIFF and PDF outputs, read back with readers of their own (libpng,
// libtiff, poppler's pdftoppm, qpdf) and compared with the pixels the document holds.

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

#include <array>
#include <cmath>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include <jpeglib.h>
#include <png.h>
#include <signal.h>
#include <tiffio.h>
#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include "test_documents.h"
#include "test_support.h"

namespace vellumax {
namespace {

const QString kConverter = VELLUMAX_CONVERTER_PATH;
const QString kCorpus = VELLUMAX_CORRUPT_DIR;

// ---- The pages: one of each kind, of odd sizes and their own resolutions.

struct PageKind {
    const char* name;
    std::uint16_t bits, samples, photometric, compression;
    std::uint32_t width, height;
    float resolution;
    std::uint16_t unit;
    std::uint32_t rowsPerStrip;  // 0: the whole page in one strip
    bool lsbFirst = false;
};

const std::vector<PageKind> kKinds = {
    {"bi-level G4", 1, 1, PHOTOMETRIC_MINISWHITE, COMPRESSION_CCITTFAX4, 203, 97, 300, RESUNIT_INCH,
     0},
    {"bi-level G4, 1 is white, bits reversed", 1, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_CCITTFAX4,
     99, 61, 200, RESUNIT_INCH, 0, true},
    {"bi-level G4 in strips", 1, 1, PHOTOMETRIC_MINISWHITE, COMPRESSION_CCITTFAX4, 150, 80, 150,
     RESUNIT_INCH, 16},
    {"bi-level uncompressed", 1, 1, PHOTOMETRIC_MINISWHITE, COMPRESSION_NONE, 150, 121, 200,
     RESUNIT_INCH, 16},
    {"grey", 8, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_LZW, 130, 90, 80, RESUNIT_CENTIMETER, 16},
    {"RGB", 8, 3, PHOTOMETRIC_RGB, COMPRESSION_ADOBE_DEFLATE, 120, 100, 150, RESUNIT_INCH, 16},
    {"palette", 8, 1, PHOTOMETRIC_PALETTE, COMPRESSION_NONE, 90, 70, 200, RESUNIT_INCH, 16},
};

bool IsBilevel(const PageKind& kind) {
    return kind.bits == 1;
}

bool IsColour(const PageKind& kind) {
    return kind.samples == 3 || kind.photometric == PHOTOMETRIC_PALETTE;
}

// What a page shows at a pixel, 8 bits a channel; grey pages have three equal channels.
using Rgb = std::array<int, 3>;

Rgb PaletteEntry(int index) {
    return {index, 255 - index, (index * 3) % 256};
}

Rgb Expected(const PageKind& kind, std::uint32_t x, std::uint32_t y) {
    if (IsBilevel(kind)) {
        const int level = ((x / 4 + y / 3) % 2 == 0 && x % 17 != 3) ? 0 : 255;
        return {level, level, level};
    }
    if (kind.photometric == PHOTOMETRIC_PALETTE) {
        return PaletteEntry(static_cast<int>((x + 2 * y) % 256));
    }
    if (kind.samples == 1) {
        const int level = static_cast<int>((x * 2 + y * 3) % 256);
        return {level, level, level};
    }
    return {static_cast<int>(x * 2 % 256), static_cast<int>(y * 2 % 256),
            static_cast<int>((x + y) % 256)};
}

void WritePage(TIFF* tiff, const PageKind& kind) {
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, kind.width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, kind.height);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, kind.bits);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, kind.samples);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, kind.photometric);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, kind.compression);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_FILLORDER, kind.lsbFirst ? FILLORDER_LSB2MSB : FILLORDER_MSB2LSB);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP,
                 kind.rowsPerStrip > 0 ? kind.rowsPerStrip : kind.height);
    TIFFSetField(tiff, TIFFTAG_XRESOLUTION, kind.resolution);
    TIFFSetField(tiff, TIFFTAG_YRESOLUTION, kind.resolution);
    TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, kind.unit);
    if (kind.photometric == PHOTOMETRIC_PALETTE) {
        std::vector<std::uint16_t> red(256), green(256), blue(256);
        for (int i = 0; i < 256; ++i) {
            const Rgb entry = PaletteEntry(i);
            red[i] = static_cast<std::uint16_t>(entry[0] * 257);
            green[i] = static_cast<std::uint16_t>(entry[1] * 257);
            blue[i] = static_cast<std::uint16_t>(entry[2] * 257);
        }
        TIFFSetField(tiff, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
    }
    std::vector<std::uint8_t> row(TIFFScanlineSize(tiff));
    for (std::uint32_t y = 0; y < kind.height; ++y) {
        std::fill(row.begin(), row.end(), 0);
        for (std::uint32_t x = 0; x < kind.width; ++x) {
            const Rgb pixel = Expected(kind, x, y);
            if (IsBilevel(kind)) {
                const bool white = pixel[0] == 255;
                if (white == (kind.photometric == PHOTOMETRIC_MINISBLACK)) {
                    row[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
                }
            } else if (kind.photometric == PHOTOMETRIC_PALETTE) {
                row[x] = static_cast<std::uint8_t>((x + 2 * y) % 256);
            } else {
                for (int s = 0; s < kind.samples; ++s) {
                    row[x * kind.samples + s] = static_cast<std::uint8_t>(pixel[s]);
                }
            }
        }
        ASSERT_EQ(TIFFWriteScanline(tiff, row.data(), y, 0), 1);
    }
    ASSERT_TRUE(TIFFWriteDirectory(tiff));
}

void WriteDocument(const QString& path, const std::vector<PageKind>& kinds) {
    TIFF* tiff = TIFFOpen(QFile::encodeName(path).constData(), "w");
    ASSERT_NE(tiff, nullptr);
    for (const PageKind& kind : kinds) {
        WritePage(tiff, kind);
    }
    TIFFClose(tiff);
}

// ---- Running the converter.

struct ConverterRun {
    int exitCode = -1;
    QString errors;
};

ConverterRun Convert(const QString& input, const QString& format, int quality = 90) {
    QProcess process;
    process.start(kConverter, {"-xall", "-q", QString::number(quality), "-out", format, input});
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        return {-1, "hangs"};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromLocal8Bit(process.readAllStandardError())};
}

QStringList Entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

QString PageName(const QString& stem, int number, const char* extension) {
    return QString("%1-%2.%3").arg(stem).arg(number, 4, 10, QChar('0')).arg(extension);
}

QByteArray Content(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// ---- Independent readers, each giving 8-bit RGB pixels.

struct Raster {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;
    Rgb At(int x, int y) const {
        const std::uint8_t* p = rgb.data() + (std::size_t(y) * width + x) * 3;
        return {p[0], p[1], p[2]};
    }
};

std::optional<Raster> ReadPng(const QString& path) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, QFile::encodeName(path).constData())) {
        return std::nullopt;
    }
    image.format = PNG_FORMAT_RGB;
    Raster raster{int(image.width), int(image.height),
                  std::vector<std::uint8_t>(PNG_IMAGE_SIZE(image))};
    if (!png_image_finish_read(&image, nullptr, raster.rgb.data(), 0, nullptr)) {
        return std::nullopt;
    }
    return raster;
}

// The PNG's header fields and pHYs chunk, straight from the bytes.
struct PngHeader {
    int bitDepth = 0;
    int colourType = -1;
    std::uint32_t xPerMetre = 0, yPerMetre = 0;
    int unit = -1;
};

std::uint32_t BigEndian32(const QByteArray& bytes, qsizetype at) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.constData() + at);
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

PngHeader ReadPngHeader(const QString& path) {
    const QByteArray bytes = Content(path);
    PngHeader header;
    for (qsizetype at = 8; at + 12 <= bytes.size();) {
        const std::uint32_t length = BigEndian32(bytes, at);
        const QByteArray type = bytes.mid(at + 4, 4);
        if (type == "IHDR") {
            header.bitDepth = static_cast<std::uint8_t>(bytes[at + 16]);
            header.colourType = static_cast<std::uint8_t>(bytes[at + 17]);
        } else if (type == "pHYs") {
            header.xPerMetre = BigEndian32(bytes, at + 8);
            header.yPerMetre = BigEndian32(bytes, at + 12);
            header.unit = static_cast<std::uint8_t>(bytes[at + 16]);
        }
        at += 12 + qsizetype{length};
    }
    return header;
}

struct JpegErrors {
    jpeg_error_mgr manager;
    std::jmp_buf escape;
};

std::optional<Raster> ReadJpeg(const QString& path) {
    const QByteArray bytes = Content(path);
    Raster raster;
    jpeg_decompress_struct info{};
    JpegErrors errors{};
    info.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = [](j_common_ptr common) {
        std::longjmp(reinterpret_cast<JpegErrors*>(common->err)->escape, 1);
    };
    volatile bool read = false;
    if (setjmp(errors.escape) == 0) {
        jpeg_create_decompress(&info);
        jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.constData()),
                     static_cast<unsigned long>(bytes.size()));
        jpeg_read_header(&info, TRUE);
        info.out_color_space = JCS_RGB;
        jpeg_start_decompress(&info);
        raster.width = int(info.output_width);
        raster.height = int(info.output_height);
        raster.rgb.resize(std::size_t(raster.width) * raster.height * 3);
        while (info.output_scanline < info.output_height) {
            JSAMPROW row = raster.rgb.data() + std::size_t(info.output_scanline) * raster.width * 3;
            jpeg_read_scanlines(&info, &row, 1);
        }
        jpeg_finish_decompress(&info);
        read = true;
    }
    jpeg_destroy_decompress(&info);
    return read ? std::optional<Raster>(raster) : std::nullopt;
}

// A page as pdftoppm renders it at the page's own resolution. Poppler smooths images drawn at
// less than four times their size, which blurs every edge; drawn at four times, each pixel
// becomes a block of 4 x 4, whose centre is the pixel itself.
std::optional<Raster> RenderPdfPage(const QString& pdf, int page, double dpi, int width,
                                    int height) {
    constexpr int kScale = 4;
    QTemporaryDir folder;
    QProcess process;
    process.start("pdftoppm",
                  {"-r", QString::number(dpi * kScale, 'f', 4), "-f", QString::number(page), "-l",
                   QString::number(page), "-singlefile", pdf, folder.filePath("page")});
    if (!process.waitForFinished(60000) || process.exitCode() != 0) {
        return std::nullopt;
    }
    const QByteArray bytes = Content(folder.filePath("page.ppm"));
    // "P6\n<width> <height>\n255\n" then the pixels.
    const QList<QByteArray> header = bytes.left(64).split('\n');
    if (header.size() < 4 || header[0] != "P6") {
        return std::nullopt;
    }
    const QList<QByteArray> size = header[1].split(' ');
    const int renderedWidth = size.value(0).toInt();
    const int renderedHeight = size.value(1).toInt();
    const qsizetype start = header[0].size() + header[1].size() + header[2].size() + 3;
    // The page's size in points times the resolution, rounded up.
    if (renderedWidth < width * kScale || renderedWidth > width * kScale + 1 ||
        renderedHeight < height * kScale || renderedHeight > height * kScale + 1 ||
        bytes.size() - start != qsizetype(renderedWidth) * renderedHeight * 3) {
        ADD_FAILURE() << "rendered as " << renderedWidth << " x " << renderedHeight;
        return std::nullopt;
    }
    Raster raster{width, height, {}};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const qsizetype at =
                start +
                (qsizetype(y * kScale + kScale / 2) * renderedWidth + x * kScale + kScale / 2) * 3;
            raster.rgb.insert(raster.rgb.end(), bytes.begin() + at, bytes.begin() + at + 3);
        }
    }
    return raster;
}

double Psnr(const Raster& a, const Raster& b) {
    double squares = 0;
    for (std::size_t i = 0; i < a.rgb.size(); ++i) {
        const double difference = double(a.rgb[i]) - double(b.rgb[i]);
        squares += difference * difference;
    }
    const double mean = squares / double(a.rgb.size());
    return mean == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mean);
}

// How many pixels of `raster` are the page's own, a pixel counting when each channel is
// within `tolerance`.
double ShareMatching(const Raster& raster, const PageKind& kind, int tolerance) {
    std::size_t matching = 0;
    for (int y = 0; y < raster.height; ++y) {
        for (int x = 0; x < raster.width; ++x) {
            const Rgb actual = raster.At(x, y);
            const Rgb expected = Expected(kind, x, y);
            bool same = true;
            for (int c = 0; c < 3; ++c) {
                same = same && std::abs(actual[c] - expected[c]) <= tolerance;
            }
            matching += same ? 1 : 0;
        }
    }
    return double(matching) / (double(raster.width) * raster.height);
}

double PerInch(const PageKind& kind) {
    return kind.unit == RESUNIT_CENTIMETER ? kind.resolution * 2.54 : kind.resolution;
}

// The coded bytes of a page's only strip as the document stores them.
QByteArray RawStrip(const QString& path, int directory, std::uint32_t strip = 0) {
    TIFF* tiff = TIFFOpen(QFile::encodeName(path).constData(), "r");
    if (tiff == nullptr || !TIFFSetDirectory(tiff, static_cast<tdir_t>(directory))) {
        return {};
    }
    QByteArray bytes(static_cast<qsizetype>(TIFFRawStripSize(tiff, strip)), '\0');
    TIFFReadRawStrip(tiff, strip, bytes.data(), bytes.size());
    TIFFClose(tiff);
    return bytes;
}

// ---- Every kind of page through every format.

class OutputFormatTest : public ::testing::Test {
protected:
    void SetUp() override {
        input = folder.filePath("document.tif");
        WriteDocument(input, kKinds);
    }
    QTemporaryDir folder;
    QString input;
};

TEST_F(OutputFormatTest, PngPagesHoldEveryPixelAndTheResolution) {
    const ConverterRun run = Convert(input, "png");
    ASSERT_EQ(run.exitCode, 0) << run.errors.toStdString();
    EXPECT_EQ(run.errors, "");
    for (std::size_t i = 0; i < kKinds.size(); ++i) {
        const PageKind& kind = kKinds[i];
        SCOPED_TRACE(kind.name);
        const QString path = folder.filePath(PageName("document", int(i) + 1, "png"));
        const auto png = ReadPng(path);
        ASSERT_TRUE(png);
        ASSERT_EQ(png->width, int(kind.width));
        ASSERT_EQ(png->height, int(kind.height));
        EXPECT_EQ(ShareMatching(*png, kind, 0), 1.0);
        const PngHeader header = ReadPngHeader(path);
        EXPECT_EQ(header.bitDepth, IsBilevel(kind) ? 1 : 8);
        EXPECT_EQ(header.colourType, IsColour(kind) ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY);
        const auto perMetre = std::lround(PerInch(kind) / 0.0254);
        EXPECT_EQ(header.unit, PNG_RESOLUTION_METER);
        EXPECT_NEAR(header.xPerMetre, perMetre, 1);
        EXPECT_NEAR(header.yPerMetre, perMetre, 1);
    }
}

TEST_F(OutputFormatTest, TiffHoldsEveryPageLosslesslyWithG4StripsCopiedAsTheyAre) {
    const ConverterRun run = Convert(input, "tiff");
    ASSERT_EQ(run.exitCode, 0) << run.errors.toStdString();
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(Entries(folder.path()), QStringList({"document-all.tif", "document.tif"}));
    const QString output = folder.filePath("document-all.tif");
    TIFF* tiff = TIFFOpen(QFile::encodeName(output).constData(), "r");
    ASSERT_NE(tiff, nullptr);
    EXPECT_EQ(TIFFNumberOfDirectories(tiff), kKinds.size());
    for (std::size_t i = 0; i < kKinds.size(); ++i) {
        const PageKind& kind = kKinds[i];
        SCOPED_TRACE(kind.name);
        ASSERT_TRUE(TIFFSetDirectory(tiff, static_cast<tdir_t>(i)));
        std::uint16_t compression = 0, predictor = 1, unit = 0;
        float x = 0, y = 0;
        TIFFGetField(tiff, TIFFTAG_COMPRESSION, &compression);
        TIFFGetFieldDefaulted(tiff, TIFFTAG_PREDICTOR, &predictor);
        TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &x);
        TIFFGetField(tiff, TIFFTAG_YRESOLUTION, &y);
        TIFFGetField(tiff, TIFFTAG_RESOLUTIONUNIT, &unit);
        EXPECT_EQ(x, kind.resolution);
        EXPECT_EQ(y, kind.resolution);
        EXPECT_EQ(unit, kind.unit);
        if (IsBilevel(kind)) {
            EXPECT_EQ(compression, COMPRESSION_CCITTFAX4);
        } else {
            EXPECT_TRUE(compression == COMPRESSION_ADOBE_DEFLATE || compression == COMPRESSION_LZW);
            EXPECT_EQ(predictor, PREDICTOR_HORIZONTAL);
        }
        Raster raster{int(kind.width), int(kind.height), {}};
        std::vector<std::uint32_t> rgba(std::size_t(kind.width) * kind.height);
        ASSERT_TRUE(TIFFReadRGBAImageOriented(tiff, kind.width, kind.height, rgba.data(),
                                              ORIENTATION_TOPLEFT, 0));
        for (const std::uint32_t pixel : rgba) {
            raster.rgb.insert(raster.rgb.end(),
                              {std::uint8_t(TIFFGetR(pixel)), std::uint8_t(TIFFGetG(pixel)),
                               std::uint8_t(TIFFGetB(pixel))});
        }
        EXPECT_EQ(ShareMatching(raster, kind, 0), 1.0);
    }
    TIFFClose(tiff);
    for (std::size_t i = 0; i < kKinds.size(); ++i) {
        if (kKinds[i].compression == COMPRESSION_CCITTFAX4) {
            EXPECT_EQ(RawStrip(output, int(i)), RawStrip(input, int(i))) << kKinds[i].name;
        }
    }
}

// The image streams as the PDF stores them, in page order.
std::vector<std::string> PdfImageStreams(const QString& path) {
    std::vector<std::string> streams;
    QPDF pdf;
    pdf.processFile(QFile::encodeName(path).constData());
    for (auto& page : QPDFPageDocumentHelper(pdf).getAllPages()) {
        for (auto [name, image] : page.getImages()) {
            const auto data = image.getRawStreamData();
            streams.emplace_back(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
        }
    }
    return streams;
}

TEST_F(OutputFormatTest, PdfPagesRenderAsTheJpegPagesAndTheDocumentAtTheirResolution) {
    ConverterRun run = Convert(input, "pdf", 80);
    ASSERT_EQ(run.exitCode, 0) << run.errors.toStdString();
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(Entries(folder.path()), QStringList({"document-all.pdf", "document.tif"}));
    ASSERT_EQ(Convert(input, "jpeg", 80).exitCode, 0);
    const QString pdf = folder.filePath("document-all.pdf");

    QProcess check;
    check.start("qpdf", {"--check", pdf});
    ASSERT_TRUE(check.waitForFinished(60000));
    EXPECT_EQ(check.exitCode(), 0) << check.readAllStandardOutput().toStdString();

    const auto streams = PdfImageStreams(pdf);
    ASSERT_EQ(streams.size(), kKinds.size());
    for (std::size_t i = 0; i < kKinds.size(); ++i) {
        const PageKind& kind = kKinds[i];
        SCOPED_TRACE(kind.name);
        const auto render =
            RenderPdfPage(pdf, int(i) + 1, PerInch(kind), int(kind.width), int(kind.height));
        ASSERT_TRUE(render);
        if (IsBilevel(kind)) {
            EXPECT_GE(ShareMatching(*render, kind, 64), 0.99);
            if (kind.compression == COMPRESSION_CCITTFAX4 && kind.rowsPerStrip == 0) {
                QByteArray strip = RawStrip(input, int(i));
                if (kind.lsbFirst) {
                    TIFFReverseBits(reinterpret_cast<std::uint8_t*>(strip.data()), strip.size());
                }
                EXPECT_EQ(streams[i], strip.toStdString()) << "G4 passed through as coded";
            }
            continue;
        }
        const QString jpegPath = folder.filePath(PageName("document", int(i) + 1, "jpg"));
        const auto jpeg = ReadJpeg(jpegPath);
        ASSERT_TRUE(jpeg);
        EXPECT_GE(Psnr(*render, *jpeg), 40.0);
        EXPECT_EQ(streams[i], Content(jpegPath).toStdString()) << "the JPEG page's own bytes";
    }
}

// ---- Damaged documents: per-page formats keep the good pages, whole-document ones nothing.

// A document whose second page is one strip, that strip moved past the end of the file.
void DamageSecondPage(const QString& path) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    QByteArray bytes = file.readAll();
    const auto read32 = [&bytes](qsizetype at) {
        std::uint32_t value = 0;
        std::memcpy(&value, bytes.constData() + at, 4);
        return value;
    };
    std::uint32_t directory = read32(4);
    directory = read32(directory + 2 + (read32(directory) & 0xffff) * 12);
    const std::uint32_t entries = read32(directory) & 0xffff;
    for (std::uint32_t entry = directory + 2; entry < directory + 2 + entries * 12; entry += 12) {
        if ((read32(entry) & 0xffff) == TIFFTAG_STRIPOFFSETS) {
            const std::uint32_t beyond = std::uint32_t(bytes.size()) + 1000;
            std::memcpy(bytes.data() + entry + 8, &beyond, 4);
        }
    }
    ASSERT_TRUE(file.seek(0));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

struct DamagedCase {
    const char* document;  // a file of the corpus, or "" for the generated one
    const char* format;
    int pagesKept;       // per-page formats: pages 1 .. pagesKept, and page 3 for the generated one
    const char* reason;  // part of the failure line
};

void PrintTo(const DamagedCase& row, std::ostream* out) {
    *out << (*row.document ? row.document : "generated") << " as " << row.format;
}

class DamagedDocumentTest : public ::testing::TestWithParam<DamagedCase> {};

TEST_P(DamagedDocumentTest, LeavesOnlyCompletePagesAndNoWholeDocumentFile) {
    const DamagedCase& row = GetParam();
    QTemporaryDir folder;
    const bool generated = *row.document == '\0';
    const QString name = generated ? "mixed.tif" : row.document;
    const QString input = folder.filePath(name);
    if (generated) {
        WriteDocument(input, {kKinds[4], kKinds[0], kKinds[5]});
        DamageSecondPage(input);
    } else {
        ASSERT_TRUE(QFile::copy(kCorpus + '/' + row.document, input));
    }

    const ConverterRun run = Convert(input, row.format);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.errors.count('\n'), 1) << run.errors.toStdString();
    EXPECT_TRUE(run.errors.contains(row.reason)) << run.errors.toStdString();

    QStringList expected = {name};
    const QString format = row.format;
    if (format == "jpeg" || format == "png") {
        const char* extension = format == "jpeg" ? "jpg" : "png";
        const QString stem = QFileInfo(name).completeBaseName();
        for (int page = 1; page <= row.pagesKept; ++page) {
            expected << PageName(stem, page, extension);
        }
        if (generated) {
            expected << PageName(stem, 3, extension);
        }
    }
    expected.sort();
    EXPECT_EQ(Entries(folder.path()), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Documents, DamagedDocumentTest,
    ::testing::Values(DamagedCase{"", "jpeg", 1, "page 2: strip 1 lies beyond the end"},
                      DamagedCase{"", "png", 1, "page 2: strip 1 lies beyond the end"},
                      DamagedCase{"", "tiff", 0, "page 2: strip 1 lies beyond the end"},
                      DamagedCase{"", "pdf", 0, "page 2: strip 1 lies beyond the end"},
                      DamagedCase{"lzw-strip-noise.tif", "png", 0, "page 1: cannot decode"},
                      DamagedCase{"lzw-strip-noise.tif", "tiff", 0, "page 1: cannot decode"},
                      DamagedCase{"lzw-strip-noise.tif", "pdf", 0, "page 1: cannot decode"},
                      DamagedCase{"directory-loops-back.tif", "png", 2, "page 3: cannot read it"},
                      DamagedCase{"directory-loops-back.tif", "tiff", 0, "page 3: cannot read it"},
                      DamagedCase{"directory-loops-back.tif", "pdf", 0, "page 3: cannot read it"},
                      DamagedCase{"page-over-a-gibibyte.tif", "tiff", 0, "limit of 1 GiB"},
                      DamagedCase{"page-over-a-gibibyte.tif", "pdf", 0, "limit of 1 GiB"}),
    [](const auto& info) {
        QString name = QString(*info.param.document ? info.param.document : "generated") + "_" +
                       info.param.format;
        return name.replace('-', '_').replace('.', '_').toStdString();
    });

// ---- Pages libtiff decodes past damage: kept, and named with libtiff's reason, in every format.

struct KeptCase {
    const char* format;
    QStringList outputs;  // besides the input, "scan.tif"
};

void PrintTo(const KeptCase& row, std::ostream* out) {
    *out << row.format;
}

class KeptWithDamageTest : public ::testing::TestWithParam<KeptCase> {};

// A flipped bit in a page's G4 strip: libtiff fills in what it cannot read and says so. The
// page is written all the same (as its strip, copied as it is, in TIFF and PDF files), and the
// converter says which and why, with its own exit status. A clean document says nothing.
TEST_P(KeptWithDamageTest, AFlippedBitInAG4StripIsKeptAndNamed) {
    const KeptCase& row = GetParam();
    QTemporaryDir clean;
    testing::WriteBilevelDocument(clean.filePath("scan.tif"), 3, QSize(400, 300));
    const ConverterRun good = Convert(clean.filePath("scan.tif"), row.format);
    EXPECT_EQ(good.exitCode, 0) << good.errors.toStdString();
    EXPECT_EQ(good.errors, "");

    QTemporaryDir folder;
    const QString input = folder.filePath("scan.tif");
    testing::WriteBilevelDocument(input, 3, QSize(400, 300));
    testing::FlipCodedBit(input, 2, 0);

    const ConverterRun run = Convert(input, row.format);
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_EQ(run.errors.count('\n'), 1) << run.errors.toStdString();
    EXPECT_TRUE(run.errors.endsWith(input + ": page 2 kept with damage: Bad code word at line 5 "
                                            "of strip 0 (x 92)\n"))
        << run.errors.toStdString();
    QStringList expected = row.outputs;
    expected << "scan.tif";
    expected.sort();
    EXPECT_EQ(Entries(folder.path()), expected);
    if (QString(row.format) == "tiff") {
        EXPECT_EQ(RawStrip(folder.filePath("scan-all.tif"), 1), RawStrip(input, 1))
            << "the master keeps the strip as it is";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, KeptWithDamageTest,
    ::testing::Values(KeptCase{"jpeg", {"scan-0001.jpg", "scan-0002.jpg", "scan-0003.jpg"}},
                      KeptCase{"png", {"scan-0001.png", "scan-0002.png", "scan-0003.png"}},
                      KeptCase{"tiff", {"scan-all.tif"}}, KeptCase{"pdf", {"scan-all.pdf"}}),
    [](const auto& info) { return std::string(info.param.format); });

// Every damaged page is named; the first one's reason is given.
TEST(KeptWithDamage, EveryDamagedPageIsNamedAfterAPageThatFailed) {
    QTemporaryDir folder;
    const QString input = folder.filePath("scan.tif");
    testing::WriteBilevelDocument(input, 4, QSize(400, 300));
    testing::FlipCodedBit(input, 3, 0);
    testing::FlipCodedBit(input, 4, 0);
    DamageSecondPage(input);  // moves page 2's strip past the end: page 2 now fails

    const ConverterRun run = Convert(input, "png");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(
        run.errors.contains(": page 2: strip 1 lies beyond the end of the file (the file "
                            "is damaged or cut off); pages 3, 4 kept with damage: "))
        << run.errors.toStdString();
    EXPECT_EQ(run.errors.count('\n'), 1) << run.errors.toStdString();
    EXPECT_EQ(Entries(folder.path()),
              QStringList({"scan-0001.png", "scan-0003.png", "scan-0004.png", "scan.tif"}));
}

// The document reader writes pages it decoded past damage with a note; the converter names
// them just as pages it found damaged itself.
TEST(KeptWithDamage, ThePagesTheReaderNotedAreNamed) {
    QTemporaryDir folder;
    const QString input = folder.filePath("document.tif");
    TIFF* tiff = TIFFOpen(QFile::encodeName(input).constData(), "w");
    ASSERT_NE(tiff, nullptr);
    for (int page = 1; page <= 2; ++page) {
        if (page == 2) {
            TIFFSetField(tiff, TIFFTAG_IMAGEDESCRIPTION,
                         "Vellumax: kept with damage: Premature EOF at line 7 of strip 0 (x 12)");
        }
        WritePage(tiff, kKinds[4]);
    }
    TIFFClose(tiff);

    for (const char* format : {"jpeg", "tiff"}) {
        const ConverterRun run = Convert(input, format);
        EXPECT_EQ(run.exitCode, 3) << format;
        EXPECT_TRUE(run.errors.endsWith(
            ": page 2 kept with damage: Premature EOF at line 7 of strip 0 (x 12)\n"))
            << run.errors.toStdString();
    }
}

// What libtiff says of tags (one it does not know, an entry out of order) is no damage to the
// pixels.
TEST(KeptWithDamage, WarningsAboutTagsAreNoDamage) {
    QTemporaryDir folder;
    const QString input = folder.filePath("document.tif");
    WriteDocument(input, {kKinds[0], kKinds[4]});
    QFile file(input);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    QByteArray bytes = file.readAll();
    // The first page's resolution unit becomes a tag libtiff does not know, out of order.
    std::uint32_t directory = 0;
    std::memcpy(&directory, bytes.constData() + 4, 4);
    std::uint16_t entries = 0;
    std::memcpy(&entries, bytes.constData() + directory, 2);
    bool found = false;
    for (std::uint32_t entry = directory + 2; entry < directory + 2 + entries * 12u; entry += 12) {
        std::uint16_t tag = 0;
        std::memcpy(&tag, bytes.constData() + entry, 2);
        if (tag == TIFFTAG_RESOLUTIONUNIT) {
            const std::uint16_t unknown = 65000;
            std::memcpy(bytes.data() + entry, &unknown, 2);
            found = true;
        }
    }
    ASSERT_TRUE(found);
    ASSERT_TRUE(file.seek(0));
    ASSERT_EQ(file.write(bytes), bytes.size());
    file.close();

    for (const char* format : {"jpeg", "png", "tiff", "pdf"}) {
        const ConverterRun run = Convert(input, format);
        EXPECT_EQ(run.exitCode, 0) << format << ": " << run.errors.toStdString();
        EXPECT_EQ(run.errors, "") << format;
    }
}

// ---- Stopped by the watchdog while the document file is being written.

// Grey pages of a quarter gibibyte each from a few hundred KiB of Deflate: long to convert.
void WriteSlowDocument(const QString& path) {
    TIFF* tiff = TIFFOpen(QFile::encodeName(path).constData(), "w");
    ASSERT_NE(tiff, nullptr);
    constexpr std::uint32_t kSide = 16000;
    const std::vector<std::uint8_t> row(kSide, 0);
    for (int page = 0; page < 2; ++page) {
        TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, kSide);
        TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, kSide);
        TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
        TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 256);
        for (std::uint32_t y = 0; y < kSide; ++y) {
            ASSERT_EQ(TIFFWriteScanline(tiff, const_cast<std::uint8_t*>(row.data()), y, 0), 1);
        }
        ASSERT_TRUE(TIFFWriteDirectory(tiff));
    }
    TIFFClose(tiff);
}

class WatchdogTest : public ::testing::TestWithParam<const char*> {};

TEST_P(WatchdogTest, StoppedConversionLeavesNoFileBehind) {
    QTemporaryDir folder;
    const QString input = folder.filePath("slow.tif");
    WriteSlowDocument(input);
    QProcess process;
    process.start(kConverter, {"-xall", "-q", "75", "-out", GetParam(), input});
    ASSERT_TRUE(process.waitForStarted());
    while (process.state() == QProcess::Running &&
           QDir(folder.path()).entryList({".page-*"}, QDir::Files | QDir::Hidden).isEmpty()) {
        QThread::msleep(5);
    }
    ASSERT_EQ(process.state(), QProcess::Running) << "converted before it could be stopped";
    ::kill(static_cast<pid_t>(process.processId()), SIGALRM);
    ASSERT_TRUE(process.waitForFinished(120000));
    EXPECT_EQ(process.exitCode(), 1);
    EXPECT_TRUE(QString::fromLocal8Bit(process.readAllStandardError()).contains("stopped after"));
    EXPECT_EQ(Entries(folder.path()), QStringList({"slow.tif"}));
}

INSTANTIATE_TEST_SUITE_P(Formats, WatchdogTest, ::testing::Values("png", "tiff", "pdf"));

}  // namespace
}  // namespace vellumax
