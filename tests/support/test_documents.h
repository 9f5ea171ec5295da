#pragma once

#include <QList>
#include <QSize>
#include <QString>

namespace vellumax::testing {

// Writes a TIFF document of 8-bit grey pages with the given sizes at 200 dpi; with
// `imagingHeader` its first bytes read "EP*\0" as document-imaging files do.
void WriteGreyDocument(const QString& path, const QList<QSize>& pages, bool imagingHeader = false);

// Writes a TIFF document of blank bi-level CCITT G4 pages: a few bytes on disk each, however
// large, and slow to turn into JPEG when large.
void WriteBlankBilevelDocument(const QString& path, int pages, QSize size);

// Writes a TIFF document of bi-level CCITT G4 pages that show lines of "words", `rowsPerStrip`
// rows to a strip (0: each page in one strip).
void WriteBilevelDocument(const QString& path, int pages, QSize size, int rowsPerStrip = 0);

// Flips one bit of the coded data of `page` (from 1): bit `bit` from the start of its first
// strip, the most significant bit of a byte first.
void FlipCodedBit(const QString& path, int page, int bit);

// Writes four grey pages of widths 21 to 24 and 12 rows; the third does not say how its samples
// are coloured, so no picture can be made of it.
void WriteDocumentWithABadThirdPage(const QString& path);

// The pixel size of a JPEG file, or an empty size when it is no readable JPEG.
QSize JpegSize(const QString& path);

}  // namespace vellumax::testing
