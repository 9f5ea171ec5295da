#include "conversion/ptc/ptc_transform.h"

#include <array>

namespace vellumax::ptc {

namespace {

using Sample = std::int32_t;

// The weights of one level's core transform and overlap filters, in 256ths. Both are separable,
// one four-sample transform along each row and down each column. They were measured on the
// shared samples: for each level, the filter over the source's samples that gives each coefficient
// the stream holds was learned from the drawn figures (and, at the second level, the photographs
// too), and these are the transforms that undo them (see the notes on the format).
struct LevelWeights {
    // The core: the DC and the second frequency even about the block's centre, the first and
    // third odd, each with a weight on the outer and on the inner sample of either half.
    Sample dc, second, firstOuter, firstInner, thirdOuter, thirdInner;
    // The overlap filter across an edge keeps the sums of the samples mirrored about it and
    // mixes their differences, of the outer pair and of the inner pair.
    Sample outerFromOuter, outerFromInner, innerFromOuter, innerFromInner;
};

constexpr LevelWeights kFirstLevelWeights{128, 109, 186, 78, 46, 184, 164, 42, -75, 179};
constexpr LevelWeights kSecondLevelWeights{128, 104, 181, 77, 40, 170, 166, 39, -76, 179};

constexpr int kWeightBits = 8;

// Weighted sums are formed in unsigned arithmetic, which wraps around instead of overflowing.
// Coded values stay far from 32 bits (a step of 960 times the largest value the coder allows is
// under 2^22, times weights under 2^8), so only a damaged stream can wrap, and then it gives wrong
// samples rather than undefined behaviour.
using Unsigned = std::uint32_t;

constexpr Unsigned U(Sample value) {
    return static_cast<Unsigned>(value);
}

// A weighted sum back in samples, rounded to the nearest (the shift of a negative value rounds
// toward minus infinity).
Sample Scaled(Unsigned weighted) {
    return static_cast<Sample>(weighted + (Unsigned{1} << (kWeightBits - 1))) >> kWeightBits;
}

Sample Half(Unsigned sum) {
    return static_cast<Sample>(sum) >> 1;
}

// The share of the difference across an edge between chroma block rows that the filter keeps,
// in 256ths: 5/8, measured as the levels' weights are (with 1/2, chroma's second level reads
// weaker than its source the higher its vertical frequency, down to 0.65 of it).
constexpr Sample kPairKept = 160;

// One dimension of the core: four coefficients, lowest frequency first, to four samples.
template <const LevelWeights& W>
void InverseCoreLine(Sample& a, Sample& b, Sample& c, Sample& d) {
    const Unsigned evenOuter = U(W.dc) * U(a) + U(W.second) * U(c);
    const Unsigned evenInner = U(W.dc) * U(a) - U(W.second) * U(c);
    const Unsigned oddOuter = U(W.firstOuter) * U(b) + U(W.thirdOuter) * U(d);
    const Unsigned oddInner = U(W.firstInner) * U(b) - U(W.thirdInner) * U(d);
    a = Scaled(evenOuter + oddOuter);
    b = Scaled(evenInner + oddInner);
    c = Scaled(evenInner - oddInner);
    d = Scaled(evenOuter - oddOuter);
}

template <const LevelWeights& W>
void InverseEdgeLine(Sample& a, Sample& b, Sample& c, Sample& d) {
    const Unsigned outer = U(a) - U(d);
    const Unsigned inner = U(b) - U(c);
    const Unsigned outerSum = U(a) + U(d);
    const Unsigned innerSum = U(b) + U(c);
    const Sample newOuter = Scaled(U(W.outerFromOuter) * outer + U(W.outerFromInner) * inner);
    const Sample newInner = Scaled(U(W.innerFromOuter) * outer + U(W.innerFromInner) * inner);
    a = Half(outerSum + U(newOuter));
    d = static_cast<Sample>(outerSum - U(a));
    b = Half(innerSum + U(newInner));
    c = static_cast<Sample>(innerSum - U(b));
}

template <auto Line>
void AlongBothDirections(Grid4 grid) {
    for (int row = 0; row < 4; ++row) {
        Line(grid.at(row, 0), grid.at(row, 1), grid.at(row, 2), grid.at(row, 3));
    }
    for (int column = 0; column < 4; ++column) {
        Line(grid.at(0, column), grid.at(1, column), grid.at(2, column), grid.at(3, column));
    }
}

template <const LevelWeights& W>
void CoreTransform(Grid4 grid) {
    // Most blocks code nothing but their DC (the second level's output); such a block comes out
    // flat, at the value the two passes give a DC alone.
    Sample others = 0;
    for (int row = 0; row < 4; ++row) {
        for (int column = row == 0 ? 1 : 0; column < 4; ++column) {
            others |= grid.at(row, column);
        }
    }
    if (others != 0) {
        AlongBothDirections<InverseCoreLine<W>>(grid);
        return;
    }
    Sample flat = grid.at(0, 0);
    for (int pass = 0; pass < 2; ++pass) {
        Sample b = 0, c = 0, d = 0;
        InverseCoreLine<W>(flat, b, c, d);
    }
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 4; ++column) {
            grid.at(row, column) = flat;
        }
    }
}

