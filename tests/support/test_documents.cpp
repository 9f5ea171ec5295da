#include "test_documents.h"

#include <gtest/gtest.h>
#include <jpeglib.h>
#include <tiffio.h>
#include <QFile>
#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace vellumax::testing {

void WriteGreyDocument(const QString& path, const QList<QSize>& pages, bool imagingHeader) {
    TIFF* tiff = TIFFOpen(QFile::encodeName(path).constData(), "w");
    ASSERT_NE(tiff, nullptr) << path.toStdString();
    int pageIndex = 0;
    for (const QSize& size : pages) {
        TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, size.width());
        TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, size.height());
        TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 16);
        TIFFSetField(tiff, TIFFTAG_XRESOLUTION, 200.0);
        TIFFSetField(tiff, TIFFTAG_YRESOLUTION, 200.0);
        TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
        TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
        TIFFSetField(tiff, TIFFTAG_PAGENUMBER, pageIndex, static_cast<int>(pages.size()));
        std::vector<unsigned char> row(static_cast<size_t>(size.width()));
        for (int y = 0; y < size.height(); ++y) {
            for (int x = 0; x < size.width(); ++x) {
                row[static_cast<size_t>(x)] =
                    static_cast<unsigned char>((x + y + pageIndex * 40) % 256);
            }
            ASSERT_EQ(TIFFWriteScanline(tiff, row.data(), static_cast<uint32_t>(y), 0), 1);
        }
        ASSERT_EQ(TIFFWriteDirectory(tiff), 1);
        ++pageIndex;
    }
    TIFFClose(tiff);
    if (imagingHeader) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        file.write("EP", 2);
    }
}

namespace {

// The tags of a bi-level G4 page of `size`, in strips of `rowsPerStrip` rows.
void SetBilevelTags(TIFF* tiff, QSize size, int rowsPerStrip) {
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, size.width());
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, size.height());
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
}

}  // namespace

void WriteBlankBilevelDocument(const QString& path, int pages, QSize size) {
    TIFF* tiff = TIFFOpen(QFile::encodeName(path).constData(), "w");
    ASSERT_NE(tiff, nullptr) << path.toStdString();
    const std::vector<unsigned char> row(static_cast<size_t>((size.width() + 7) / 8), 0);
    for (int page = 0; page < pages; ++page) {
        SetBilevelTags(tiff, size, size.height());
        for (int y = 0; y < size.height(); ++y) {
            std::vector<unsigned char> copy = row;
            ASSERT_EQ(TIFFWriteScanline(tiff, copy.data(), static_cast<uint32_t>(y), 0), 1);
        }
        ASSERT_EQ(TIFFWriteDirectory(tiff), 1);
    }
    TIFFClose(tiff);
}

void WriteBilevelDocument(const QString& path, int pages, QSize size, int rowsPerStrip) {
    TIFF* tiff = TIFFOpen(QFile::encodeName(path).constData(), "w");
    ASSERT_NE(tiff, nullptr) << path.toStdString();
    const auto width = static_cast<std::uint32_t>(size.width());
    // Lines 12 rows apart of 8-row "words" with gaps, each page shifted by a row.
    const auto black = [](std::uint32_t x, std::uint32_t y) {
        const std::uint32_t line = y / 12;
        const std::uint32_t shifted = x + line * 7;
        return y % 12 < 8 && shifted % 23 < 17 && (shifted / 23 * 5 + line) % 4 != 0 &&
               (x / 3 + y % 12) % 5 != 0;
    };
    for (int page = 0; page < pages; ++page) {
        SetBilevelTags(tiff, size, rowsPerStrip > 0 ? rowsPerStrip : size.height());
        TIFFSetField(tiff, TIFFTAG_XRESOLUTION, 300.0);
        TIFFSetField(tiff, TIFFTAG_YRESOLUTION, 300.0);
        TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
        std::vector<unsigned char> row((width + 7) / 8);
        for (int y = 0; y < size.height(); ++y) {
            std::fill(row.begin(), row.end(), 0);
            for (std::uint32_t x = 0; x < width; ++x) {
                if (black(x, static_cast<std::uint32_t>(y + page))) {
                    row[x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
                }
            }
            ASSERT_EQ(TIFFWriteScanline(tiff, row.data(), static_cast<uint32_t>(y), 0), 1);
        }
        ASSERT_EQ(TIFFWriteDirectory(tiff), 1);
    }
    TIFFClose(tiff);
}

void FlipCodedBit(const QString& path, int page, int bit) {
    TIFF* tiff = TIFFOpen(QFile::encodeName(path).constData(), "r");
    ASSERT_NE(tiff, nullptr) << path.toStdString();
    ASSERT_TRUE(TIFFSetDirectory(tiff, static_cast<tdir_t>(page - 1)));
    const std::uint64_t offset = TIFFGetStrileOffset(tiff, 0);
    ASSERT_LT(static_cast<std::uint64_t>(bit / 8), TIFFGetStrileByteCount(tiff, 0));
    TIFFClose(tiff);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.seek(static_cast<qint64>(offset) + bit / 8));
    char byte = 0;
    ASSERT_TRUE(file.getChar(&byte));
    byte = static_cast<char>(byte ^ (0x80 >> (bit % 8)));
    ASSERT_TRUE(file.seek(static_cast<qint64>(offset) + bit / 8));
    ASSERT_TRUE(file.putChar(byte));
}

void WriteDocumentWithABadThirdPage(const QString& path) {
    TIFF* tiff = TIFFOpen(QFile::encodeName(path).constData(), "w");
    ASSERT_NE(tiff, nullptr);
    for (int page = 1; page <= 4; ++page) {
        TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, 20 + page);
        TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, 12);
        TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
        if (page != 3) {
            TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        }
        TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 12);
        std::vector<unsigned char> pixels(std::size_t(20 + page) * 12, 128);
        TIFFWriteEncodedStrip(tiff, 0, pixels.data(), tmsize_t(pixels.size()));
        ASSERT_EQ(TIFFWriteDirectory(tiff), 1);
    }
    TIFFClose(tiff);
}

namespace {
struct JpegErrors {
    jpeg_error_mgr manager;
    std::jmp_buf escape;
};
}  // namespace

QSize JpegSize(const QString& path) {
    FILE* file = std::fopen(QFile::encodeName(path).constData(), "rb");
    if (file == nullptr) {
        return {};
    }
    jpeg_decompress_struct info{};
    JpegErrors errors{};
    info.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = [](j_common_ptr common) {
        std::longjmp(reinterpret_cast<JpegErrors*>(common->err)->escape, 1);
    };
    QSize size;
    if (setjmp(errors.escape) == 0) {
        jpeg_create_decompress(&info);
        jpeg_stdio_src(&info, file);
        jpeg_read_header(&info, TRUE);
        size = QSize(static_cast<int>(info.image_width), static_cast<int>(info.image_height));
    }
    jpeg_destroy_decompress(&info);
    std::fclose(file);
    return size;
}

}  // namespace vellumax::testing
