#pragma once

#include <QString>
#include <optional>

namespace vellumax {

// Why a document could not be saved: a run-time style number ("321") and a description
// ("Invalid file format: ...").
struct ReaderFailure {
    int number;
    QString description;
};

// Saves every page of the document at `source` (a document-imaging file or an ordinary TIFF
// file) as one little-endian TIFF file at `target`, replacing what is there; nothing on
// success. The source is only read. The target is written completely or not at all.
//
// Bi-level pages stay 1-bit (CCITT G4); grey pages become 8-bit grey and every other page
// 8-bit RGB, both uncompressed; resolutions are kept. Failures: 53 "File not found",
// 75 "Path/File access error" (source or target), 321 "Invalid file format" (also for pages
// stored with a codec this reader cannot decode), 7 "Out of memory" for a page that would
// need more than 1 GiB decoded.
std::optional<ReaderFailure> SaveDocumentAsTiff(const QString& source, const QString& target);

}  // namespace vellumax
