#include "document_writer.h"

#include <tiffio.h>

#include <QFile>
#include <algorithm>
#include <cstdio>
#include <memory>

namespace vellumax::samples {
namespace {

using TiffHandle = std::unique_ptr<TIFF, decltype(&TIFFClose)>;

// Keeps every strip within 64 KiB before compression, so readers can work strip by strip.
constexpr tmsize_t kStripBytes = 64 * 1024;

// Bi-level pages are drawn in grey without antialiasing; anything darker than mid-grey is ink.
QByteArray PackBilevelRow(const uchar* grey, int width) {
    QByteArray row((width + 7) / 8, '\0');
    for (int x = 0; x < width; ++x) {
        if (grey[x] < 128) {
            row[x / 8] = static_cast<char>(row[x / 8] | (0x80 >> (x % 8)));
        }
    }
    return row;
}

void SetPageFields(TIFF* tiff, const Page& page, int number, int count, int dpi) {
    const bool bilevel = page.kind == PageKind::Bilevel;
    const bool colour = page.kind == PageKind::Colour;
    TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    TIFFSetField(tiff, TIFFTAG_PAGENUMBER, number, count);
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, page.image.width());
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, page.image.height());
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, bilevel ? 1 : 8);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, colour ? 3 : 1);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(
        tiff, TIFFTAG_PHOTOMETRIC,
        bilevel ? PHOTOMETRIC_MINISWHITE : (colour ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK));
    TIFFSetField(
        tiff, TIFFTAG_COMPRESSION,
        bilevel ? COMPRESSION_CCITTFAX4 : (colour ? COMPRESSION_ADOBE_DEFLATE : COMPRESSION_LZW));
    if (!bilevel) {
        TIFFSetField(tiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    }
    TIFFSetField(tiff, TIFFTAG_XRESOLUTION, static_cast<float>(dpi));
    TIFFSetField(tiff, TIFFTAG_YRESOLUTION, static_cast<float>(dpi));
    TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(tiff, TIFFTAG_SOFTWARE, "Vellumax sample generator");
    const tmsize_t rows = std::max<tmsize_t>(1, kStripBytes / TIFFScanlineSize(tiff));
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(rows));
}

bool WritePage(TIFF* tiff, const Page& page, int number, int count, int dpi) {
    SetPageFields(tiff, page, number, count, dpi);
    const int width = page.image.width();
    for (int y = 0; y < page.image.height(); ++y) {
        QByteArray row =
            page.kind == PageKind::Bilevel
                ? PackBilevelRow(page.image.constScanLine(y), width)
                : QByteArray(reinterpret_cast<const char*>(page.image.constScanLine(y)),
                             width * (page.kind == PageKind::Colour ? 3 : 1));
        if (TIFFWriteScanline(tiff, row.data(), static_cast<uint32_t>(y), 0) < 0) {
            return false;
        }
    }
    return TIFFWriteDirectory(tiff) != 0;
}

QString WriteTiff(const QString& path, const std::vector<Page>& pages, int dpi) {
    // "l": little-endian, so the "II" mark is where the document-imaging mark goes.
    TiffHandle tiff(TIFFOpen(QFile::encodeName(path).constData(), "wl"), &TIFFClose);
    if (!tiff) {
        return QStringLiteral("cannot create %1").arg(path);
    }
    const int count = static_cast<int>(pages.size());
    int number = 0;
    for (const Page& page : pages) {
        if (!WritePage(tiff.get(), page, number, count, dpi)) {
            return QStringLiteral("cannot write page %1 of %2").arg(number + 1).arg(path);
        }
        ++number;
    }
    return {};
}

QString MarkAsDocumentImaging(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite) || file.read(2) != "II" || !file.seek(0) ||
        file.write("EP", 2) != 2) {
        return QStringLiteral("cannot mark %1: %2").arg(path, file.errorString());
    }
    return {};
}

}  // namespace

QString WriteDocument(const QString& path, const std::vector<Page>& pages, int dpi) {
    // Written under another name first, so a failed run never leaves a document that looks whole.
    const QString partial = path + QStringLiteral(".part");
    QString error = WriteTiff(partial, pages, dpi);
    if (error.isEmpty()) {
        error = MarkAsDocumentImaging(partial);
    }
    if (error.isEmpty() && std::rename(QFile::encodeName(partial).constData(),
                                       QFile::encodeName(path).constData()) != 0) {
        error = QStringLiteral("cannot rename %1 to %2").arg(partial, path);
    }
    if (!error.isEmpty()) {
        QFile::remove(partial);
    }
    return error;
}

}  // namespace vellumax::samples
