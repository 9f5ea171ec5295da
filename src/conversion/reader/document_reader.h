#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vellumax {

// Why a document could not be saved: a run-time style number ("321") and a description
// ("Invalid file format: ...").
struct ReaderFailure {
    int number;
    std::string description;
};

// Saves every page of the document at `source` (a document-imaging file or an ordinary TIFF
// file) as one little-endian TIFF file at `target`, replacing what is there; nothing on
// success. The source is only read. The target is written completely or not at all.
//
// Bi-level pages stay 1-bit (CCITT G4); grey pages become 8-bit grey and every other page
// 8-bit RGB; resolutions are kept. A page libtiff decoded past damage is saved with libtiff's
// words in its ImageDescription (after converter::kDamageNote), for the page converter to
// report. The written file is held to WrittenFileBounds. Failures:
// 53 "File not found", 75 "Path/File access error" (source or target), 321 "Invalid file
// format" (also for pages stored with a codec this reader cannot decode), 7 "Out of memory" for
// a page that would need more than 1 GiB decoded or would take the written file past its limit.
std::optional<ReaderFailure> SaveDocumentAsTiff(const std::string& source,
                                                const std::string& target);

// What the written file of one document may take, whatever its pages declare.
struct WrittenFileBounds {
    // Grey and colour pages are written as decoded while the file stays within this (fastest
    // to write and to read), and compressed losslessly after it, so that a page of one colour
    // takes next to nothing however large it says it is.
    std::uint64_t plainBytes = std::uint64_t{256} << 20;
    // The most the file may take; nothing: WrittenFileLimit of the source's size on disk.
    std::optional<std::uint64_t> limit;
};

std::optional<ReaderFailure> SaveDocumentAsTiff(const std::string& source,
                                                const std::string& target,
                                                const WrittenFileBounds& bounds);

// The most the written file of a document may take: 1 GiB (the most one page may need decoded)
// and 256 bytes for each byte the source takes on its disk. A sparse file's holes take nothing,
// and strips that all point at one block make the file no larger. The shared colour samples
// write 21 to 49 bytes compressed (and up to 190 as decoded) for each byte of theirs.
std::uint64_t WrittenFileLimit(std::uint64_t sourceBytesOnDisk);

}  // namespace vellumax
