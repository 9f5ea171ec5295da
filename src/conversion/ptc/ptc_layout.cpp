#include "conversion/ptc/ptc_layout.h"

#include <array>

namespace vellumax::ptc {

namespace {

struct Position {
    int row;
    int column;
};

constexpr int kBlocksPerMacroblock = 16;
constexpr std::uint32_t kMacroblockColumns = 16;
constexpr std::uint32_t kBlockColumns = 4;

// Blocks of a macroblock in coding order, a space-filling path of (block row, block column).
constexpr std::array<Position, kBlocksPerMacroblock> kBlockPath = {{{0, 0},
                                                                    {0, 1},
                                                                    {1, 1},
                                                                    {1, 0},
                                                                    {2, 0},
                                                                    {3, 0},
                                                                    {3, 1},
                                                                    {2, 1},
                                                                    {2, 2},
                                                                    {3, 2},
                                                                    {3, 3},
                                                                    {2, 3},
                                                                    {1, 3},
                                                                    {1, 2},
                                                                    {0, 2},
                                                                    {0, 3}}};

// Luma's second-level coefficients in coding order, as positions of the macroblock's 4×4 grid
// of block DCs, lowest frequencies first. Measured on the shared samples: this order gives the
// smoothest pages, and every other order tried leaves stray patterns along edges.
constexpr std::array<Position, kBlocksPerMacroblock> kSecondLevelOrder = {{
    // clang-format off
    {0, 0}, {0, 1}, {1, 0}, {1, 1}, {0, 2}, {1, 2}, {2, 0}, {2, 1},
    {0, 3}, {1, 3}, {2, 2}, {3, 0}, {3, 1}, {2, 3}, {3, 2}, {3, 3},
    // clang-format on
}};

// The sign a coefficient takes at a frequency of each direction: the encoder's two highest
// basis functions have the opposite sign of ours, so a coefficient at (row, column) of either
// level changes sign when exactly one of the two is 2 or 3.
constexpr std::array<std::int32_t, 4> kFrequencySign = {1, 1, -1, -1};

std::int32_t FrequencySign(Position place) {
    return kFrequencySign[place.row] * kFrequencySign[place.column];
}

// Chroma's second-level coefficients come in luma's order. Measured on the shared samples: the
// values' sizes fall off along each direction as they do in luma (the first horizontal frequency
// holds the most, a chroma macroblock being twice as wide as it is high), and any other
// arrangement of the first three leaves colour in horizontal bands across the macroblock, with
// rougher colour and worse thumbnails.
constexpr std::array<Position, kBlocksPerMacroblock> kChromaSecondLevelOrder = kSecondLevelOrder;

// A first-level subgroup: it starts at `start` times the block count and holds `positions`
// of every block in turn.
struct Subgroup {
    int start;
    int count;
    std::array<Position, 5> positions;
};

constexpr std::array<Subgroup, 4> kLumaSubgroups = {{
    {1, 3, {{{0, 1}, {1, 0}, {1, 1}}}},
    {4, 4, {{{0, 2}, {1, 2}, {2, 0}, {2, 1}}}},
    {8, 5, {{{0, 3}, {1, 3}, {2, 2}, {3, 0}, {3, 1}}}},
    {13, 3, {{{2, 3}, {3, 2}, {3, 3}}}},
}};

// A 4×2 block keeps the luma subgroups' positions in its two rows.
constexpr std::array<Subgroup, 3> kChromaSubgroups = {{
    {1, 3, {{{0, 1}, {1, 0}, {1, 1}}}},
    {4, 2, {{{0, 2}, {1, 2}}}},
    {6, 2, {{{0, 3}, {1, 3}}}},
}};

template <std::size_t Count>
void PlaceFirstLevel(const ChannelLayout& layout, const std::array<Subgroup, Count>& subgroups,
                     std::span<const std::int32_t> values, std::uint32_t blocks, std::int32_t step,
                     std::span<std::int32_t* const> rows, std::uint32_t left) {
    for (const Subgroup& subgroup : subgroups) {
        const std::size_t begin = std::size_t{blocks} * subgroup.start;
        const std::size_t end =
            std::min(values.size(), begin + std::size_t{blocks} * subgroup.count);
        for (std::size_t index = begin; index < end; ++index) {
            if (values[index] == 0) {
                continue;
            }
            const std::size_t block = (index - begin) / subgroup.count;
            const Position place = subgroup.positions[(index - begin) % subgroup.count];
            const Position path = kBlockPath[block % kBlocksPerMacroblock];
            const std::uint32_t column =
                left +
                static_cast<std::uint32_t>(block / kBlocksPerMacroblock) * kMacroblockColumns +
                path.column * kBlockColumns + place.column;
            rows[path.row * layout.blockRows + place.row][column] =
                FrequencySign(place) * values[index] * step;
        }
    }
}

}  // namespace

void PlaceCoefficients(const ChannelLayout& layout, std::span<std::int32_t> values,
                       std::uint32_t columns, std::int32_t step,
                       std::span<std::int32_t* const> rows, std::uint32_t left) {
    const std::uint32_t macroblocks = columns / kMacroblockColumns;
    const std::uint32_t blocks = macroblocks * kBlocksPerMacroblock;
    for (std::size_t index = 1; index < std::min<std::size_t>(macroblocks, values.size());
         ++index) {
        values[index] += values[index - 1];
    }
    const std::size_t secondLevelEnd = std::min<std::size_t>(blocks, values.size());
    for (std::size_t index = 0; index < secondLevelEnd; ++index) {
        if (values[index] == 0) {
            continue;
        }
        const std::uint32_t macroblock = static_cast<std::uint32_t>(index % macroblocks);
        const bool luma = layout.blockRows == kLumaLayout.blockRows;
        const Position place = luma ? kSecondLevelOrder[index / macroblocks]
                                    : kChromaSecondLevelOrder[index / macroblocks];
        rows[place.row * layout.blockRows]
            [left + macroblock * kMacroblockColumns + place.column * kBlockColumns] =
                FrequencySign(place) * values[index] * step;
    }
    if (layout.blockRows == kLumaLayout.blockRows) {
        PlaceFirstLevel(layout, kLumaSubgroups, values, blocks, step, rows, left);
    } else {
        PlaceFirstLevel(layout, kChromaSubgroups, values, blocks, step, rows, left);
    }
}

}  // namespace vellumax::ptc
