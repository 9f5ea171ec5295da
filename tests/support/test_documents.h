#pragma once

#include <QList>
#include <QSize>
#include <QString>

namespace vellumax::testing {

// Writes a TIFF document of 8-bit grey pages with the given sizes at 200 dpi; with
// `imagingHeader` its first bytes read "EP*\0" as document-imaging files do.
void WriteGreyDocument(const QString& path, const QList<QSize>& pages, bool imagingHeader = false);

// The pixel size of a JPEG file, or an empty size when it is no readable JPEG.
QSize JpegSize(const QString& path);

}  // namespace vellumax::testing
