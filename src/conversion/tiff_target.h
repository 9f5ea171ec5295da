#pragma once

#include <tiffio.h>
#include <QByteArray>
#include <optional>

#include "conversion/document_reader.h"
#include "conversion/libtiff_stream.h"
#include "conversion/page_limits.h"
#include "conversion/source_document.h"

namespace vellumax::reader {

// The written TIFF file, little-endian and classic, on a descriptor owned elsewhere.
class TargetWriting {
public:
    TargetWriting(int descriptor, const QByteArray& name);

    TIFF* tiff() const { return tiff_.get(); }
    bool Finish();
    ReaderFailure Failure() const;

private:
    Stream stream_;
    LibtiffMessages messages_;
    TiffHandle tiff_;
};

// The tags of a page written from decoded rows: 1-bit G4, 8-bit grey or 8-bit RGB.
bool WritePageTags(TIFF* in, TIFF* out, const PageLayout& layout, int page, int pageCount);

// Pages the page converter reads as they are stored: their compressed strips are copied byte
// for byte, which spares decoding and encoding them here and keeps them exactly as scanned.
bool CanCopyStrips(const PageLayout& layout);
std::optional<ReaderFailure> CopyStrips(TIFF* in, const SourceReading& reading,
                                        TargetWriting& target, const PageLayout& layout, int page,
                                        int pageCount);

}  // namespace vellumax::reader
