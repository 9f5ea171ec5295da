#pragma once

#include <tiffio.h>
#include <optional>
#include <string>

#include "conversion/reader/document_reader.h"
#include "conversion/reader/libtiff_stream.h"
#include "conversion/reader/page_limits.h"
#include "conversion/reader/source_document.h"

namespace vellumax::reader {

// The written TIFF file, little-endian, on a descriptor owned elsewhere, never let past
// `limit` bytes: classic TIFF, or BigTIFF when the limit lies beyond what classic TIFF can
// address. `sourceBytesOnDisk` is only told in the failure.
class TargetWriting {
public:
    TargetWriting(int descriptor, const std::string& name, std::uint64_t plainBytes,
                  std::uint64_t limit, std::uint64_t sourceBytesOnDisk);

    TIFF* tiff() const { return tiff_.get(); }
    // The page being written, which a failure names.
    void StartPage(int page) { page_ = page; }
    // Whether the page, written from decoded rows, is compressed: it is when, written as
    // decoded, it would take the file past `plainBytes`.
    bool Compresses(const PageLayout& layout) const;
    bool Finish();
    ReaderFailure Failure() const;

private:
    Stream stream_;
    LibtiffMessages messages_;
    std::uint64_t plainBytes_;
    std::uint64_t sourceBytesOnDisk_;
    int page_ = 0;
    TiffHandle tiff_;
};

// How grey and colour pages written from decoded rows are compressed: Zstandard, or Deflate
// where libtiff has no Zstandard, both at their fastest level, with the horizontal predictor.
// A page of one colour then takes next to nothing whatever size it declares.
std::uint16_t WrittenCompression();

// The tags of a page written from decoded rows: 1-bit G4, 8-bit grey or 8-bit RGB, the latter
// two plain or, with `compressed`, in WrittenCompression.
bool WritePageTags(TIFF* in, TIFF* out, const PageLayout& layout, int page, int pageCount,
                   bool compressed);

// Pages the page converter reads as they are stored: their compressed strips are copied byte
// for byte, which spares decoding and encoding them here and keeps them exactly as scanned.
bool CanCopyStrips(const PageLayout& layout);
std::optional<ReaderFailure> CopyStrips(TIFF* in, const SourceReading& reading,
                                        TargetWriting& target, const PageLayout& layout, int page,
                                        int pageCount);

}  // namespace vellumax::reader
