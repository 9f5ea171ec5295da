#pragma once

#include <cstdint>
#include <span>

namespace vellumax::ptc {

// Where a channel record's coefficients go. Luma is coded in 4×4 blocks, chroma at half
// resolution both ways in 4×2 blocks; either way sixteen blocks (4 by 4) make a macroblock
// 16 samples wide, and a chunk's plane holds as many blocks as it is samples wide.
//
// The vector is laid out by frequency: first one DC per macroblock, then the other fifteen
// second-level coefficients of every macroblock (coefficient k of macroblock m at
// m + macroblocks * k), then the first-level AC coefficients in subgroups, each holding a
// few positions of every block.
struct ChannelLayout {
    int blockRows;  // 4 for luma, 2 for chroma
};

inline constexpr ChannelLayout kLumaLayout{4};
inline constexpr ChannelLayout kChromaLayout{2};

// Writes the non-zero coefficients of a chunk `columns` samples wide, each multiplied by
// `step`, into a cleared stripe: `rows` are the stripe's rows in coding order, which runs from
// the bottom of the page up, and the chunk starts at column `left`. Coefficient (r, c) of a
// block sits at the block's own sample (r, c). The DC group is coded as differences from the
// macroblock to the left; `values` is summed in place.
void PlaceCoefficients(const ChannelLayout& layout, std::span<std::int32_t> values,
                       std::uint32_t columns, std::int32_t step,
                       std::span<std::int32_t* const> rows, std::uint32_t left);

}  // namespace vellumax::ptc
