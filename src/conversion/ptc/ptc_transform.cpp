#include "conversion/ptc/ptc_transform.h"

#include <array>
#include <utility>

namespace vellumax::ptc {

namespace {

using Sample = std::int32_t;
using Wide = std::int64_t;

// The transforms are separable: one four-sample transform down each column and along each row.
// Their weights were measured on the shared samples, by learning from the drawn figures (whose
// sources are exact) which filter over the source's samples gives each coefficient the stream
// holds; see the notes on the format. They are kept in 256ths and rounded to
// the nearest once per pass; products are formed wide so that no coded value can overflow.
constexpr int kWeightBits = 8;
constexpr Wide kRounding = Wide{1} << (kWeightBits - 1);

// The core: the DC and the second frequency even about the block's centre, the first and third
// odd, each as weights on the outer and inner samples of a half.
constexpr Wide kDc = 128;            // 1/2
constexpr Wide kSecond = 109;        // 0.426
constexpr Wide kFirstOuter = 186;    // 0.728
constexpr Wide kFirstInner = 78;     // 0.304
constexpr Wide kThirdOuter = 46;     // 0.179
constexpr Wide kThirdInner = 184;    // 0.720

// The overlap filter across an edge keeps the sums of the samples mirrored about it and mixes
// their differences, the outer and the inner pair.
constexpr Wide kOuterFromOuter = 164;  // 0.641
constexpr Wide kOuterFromInner = 42;   // 0.162
constexpr Wide kInnerFromOuter = -75;  // -0.294
constexpr Wide kInnerFromInner = 179;  // 0.698

Sample Scaled(Wide weighted) {
    return static_cast<Sample>((weighted + kRounding) >> kWeightBits);
}

// One dimension of the core: four coefficients, lowest frequency first, to four samples.
void InverseCoreLine(Sample& a, Sample& b, Sample& c, Sample& d) {
    const Wide evenOuter = kDc * a + kSecond * c;
    const Wide evenInner = kDc * a - kSecond * c;
    const Wide oddOuter = kFirstOuter * b + kThirdOuter * d;
    const Wide oddInner = kFirstInner * b - kThirdInner * d;
    a = Scaled(evenOuter + oddOuter);
    b = Scaled(evenInner + oddInner);
    c = Scaled(evenInner - oddInner);
    d = Scaled(evenOuter - oddOuter);
}

template <typename Line>
void AlongBothDirections(Grid4 grid, Line line) {
    for (int row = 0; row < 4; ++row) {
        line(grid.at(row, 0), grid.at(row, 1), grid.at(row, 2), grid.at(row, 3));
    }
    for (int column = 0; column < 4; ++column) {
        line(grid.at(0, column), grid.at(1, column), grid.at(2, column), grid.at(3, column));
    }
}

}  // namespace

void InverseCoreTransform(Grid4 grid) {
    AlongBothDirections(grid, InverseCoreLine);
}

void InverseOverlapFilter(Grid4 grid) {
    AlongBothDirections(grid, InverseEdgeFilter);
}

void InverseEdgeFilter(Sample& a, Sample& b, Sample& c, Sample& d) {
    const Wide outer = Wide{a} - d;
    const Wide inner = Wide{b} - c;
    const Sample outerSum = a + d;
    const Sample innerSum = b + c;
    const Sample newOuter = Scaled(kOuterFromOuter * outer + kOuterFromInner * inner);
    const Sample newInner = Scaled(kInnerFromOuter * outer + kInnerFromInner * inner);
    a = (outerSum + newOuter) >> 1;
    d = outerSum - a;
    b = (innerSum + newInner) >> 1;
    c = innerSum - b;
}

void InversePairFilter(Sample& lower, Sample& upper) {
    Sample difference = lower - upper;
    lower -= difference >> 1;
    difference >>= 1;
    lower += difference >> 1;
    upper = lower - difference;
}

void InverseChromaBlock(std::int32_t* first, std::int32_t* second) {
    std::array<std::array<Sample, 4>, 4> block{};
    for (int column = 0; column < 4; ++column) {
        block[0][column] = first[column];
        block[1][column] = second[column];
    }
    InverseCoreTransform({{block[0].data(), block[1].data(), block[2].data(), block[3].data()}, 1});
    for (int column = 0; column < 4; ++column) {
        first[column] = (block[0][column] + block[1][column] + 1) >> 1;
        second[column] = (block[2][column] + block[3][column] + 1) >> 1;
    }
}

namespace {

// Runs `transform` on a copy of each window, so that, inlined, it keeps the window in
// registers.
template <typename Transform>
[[gnu::always_inline]] inline void AlongRow(Transform transform, Grid4 window, std::uint32_t count,
                                            std::ptrdiff_t spacing) {
    for (std::uint32_t done = 0; done < count; ++done) {
        std::array<std::array<Sample, 4>, 4> copy;
        for (int row = 0; row < 4; ++row) {
            for (int column = 0; column < 4; ++column) {
                copy[row][column] = window.at(row, column);
            }
        }
        transform(Grid4{{copy[0].data(), copy[1].data(), copy[2].data(), copy[3].data()}, 1});
        for (int row = 0; row < 4; ++row) {
            for (int column = 0; column < 4; ++column) {
                window.at(row, column) = copy[row][column];
            }
            window.rows[row] += spacing;
        }
    }
}

}  // namespace

[[gnu::flatten]] void InverseCoreTransforms(Grid4 first, std::uint32_t count,
                                            std::ptrdiff_t spacing) {
    AlongRow(InverseCoreTransform, first, count, spacing);
}

[[gnu::flatten]] void InverseOverlapFilters(Grid4 first, std::uint32_t count,
                                            std::ptrdiff_t spacing) {
    AlongRow(InverseOverlapFilter, first, count, spacing);
}

[[gnu::flatten]] void InverseChromaBlocks(std::int32_t* first, std::int32_t* second,
                                          std::uint32_t count) {
    for (std::uint32_t block = 0; block < count; ++block) {
        InverseChromaBlock(first + 4 * block, second + 4 * block);
    }
}

[[gnu::flatten]] void InverseEdgeFilters(std::int32_t* edge, std::uint32_t count,
                                         std::ptrdiff_t spacing, std::ptrdiff_t step) {
    for (std::uint32_t done = 0; done < count; ++done, edge += spacing) {
        Sample a = edge[-2 * step];
        Sample b = edge[-step];
        Sample c = edge[0];
        Sample d = edge[step];
        InverseEdgeFilter(a, b, c, d);
        edge[-2 * step] = a;
        edge[-step] = b;
        edge[0] = c;
        edge[step] = d;
    }
}

[[gnu::flatten]] void InversePairFilters(std::int32_t* lower, std::int32_t* upper,
                                         std::uint32_t count) {
    for (std::uint32_t column = 0; column < count; ++column) {
        Sample below = lower[column];
        Sample above = upper[column];
        InversePairFilter(below, above);
        lower[column] = below;
        upper[column] = above;
    }
}

}  // namespace vellumax::ptc
