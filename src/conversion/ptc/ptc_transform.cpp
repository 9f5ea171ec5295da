#include "conversion/ptc/ptc_transform.h"

#include <array>
#include <utility>

namespace vellumax::ptc {

namespace {

using Sample = std::int32_t;
using Wide = std::int64_t;

constexpr int kWeightBits = 8;
constexpr Wide kRounding = Wide{1} << (kWeightBits - 1);

Sample Scaled(Wide weighted) {
    return static_cast<Sample>((weighted + kRounding) >> kWeightBits);
}

// The share of the difference across an edge between chroma block rows that the filter keeps,
// in 256ths: 5/8, measured as LevelWeights are (with 1/2, chroma's second level reads weaker than
// the source the higher its vertical frequency, down to 0.65 of it).
constexpr Wide kPairKept = 160;

// One dimension of the core: four coefficients, lowest frequency first, to four samples.
void InverseCoreLine(const LevelWeights& w, Sample& a, Sample& b, Sample& c, Sample& d) {
    const Wide evenOuter = Wide{w.dc} * a + Wide{w.second} * c;
    const Wide evenInner = Wide{w.dc} * a - Wide{w.second} * c;
    const Wide oddOuter = Wide{w.firstOuter} * b + Wide{w.thirdOuter} * d;
    const Wide oddInner = Wide{w.firstInner} * b - Wide{w.thirdInner} * d;
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

void InverseCoreTransform(Grid4 grid, const LevelWeights& weights) {
    AlongBothDirections(grid, [&weights](Sample& a, Sample& b, Sample& c, Sample& d) {
        InverseCoreLine(weights, a, b, c, d);
    });
}

void InverseOverlapFilter(Grid4 grid, const LevelWeights& weights) {
    AlongBothDirections(grid, [&weights](Sample& a, Sample& b, Sample& c, Sample& d) {
        InverseEdgeFilter(a, b, c, d, weights);
    });
}

void InverseEdgeFilter(Sample& a, Sample& b, Sample& c, Sample& d, const LevelWeights& weights) {
    const Wide outer = Wide{a} - d;
    const Wide inner = Wide{b} - c;
    const Sample outerSum = a + d;
    const Sample innerSum = b + c;
    const Sample newOuter =
        Scaled(Wide{weights.outerFromOuter} * outer + Wide{weights.outerFromInner} * inner);
    const Sample newInner =
        Scaled(Wide{weights.innerFromOuter} * outer + Wide{weights.innerFromInner} * inner);
    a = (outerSum + newOuter) >> 1;
    d = outerSum - a;
    b = (innerSum + newInner) >> 1;
    c = innerSum - b;
}

void InversePairFilter(Sample& lower, Sample& upper) {
    const Sample sum = lower + upper;
    const Sample kept = Scaled(Wide{kPairKept} * (Wide{lower} - upper));
    lower = (sum + kept) >> 1;
    upper = sum - lower;
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
                                            std::ptrdiff_t spacing, const LevelWeights& weights) {
    AlongRow([&weights](Grid4 grid) { InverseCoreTransform(grid, weights); }, first, count,
             spacing);
}

[[gnu::flatten]] void InverseOverlapFilters(Grid4 first, std::uint32_t count,
                                            std::ptrdiff_t spacing, const LevelWeights& weights) {
    AlongRow([&weights](Grid4 grid) { InverseOverlapFilter(grid, weights); }, first, count,
             spacing);
}

[[gnu::flatten]] void InverseChromaBlocks(std::int32_t* first, std::int32_t* second,
                                          std::uint32_t count) {
    for (std::uint32_t block = 0; block < count; ++block) {
        InverseChromaBlock(first + 4 * block, second + 4 * block);
    }
}

[[gnu::flatten]] void InverseEdgeFilters(std::int32_t* edge, std::uint32_t count,
                                         std::ptrdiff_t spacing, std::ptrdiff_t step,
                                         const LevelWeights& weights) {
    for (std::uint32_t done = 0; done < count; ++done, edge += spacing) {
        Sample a = edge[-2 * step];
        Sample b = edge[-step];
        Sample c = edge[0];
        Sample d = edge[step];
        InverseEdgeFilter(a, b, c, d, weights);
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
