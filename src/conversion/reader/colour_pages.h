#pragma once

#include <tiffio.h>
#include <optional>

#include "conversion/reader/document_reader.h"
#include "conversion/reader/page_limits.h"
#include "conversion/reader/source_document.h"
#include "conversion/reader/tiff_target.h"

namespace vellumax::reader {

// A colour page of the imaging component's transform codec, decoded a stripe at a time. A page
// with any record that does not decode exactly fails whole: a converted page must never hide
// misread parts.
std::optional<ReaderFailure> CopyTransformCodedPage(TIFF* in, const SourceReading& reading,
                                                    TargetWriting& target, const PageLayout& layout,
                                                    int page, int pageCount);

}  // namespace vellumax::reader
