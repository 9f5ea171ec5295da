#pragma once

#include <tiffio.h>
#include <optional>

#include "conversion/document_reader.h"
#include "conversion/page_limits.h"
#include "conversion/source_document.h"
#include "conversion/tiff_target.h"

namespace vellumax::reader {

// A colour page of the imaging component's transform codec, decoded a stripe at a time. A page
// with any record that does not decode exactly fails whole: a converted page must never hide
// misread parts.
std::optional<ReaderFailure> CopyTransformCodedPage(TIFF* in, const SourceReading& reading,
                                                    TargetWriting& target, const PageLayout& layout,
                                                    int page, int pageCount);

}  // namespace vellumax::reader
