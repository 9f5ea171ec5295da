#include "conversion/ptc/ptc_transform.h"

#include <array>
#include <utility>

namespace vellumax::ptc {

namespace {

using Sample = std::int32_t;

// The lifting steps all shifts round toward minus infinity, as the encoder's do: every step
// must be undone bit for bit.

// A 4-point Hadamard-type butterfly.
void Hadamard(Sample& a, Sample& b, Sample& c, Sample& d) {
    const Sample s = a + b;
    const Sample u = c - d;
    const Sample t = (s - u) >> 1;
    const Sample newD = t - b;
    const Sample newB = newD + u;
    const Sample newC = t - d;
    a = s - newC;
    b = newB;
    c = newC;
    d = newD;
}

// The rotation that mixes an odd frequency of one direction with an even one of the other.
void Rotate(Sample& a, Sample& b, Sample& c, Sample& d) {
    const Sample t1 = a + ((b + 1) >> 1);
    const Sample t2 = d - ((c + 1) >> 1);
    const Sample d1 = b - ((5 * t1 + 2) >> 2);
    const Sample a1 = c + ((5 * t2 + 2) >> 2);
    c = t1 + ((d1 + 1) >> 1) + (a1 >> 1);
    b = t2 - ((a1 + 1) >> 1) - (d1 >> 1);
    a = a1 - c;
    d = d1 + b;
}

// The rotation of the odd-odd frequencies.
void RotateOdd(Sample& a, Sample& b, Sample& c, Sample& d) {
    const Sample t1 = a - d;
    const Sample t2 = c + b;
    b -= t2 >> 1;
    d += t1 >> 1;
    c = (t1 >> 1) - t2;
    a = c - t1;
    c -= a >> 1;
    b += c >> 1;
    c -= b;
    d -= a >> 1;
    a += d;
}

// Rotates and scales a pair across a block edge.
void ScalePair(Sample& x, Sample& y) {
    x -= (y + 1) >> 1;
    y -= (3 * x + 2) >> 2;
    x += (y + 1) >> 1;
    y >>= 1;
}

// Names the samples of a 4×4 grid in raster order, a to p.
struct Named {
    explicit Named(Grid4 grid)
        : a(grid.at(0, 0)),
          b(grid.at(0, 1)),
          c(grid.at(0, 2)),
          d(grid.at(0, 3)),
          e(grid.at(1, 0)),
          f(grid.at(1, 1)),
          g(grid.at(1, 2)),
          h(grid.at(1, 3)),
          i(grid.at(2, 0)),
          j(grid.at(2, 1)),
          k(grid.at(2, 2)),
          l(grid.at(2, 3)),
          m(grid.at(3, 0)),
          n(grid.at(3, 1)),
          o(grid.at(3, 2)),
          p(grid.at(3, 3)) {}
    Sample &a, &b, &c, &d, &e, &f, &g, &h, &i, &j, &k, &l, &m, &n, &o, &p;
};

}  // namespace

void InverseCoreTransform(Grid4 grid) {
    Named s(grid);
    std::swap(s.b, s.c);
    std::swap(s.e, s.i);
    std::swap(s.h, s.l);
    std::swap(s.f, s.k);
    std::swap(s.g, s.j);
    std::swap(s.n, s.o);
    Hadamard(s.a, s.b, s.e, s.f);
    Rotate(s.h, s.g, s.d, s.c);
    Rotate(s.n, s.j, s.m, s.i);
    RotateOdd(s.k, s.l, s.o, s.p);
    Hadamard(s.a, s.d, s.m, s.p);
    Hadamard(s.b, s.c, s.n, s.o);
    Hadamard(s.e, s.h, s.i, s.l);
    Hadamard(s.f, s.g, s.j, s.k);
}

void InverseOverlapFilter(Grid4 grid) {
    Named s(grid);
    Hadamard(s.a, s.m, s.d, s.p);
    Hadamard(s.b, s.n, s.c, s.o);
    Hadamard(s.e, s.i, s.h, s.l);
    Hadamard(s.f, s.j, s.g, s.k);
    ScalePair(s.m, s.i);
    ScalePair(s.n, s.j);
    ScalePair(s.o, s.k);
    ScalePair(s.p, s.l);
    ScalePair(s.d, s.c);
    ScalePair(s.h, s.g);
    ScalePair(s.l, s.k);
    ScalePair(s.p, s.o);
    Hadamard(s.a, s.d, s.m, s.p);
    Hadamard(s.b, s.c, s.n, s.o);
    Hadamard(s.e, s.h, s.i, s.l);
    Hadamard(s.f, s.g, s.j, s.k);
}

void InverseEdgeFilter(Sample& a, Sample& b, Sample& c, Sample& d) {
    d = a - d;
    a -= d >> 1;
    c = b - c;
    b -= c >> 1;
    ScalePair(d, c);
    b += c >> 1;
    c = b - c;
    a += d >> 1;
    d = a - d;
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
