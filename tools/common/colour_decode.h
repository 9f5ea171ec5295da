#pragma once

// The colour decoder run over a whole page, for the tools that time it on its own (natively and
// in the browser).

#include <cstdint>
#include <string>

#include "common/colour_stream.h"
#include "conversion/ptc/ptc_decoder.h"

namespace vellumax::tools {

// Decodes every row of the page the stream holds; the pixels decoded, or 0 with `problem` when
// the stream cannot be opened. Damaged records are concealed here so that every page decodes to
// its end; conversion refuses such pages.
inline double DecodeWholePage(const Bytes& stream, std::string& problem) {
    const auto decoder = ptc::PageDecoder::Open(stream, problem, ptc::Damage::Conceal);
    if (!decoder) {
        return 0;
    }
    Bytes row(3 * std::size_t{decoder->frame().width});
    for (std::uint32_t y = 0; y < decoder->frame().height; ++y) {
        decoder->ReadRow(row);
    }
    return double(decoder->frame().width) * decoder->frame().height;
}

}  // namespace vellumax::tools
