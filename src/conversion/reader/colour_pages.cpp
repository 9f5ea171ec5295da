#include "conversion/reader/colour_pages.h"

#include <string>
#include <utility>
#include <vector>

#include "conversion/ptc/ptc_decoder.h"
#include "conversion/reader/reader_failures.h"

namespace vellumax::reader {

std::optional<ReaderFailure> CopyTransformCodedPage(TIFF* in, const SourceReading& reading,
                                                    TargetWriting& target, const PageLayout& layout,
                                                    int page, int pageCount) {
    const auto broken = [page](const std::string& why) {
        return InvalidFormat(Text("page ", page, " cannot be decoded: ", why));
    };
    if (TIFFNumberOfStrips(in) != 1) {
        return broken("its colour stream is split into strips");
    }
    // The strip's length was held against the file's before anything was read.
    std::vector<std::uint8_t> stream(static_cast<std::size_t>(TIFFGetStrileByteCount(in, 0)));
    const auto size = static_cast<tmsize_t>(stream.size());
    if (TIFFReadRawStrip(in, 0, stream.data(), size) != size) {
        return reading.Failure(Text("page ", page, " cannot be decoded"));
    }
    std::string problem;
    const auto decoder = ptc::PageDecoder::Open(std::move(stream), problem);
    if (!decoder) {
        return broken(problem);
    }
    if (decoder->frame().width != layout.width || decoder->frame().height != layout.height) {
        return broken("its colour stream is of another size than the page");
    }
    TIFF* const out = target.tiff();
    if (!WritePageTags(in, out, layout, page, pageCount, target.Compresses(layout))) {
        return target.Failure();
    }
    std::vector<std::uint8_t> written(static_cast<std::size_t>(layout.outputRowBytes()));
    for (std::uint32_t row = 0; row < layout.height; ++row) {
        if (decoder->ReadRow(written) && TIFFWriteScanline(out, written.data(), row, 0) >= 0) {
            continue;
        }
        if (!decoder->damagedRecords()) {
            return decoder->problem().empty() ? target.Failure() : broken(decoder->problem());
        }
        const ptc::RecordCount records = ptc::CountRecords(decoder->stream());
        return broken(
            Text(records.damaged, " of its ", records.total, " colour records are damaged"));
    }
    if (!TIFFWriteDirectory(out)) {
        return target.Failure();
    }
    return std::nullopt;
}

}  // namespace vellumax::reader
