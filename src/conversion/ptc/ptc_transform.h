#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace vellumax::ptc {

// A 4×4 array of samples inside a larger plane: element (row, column) is
// rows[row][column * columnStep]. The second level works on block DCs spread over a
// macroblock, the first level on adjacent samples; rows come one by one because the plane is
// a ring of stripes.
struct Grid4 {
    std::array<std::int32_t*, 4> rows;
    std::ptrdiff_t columnStep;

    std::int32_t& at(int row, int column) const { return rows[row][column * columnStep]; }
};

// Which level a transform works at: the two take weights of their own (measured on the shared
// samples; see the notes on the format). Both levels' core transforms and overlap filters are
// separable, one four-sample transform along each row and down each column.
enum class Level { First, Second };

// The inverse of the 4×4 lapped core transform, in place; coefficient (0, 0) is the DC, and
// a DC alone comes out as a quarter of itself on every sample.
void InverseCoreTransform(Grid4 grid, Level level = Level::First);

// The inverse overlap filter on a 4×4 window that straddles block edges, in place. It leaves
// a flat window as it is.
void InverseOverlapFilter(Grid4 grid, Level level = Level::First);

// The inverse overlap filter across one block edge, on four samples in a line: two on either
// side of the edge, in coding order. Chroma's first level uses it across the edges between
// its 4-sample-wide blocks, and both levels along the page's borders.
void InverseEdgeFilter(std::int32_t& a, std::int32_t& b, std::int32_t& c, std::int32_t& d,
                       Level level = Level::First);

// The inverse overlap filter across the edge between two chroma block rows, on the sample
// either side of it: it keeps 5/8 of their difference.
void InversePairFilter(std::int32_t& lower, std::int32_t& upper);

// The inverse transform of a 4×2 chroma block whose coefficients sit in the first four samples
// of its two rows, `first` and `second` in coding order, in place. It runs the core transform with
// the two missing rows of frequencies at zero and averages the output rows in pairs, which keeps a
// DC's gain at a quarter and turns the first vertical frequency into the difference of the two
// rows.
void InverseChromaBlock(std::int32_t* first, std::int32_t* second);

// The same transforms on `count` windows side by side along a row, each `spacing` samples to
// the right of the one before; `first` is the leftmost. Each window is worked on in a copy of
// its own: the compiler cannot tell that a grid's rows never overlap, and would otherwise go to
// memory for every sample at every step.
void InverseCoreTransforms(Grid4 first, std::uint32_t count, std::ptrdiff_t spacing, Level level);
void InverseOverlapFilters(Grid4 first, std::uint32_t count, std::ptrdiff_t spacing, Level level);
// Chroma blocks 4 samples apart.
void InverseChromaBlocks(std::int32_t* first, std::int32_t* second, std::uint32_t count);
// The four-sample edge filter on `count` edges of one row, `spacing` apart, samples `step`
// apart; `edge` is the first sample right of the first edge.
void InverseEdgeFilters(std::int32_t* edge, std::uint32_t count, std::ptrdiff_t spacing,
                        std::ptrdiff_t step, Level level);
// The pair filter down `count` columns of two neighbouring rows.
void InversePairFilters(std::int32_t* lower, std::int32_t* upper, std::uint32_t count);

}  // namespace vellumax::ptc
