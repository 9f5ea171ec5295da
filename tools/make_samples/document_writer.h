#pragma once

#include <QImage>
#include <QString>
#include <vector>

namespace vellumax::samples {

enum class PageKind { Bilevel, Grey, Colour };

// One page as drawn: Grayscale8 for bi-level and grey pages, RGB888 for colour pages.
struct Page {
    PageKind kind;
    QImage image;
};

// Writes the pages as one document-imaging file ("EP*\0" followed by a little-endian TIFF).
// Returns an empty text on success, otherwise what went wrong; a failed write leaves no file.
QString WriteDocument(const QString& path, const std::vector<Page>& pages, int dpi);

}  // namespace vellumax::samples