template <const LevelWeights& W>
void OverlapFilter(Grid4 grid) {
    AlongBothDirections<InverseEdgeLine<W>>(grid);
}

}  // namespace

void InverseCoreTransform(Grid4 grid, Level level) {
    level == Level::Second ? CoreTransform<kSecondLevelWeights>(grid)
                           : CoreTransform<kFirstLevelWeights>(grid);
}

void InverseOverlapFilter(Grid4 grid, Level level) {
    level == Level::Second ? OverlapFilter<kSecondLevelWeights>(grid)
                           : OverlapFilter<kFirstLevelWeights>(grid);
}

void InverseEdgeFilter(Sample& a, Sample& b, Sample& c, Sample& d, Level level) {
    level == Level::Second ? InverseEdgeLine<kSecondLevelWeights>(a, b, c, d)
                           : InverseEdgeLine<kFirstLevelWeights>(a, b, c, d);
}

void InversePairFilter(Sample& lower, Sample& upper) {
    const Unsigned sum = U(lower) + U(upper);
    const Sample kept = Scaled(U(kPairKept) * (U(lower) - U(upper)));
    lower = Half(sum + U(kept));
    upper = static_cast<Sample>(sum - U(lower));
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
                                            std::ptrdiff_t spacing, Level level) {
    if (level == Level::Second) {
        AlongRow(CoreTransform<kSecondLevelWeights>, first, count, spacing);
    } else {
        AlongRow(CoreTransform<kFirstLevelWeights>, first, count, spacing);
    }
}

[[gnu::flatten]] void InverseOverlapFilters(Grid4 first, std::uint32_t count,
                                            std::ptrdiff_t spacing, Level level) {
    if (level == Level::Second) {
        AlongRow(OverlapFilter<kSecondLevelWeights>, first, count, spacing);
    } else {
        AlongRow(OverlapFilter<kFirstLevelWeights>, first, count, spacing);
    }
}

[[gnu::flatten]] void InverseChromaBlocks(std::int32_t* first, std::int32_t* second,
                                          std::uint32_t count) {
    for (std::uint32_t block = 0; block < count; ++block) {
        InverseChromaBlock(first + 4 * block, second + 4 * block);
    }
}

[[gnu::flatten]] void InverseEdgeFilters(std::int32_t* edge, std::uint32_t count,
                                         std::ptrdiff_t spacing, std::ptrdiff_t step, Level level) {
    for (std::uint32_t done = 0; done < count; ++done, edge += spacing) {
        Sample a = edge[-2 * step];
        Sample b = edge[-step];
        Sample c = edge[0];
        Sample d = edge[step];
        InverseEdgeFilter(a, b, c, d, level);
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
