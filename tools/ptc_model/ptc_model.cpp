// The colour codec run forward: how much of the coding grid an encoder of this format leaves in
// a picture that has none, at the step the documents are coded with.
//   ptc_model [--scale F] [--step S] [--rounding R] DOCUMENT...
//   ptc_model --reach [--step S] [--rounding R] DOCUMENT SOURCE [DOCUMENT SOURCE]...
//   ptc_model --check DOCUMENT...
//   ptc_model --agree DOCUMENT SOURCE [DOCUMENT SOURCE]...
//   ptc_model --fit DOCUMENT SOURCE [DOCUMENT SOURCE]...
//
// Each document's first page is decoded, resampled by F (0.77 unless given) so that its own grid
// no longer lines up with the coding grid, and coded again: colour transform, chroma averaged
// down 2 × 2, every stage the decoder undoes run forward (each is the exact inverse, in floating
// point, of the decoder's own integer stage), every coefficient quantised with step S (480 for
// luma, twice that for chroma) rounding at R (0.5: to the nearest), then decoded by the
// decoder's own stages. One line per document: the edge ratio (Y, Co, Cg) of the resampled
// picture, then of its decode, then the decode's PSNR against it.
//
// --reach takes each document with the picture it was coded from and sets the decoded page beside
// the source coded forward as it is (no resampling) and decoded again, both against the source:
// PSNR of RGB, of Y, Co and Cg, and of the page's 8-pixel borders. The second is what coding at
// this step keeps of the picture, the mark a decoder of the real stream can reach.
//
// --check decodes each document through the same whole-page stages and compares every byte with
// the page decoder's output, which shows that the model decodes as the program does.
//
// --agree takes each document with the picture it was coded from and sets the stream's own
// coefficients (dequantised, before any of the decoder's stages) against the source's, which the
// same forward stages make of it. Per document, channel and band (the DC, the second level's other
// fifteen, the first level's subgroups): the slope of the stream's coefficient regressed on the
// source's, their correlation, the share whose source coefficient rounds (step 480, chroma 960)
// to the stream's value, the share the stream codes as non-zero, and how far the source lies
// beyond the coded values (away from zero; the same for the rounded source beside it, which
// tells an encoder that rounds towards zero from a picture's own spread). Then each band's and
// each place's spread over the documents. Only coefficients whose samples, with what the overlap
// filters take in, lie inside the page are counted. A coefficient the decoder puts in the wrong
// place, with the wrong sign or scale, shows as a place whose slope or correlation falls away.
//
// --fit learns the transform from the same pairs, pooled. At each level, every luma block's
// fifteen coefficients are regressed on the 8 × 8 places around the block (samples at the first
// level, the block DCs the first level's analysis makes at the second): the stream's values give
// the encoder's filter per place, the source's exact coefficients the decoder's, and those
// rounded to the step what quantisation alone does to the estimate. Per place: the stream's
// and the rounded source's filter as a multiple g of the decoder's, and the relative residual
// no multiple explains. Then a separable lapped transform (a four-sample core and an overlap
// filter across each edge) fitted to the filters at the nine best-coded places, printed as the
// synthesis weights in 256ths the decoder holds: fitted to the decoder's own filters (which
// gives its weights back), to the stream's, to the rounded source's, and the measured weights,
// the stream's less what rounding moves the fit by. The first level wants the pictures the
// documents were coded from exactly (the drawn figures): behind a JPEG source, and with few
// first-level values coded, what rounding moves swamps the fit. The second level fits from either.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "common/colour_stream.h"
#include "conversion/ptc/ptc_decoder.h"
#include "conversion/ptc/ptc_entropy.h"
#include "conversion/ptc/ptc_layout.h"
#include "conversion/ptc/ptc_stream.h"
#include "conversion/ptc/ptc_transform.h"
#include "edge_ratio/edge_ratio_meter.h"
#include "ptc_truth/colour_truth.h"

namespace {

using namespace vellumax::ptc;
using vellumax::tools::Bytes;

constexpr std::uint32_t kMacroblockColumns = 16;
constexpr std::uint32_t kBlockColumns = 4;
// The encoder's luma sample is 8 × (level − 128) + 4: black codes as −1020.
constexpr double kLumaOffset = 4;

// A picture of 8-bit RGB, top row first.
struct Picture {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<double> rgb;  // 3 values a pixel

    double& at(std::uint32_t x, std::uint32_t y, int c) {
        return rgb[3 * (std::size_t{y} * width + x) + c];
    }
    double at(std::uint32_t x, std::uint32_t y, int c) const {
        return rgb[3 * (std::size_t{y} * width + x) + c];
    }
};

// One channel's whole plane. Rows top-down, as in the decoder; the coding grid counts from the
// bottom, where the last stripe ends.
template <typename Sample>
struct Plane {
    std::uint32_t width;
    std::uint32_t height;
    int blockRows;
    std::vector<Sample> samples;

    Plane(std::uint32_t w, std::uint32_t h, int rows)
        : width(w), height(h), blockRows(rows), samples(std::size_t{w} * h) {}
    Sample* Row(std::uint32_t row) { return samples.data() + std::size_t{row} * width; }
    bool Luma() const { return blockRows == kLumaLayout.blockRows; }
};

// The samples of a plane one of the decoder's stages works on together, as (row, column).
using Places = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

// One of the decoder's stages as a list of sample groups, each worked on by one integer
// function. Every group of a stage has the same size.
struct Stage {
    std::function<void(std::int32_t*)> inverse;  // on the group's samples, in place
    std::vector<Places> groups;
};

Places GridPlaces(std::uint32_t bottom, std::uint32_t left, std::uint32_t rowStep,
                  std::uint32_t columnStep) {
    Places places;
    for (std::uint32_t r = 0; r < 4; ++r) {
        for (std::uint32_t c = 0; c < 4; ++c) {
            places.push_back({bottom - r * rowStep, left + c * columnStep});
        }
    }
    return places;
}

using GridTransform = void (*)(Grid4, Level);

// The four-sample edge filter of a level, on a group of four samples.
Stage EdgeStage(Level level) {
    return {[level](std::int32_t* s) { InverseEdgeFilter(s[0], s[1], s[2], s[3], level); }, {}};
}

// The four-sample edge filter across every edge `spacing` apart along `row`, samples `step`
// apart.
void AddEdgesAlongRow(Stage& stage, std::uint32_t width, std::uint32_t row, std::uint32_t spacing,
                      std::uint32_t step) {
    for (std::uint32_t edge = spacing; edge < width; edge += spacing) {
        stage.groups.push_back(
            {{row, edge - 2 * step}, {row, edge - step}, {row, edge}, {row, edge + step}});
    }
}

void AddEdgeDownColumn(Stage& stage, std::uint32_t bottom, std::uint32_t column,
                       std::uint32_t rowStep) {
    stage.groups.push_back({{bottom, column},
                            {bottom - rowStep, column},
                            {bottom - 2 * rowStep, column},
                            {bottom - 3 * rowStep, column}});
}

// What the stages need to know of a plane.
struct Shape {
    std::uint32_t width;
    std::uint32_t height;
    std::uint32_t blockRows;

    std::uint32_t StripeRows() const { return 4 * blockRows; }
    std::uint32_t Stripes() const { return height / StripeRows(); }
    std::uint32_t BottomOf(std::uint32_t stripe) const { return (stripe + 1) * StripeRows() - 1; }
};

// The exchange of the two outermost samples along the page's left edge (the first two block
// DCs, `spacing` 4, or the first two sample columns, `spacing` 1) on every `rowStep`th row.
Stage LeftPairStage(std::uint32_t height, std::uint32_t rowStep, std::uint32_t spacing) {
    Stage stage{[](std::int32_t* s) { std::swap(s[0], s[1]); }, {}};
    for (std::uint32_t row = rowStep - 1; row < height; row += rowStep) {
        stage.groups.push_back({{row, 0}, {row, spacing}});
    }
    return stage;
}

// The same exchange along the bottom edge: the bottom row and the one `rowStep` above it, at
// every `columnStep`th sample.
Stage BottomPairStage(const Shape& plane, std::uint32_t rowStep, std::uint32_t columnStep) {
    Stage stage{[](std::int32_t* s) { std::swap(s[0], s[1]); }, {}};
    for (std::uint32_t column = 0; column < plane.width; column += columnStep) {
        stage.groups.push_back({{plane.height - 1, column}, {plane.height - 1 - rowStep, column}});
    }
    return stage;
}

Stage GridStage(GridTransform transform, Level level) {
    return {[transform, level](std::int32_t* s) {
                transform({{s, s + 4, s + 8, s + 12}, 1}, level);
            },
            {}};
}

// The second level: the core on each macroblock's block DCs, the outer block rows across
// macroblock edges, the overlap windows across the edges between stripes, and the outer block
// columns across those.
std::vector<Stage> SecondLevelStages(const Shape& plane) {
    const std::uint32_t width = plane.width;
    const std::uint32_t blockRows = plane.blockRows;
    const std::uint32_t last = plane.Stripes() - 1;
    Stage core = GridStage(InverseCoreTransform, Level::Second);
    Stage outerRows = EdgeStage(Level::Second);
    Stage overlap = GridStage(InverseOverlapFilter, Level::Second);
    Stage outerColumns = EdgeStage(Level::Second);
    for (std::uint32_t stripe = 0; stripe <= last; ++stripe) {
        for (std::uint32_t left = 0; left < width; left += kMacroblockColumns) {
            core.groups.push_back(GridPlaces(plane.BottomOf(stripe), left, blockRows, 4));
        }
        if (stripe == 0) {
            continue;
        }
        const std::uint32_t bottom = stripe * plane.StripeRows() + 2 * blockRows - 1;
        for (std::uint32_t left = kMacroblockColumns - 2 * kBlockColumns; left + 12 < width;
             left += kMacroblockColumns) {
            overlap.groups.push_back(GridPlaces(bottom, left, blockRows, 4));
        }
        for (const std::uint32_t column :
             {0U, kBlockColumns, width - 2 * kBlockColumns, width - kBlockColumns}) {
            AddEdgeDownColumn(outerColumns, bottom, column, blockRows);
        }
    }
    for (std::uint32_t outer = 0; outer < 2; ++outer) {
        AddEdgesAlongRow(outerRows, width, plane.BottomOf(0) - (2 + outer) * blockRows,
                         kMacroblockColumns, kBlockColumns);
        AddEdgesAlongRow(outerRows, width, plane.BottomOf(last) - outer * blockRows,
                         kMacroblockColumns, kBlockColumns);
    }
    return {core,
            LeftPairStage(plane.height, blockRows, kBlockColumns),
            BottomPairStage(plane, blockRows, kBlockColumns),
            outerRows,
            overlap,
            outerColumns};
}

// Luma's first level: the core on each 4 × 4 block, the overlap windows, and the two sample
// rows and columns along the page's borders across block edges.
std::vector<Stage> LumaFirstLevelStages(const Shape& plane) {
    const std::uint32_t width = plane.width;
    Stage core = GridStage(InverseCoreTransform, Level::First);
    Stage overlap = GridStage(InverseOverlapFilter, Level::First);
    Stage borders = EdgeStage(Level::First);
    for (std::uint32_t row = 0; row < plane.height; row += 4) {
        for (std::uint32_t left = 0; left < width; left += 4) {
            core.groups.push_back(GridPlaces(row + 3, left, 1, 1));
        }
    }
    for (std::uint32_t row = 2; row + 4 <= plane.height - 2; row += 4) {
        for (std::uint32_t left = 2; left + 3 < width - 2; left += 4) {
            overlap.groups.push_back(GridPlaces(row + 3, left, 1, 1));
        }
        for (const std::uint32_t column : {0U, 1U, width - 2, width - 1}) {
            AddEdgeDownColumn(borders, row + 3, column, 1);
        }
    }
    for (const std::uint32_t row : {0U, 1U, plane.height - 2, plane.height - 1}) {
        AddEdgesAlongRow(borders, width, row, 4, 1);
    }
    return {core, LeftPairStage(plane.height, 1, 1), BottomPairStage(plane, 1, 1), overlap,
            borders};
}

// Chroma's first level: each 4 × 2 block, then the edge filter along every row across block
// columns, then the pair filter across every edge between block rows.
std::vector<Stage> ChromaFirstLevelStages(const Shape& plane) {
    Stage blocks{[](std::int32_t* s) { InverseChromaBlock(s + 4, s); }, {}};
    Stage edges = EdgeStage(Level::First);
    Stage pairs{[](std::int32_t* s) { InversePairFilter(s[0], s[1]); }, {}};
    for (std::uint32_t row = 0; row < plane.height; row += 2) {
        for (std::uint32_t left = 0; left < plane.width; left += 4) {
            Places places;
            for (std::uint32_t r = 0; r < 2; ++r) {
                for (std::uint32_t c = 0; c < 4; ++c) {
                    places.push_back({row + r, left + c});
                }
            }
            blocks.groups.push_back(places);
        }
    }
    for (std::uint32_t row = 0; row < plane.height; ++row) {
        AddEdgesAlongRow(edges, plane.width, row, 4, 1);
    }
    for (std::uint32_t upper = 1; upper + 1 < plane.height; upper += 2) {
        for (std::uint32_t column = 0; column < plane.width; ++column) {
            pairs.groups.push_back({{upper + 1, column}, {upper, column}});
        }
    }
    return {blocks, LeftPairStage(plane.height, 1, 1), BottomPairStage(plane, 1, 1), edges, pairs};
}

template <typename Sample>
Shape ShapeOf(const Plane<Sample>& plane) {
    return {plane.width, plane.height, static_cast<std::uint32_t>(plane.blockRows)};
}

template <typename Sample>
std::vector<Stage> FirstLevelStages(const Plane<Sample>& plane) {
    return plane.Luma() ? LumaFirstLevelStages(ShapeOf(plane))
                        : ChromaFirstLevelStages(ShapeOf(plane));
}

// The decoder's stages for a plane, in the order it runs them. Within a stage no two groups
// share a sample, so the order of groups does not matter, and running each stage over the
// whole page comes to the same as the decoder's stripe by stripe.
template <typename Sample>
std::vector<Stage> Stages(const Plane<Sample>& plane) {
    std::vector<Stage> stages = SecondLevelStages(ShapeOf(plane));
    for (Stage& stage : FirstLevelStages(plane)) {
        stages.push_back(std::move(stage));
    }
    return stages;
}

void RunInverse(const Stage& stage, Plane<std::int32_t>& plane) {
    std::vector<std::int32_t> group;
    for (const Places& places : stage.groups) {
        group.clear();
        for (const auto& [row, column] : places) {
            group.push_back(plane.Row(row)[column]);
        }
        stage.inverse(group.data());
        for (std::size_t at = 0; at < places.size(); ++at) {
            plane.Row(places[at].first)[places[at].second] = group[at];
        }
    }
}

void Decode(Plane<std::int32_t>& plane) {
    for (const Stage& stage : Stages(plane)) {
        RunInverse(stage, plane);
    }
}

// The solution X of A X = B, A `size` × `size`, B `size` × any number of columns, both row by
// row: Gauss–Jordan with partial pivoting, enough for the small dense systems here.
std::vector<double> Solve(std::vector<double> a, std::vector<double> b, std::size_t size) {
    const std::size_t columns = b.size() / size;
    auto swapRows = [](std::vector<double>& m, std::size_t width, std::size_t x, std::size_t y) {
        std::swap_ranges(m.begin() + x * width, m.begin() + (x + 1) * width, m.begin() + y * width);
    };
    for (std::size_t pivot = 0; pivot < size; ++pivot) {
        std::size_t best = pivot;
        for (std::size_t row = pivot + 1; row < size; ++row) {
            if (std::abs(a[row * size + pivot]) > std::abs(a[best * size + pivot])) {
                best = row;
            }
        }
        if (best != pivot) {
            swapRows(a, size, pivot, best);
            swapRows(b, columns, pivot, best);
        }
        const double lead = a[pivot * size + pivot];
        for (std::size_t row = 0; row < size; ++row) {
            const double factor = a[row * size + pivot] / lead;
            if (row == pivot || factor == 0) {
                continue;
            }
            for (std::size_t column = pivot; column < size; ++column) {
                a[row * size + column] -= factor * a[pivot * size + column];
            }
            for (std::size_t column = 0; column < columns; ++column) {
                b[row * columns + column] -= factor * b[pivot * columns + column];
            }
        }
    }
    for (std::size_t row = 0; row < size; ++row) {
        for (std::size_t column = 0; column < columns; ++column) {
            b[row * columns + column] /= a[row * size + row];
        }
    }
    return b;
}

// The forward of an integer stage, as the inverse of its matrix. The stage is linear but for
// rounding, so its matrix comes from unit inputs scaled up far past the rounding.
std::vector<double> ForwardMatrix(const Stage& stage, std::size_t size) {
    constexpr double kScale = 1 << 20;
    std::vector<double> matrix(size * size);
    std::vector<double> identity(size * size, 0);
    for (std::size_t column = 0; column < size; ++column) {
        std::vector<std::int32_t> unit(size, 0);
        unit[column] = static_cast<std::int32_t>(kScale);
        stage.inverse(unit.data());
        for (std::size_t row = 0; row < size; ++row) {
            matrix[row * size + column] = unit[row] / kScale;
        }
        identity[column * size + column] = 1;
    }
    return Solve(std::move(matrix), std::move(identity), size);
}

void RunForward(const Stage& stage, Plane<double>& plane) {
    if (stage.groups.empty()) {
        return;
    }
    const std::size_t size = stage.groups.front().size();
    const std::vector<double> forward = ForwardMatrix(stage, size);
    std::vector<double> in(size);
    for (const Places& places : stage.groups) {
        for (std::size_t at = 0; at < size; ++at) {
            in[at] = plane.Row(places[at].first)[places[at].second];
        }
        for (std::size_t row = 0; row < size; ++row) {
            double sum = 0;
            for (std::size_t column = 0; column < size; ++column) {
                sum += forward[row * size + column] * in[column];
            }
            plane.Row(places[row].first)[places[row].second] = sum;
        }
    }
}

struct CodingChoice {
    double step = 480;      // luma; chroma twice this
    double rounding = 0.5;  // 0.5 rounds to the nearest; less widens the zero bin
};

void RunForwardLastFirst(const std::vector<Stage>& stages, Plane<double>& plane) {
    for (auto stage = stages.rbegin(); stage != stages.rend(); ++stage) {
        RunForward(*stage, plane);
    }
}

// The first level run forward alone: the plane's samples become the first level's coefficients
// and the block DCs the second level codes.
void AnalyseFirstLevel(Plane<double>& plane) {
    RunForwardLastFirst(FirstLevelStages(plane), plane);
}

void AnalyseSecondLevel(Plane<double>& plane) {
    RunForwardLastFirst(SecondLevelStages(ShapeOf(plane)), plane);
}

// Every stage the decoder runs, run forward in the opposite order: the plane's samples become
// the coefficients the decoder would need to rebuild them.
void Analyse(Plane<double>& plane) {
    AnalyseFirstLevel(plane);
    AnalyseSecondLevel(plane);
}

// Codes a plane forward, quantises it and decodes it with the decoder's stages.
Plane<std::int32_t> CodeAndDecode(Plane<double> plane, double step, double rounding) {
    Plane<std::int32_t> coded(plane.width, plane.height, plane.blockRows);
    Analyse(plane);
    for (std::size_t at = 0; at < plane.samples.size(); ++at) {
        const double level = std::floor(std::abs(plane.samples[at]) / step + rounding);
        coded.samples[at] =
            static_cast<std::int32_t>(std::copysign(level, plane.samples[at]) * step);
    }
    Decode(coded);
    return coded;
}

std::uint8_t ToByte(std::int32_t sample) {
    return static_cast<std::uint8_t>(std::clamp(sample >> 3, -128, 127) + 128);
}

// The decoder's chroma upsampling and colour transform, for a whole page of `width` × `height`
// pixels at the bottom left of the planes.
Picture ToPicture(std::array<Plane<std::int32_t>, 3>& planes, std::uint32_t width,
                  std::uint32_t height) {
    Picture picture{width, height, std::vector<double>(3 * std::size_t{width} * height)};
    Plane<std::int32_t>& luma = planes[0];
    const std::uint32_t chromaWidth = planes[1].width;
    const std::uint32_t chromaHeight = planes[1].height;
    for (std::uint32_t y = 0; y < height; ++y) {
        const std::uint32_t planeRow = y + luma.height - height;
        const std::uint32_t chromaRow = planeRow / 2;
        const std::uint32_t nearRow = planeRow % 2 ? std::min(chromaRow + 1, chromaHeight - 1)
                                                   : (chromaRow ? chromaRow - 1 : 0);
        std::array<std::vector<std::int32_t>, 2> mix;
        for (int c = 0; c < 2; ++c) {
            mix[c].resize(chromaWidth + 2);
            for (std::uint32_t column = 0; column < chromaWidth; ++column) {
                mix[c][column + 1] =
                    3 * planes[1 + c].Row(chromaRow)[column] + planes[1 + c].Row(nearRow)[column];
            }
            mix[c][0] = mix[c][1];
            mix[c][chromaWidth + 1] = mix[c][chromaWidth];
        }
        for (std::uint32_t x = 0; x < width; ++x) {
            std::array<std::int32_t, 2> chroma;
            for (int c = 0; c < 2; ++c) {
                const std::uint32_t own = x / 2 + 1;
                const std::uint32_t side = x % 2 ? own + 1 : own - 1;
                chroma[c] = (3 * mix[c][own] + mix[c][side] + 8) >> 4;
            }
            const std::int32_t yValue = luma.Row(planeRow)[x];
            const std::int32_t t = yValue - (chroma[1] >> 1);
            const std::int32_t green = t + chroma[1];
            const std::int32_t blue = t - (chroma[0] >> 1);
            const std::int32_t red = blue + chroma[0];
            picture.at(x, y, 0) = ToByte(red);
            picture.at(x, y, 1) = ToByte(green);
            picture.at(x, y, 2) = ToByte(blue);
        }
    }
    return picture;
}

// The first page as the program decodes it.
bool DecodePage(const Bytes& stream, Picture& picture) {
    std::string problem;
    const auto decoder = PageDecoder::Open(stream, problem, Damage::Conceal);
    if (!decoder) {
        return false;
    }
    picture = {decoder->frame().width, decoder->frame().height, {}};
    std::vector<std::uint8_t> row(3 * std::size_t{picture.width});
    for (std::uint32_t y = 0; y < picture.height; ++y) {
        if (!decoder->ReadRow(row)) {
            return false;
        }
        picture.rgb.insert(picture.rgb.end(), row.begin(), row.end());
    }
    return true;
}

std::array<Plane<std::int32_t>, 3> EmptyPlanes(std::uint32_t width, std::uint32_t height) {
    return {Plane<std::int32_t>(width, height, kLumaLayout.blockRows),
            Plane<std::int32_t>(width / 2, height / 2, kChromaLayout.blockRows),
            Plane<std::int32_t>(width / 2, height / 2, kChromaLayout.blockRows)};
}

// The stream's coefficients placed into whole planes, as the decoder places them stripe by
// stripe.
bool PlaceStream(const Stream& stream, std::array<Plane<std::int32_t>, 3>& planes) {
    const StreamFrame& frame = stream.frame();
    std::vector<std::int32_t> values(16 * 256);
    std::string problem;
    for (std::uint32_t stripe = 0; stripe < frame.tiles; ++stripe) {
        const auto chunks = stream.Tile(frame.tiles - 1 - stripe, problem);
        if (!chunks) {
            return false;
        }
        for (std::uint32_t chunk = 0; chunk < chunks->size(); ++chunk) {
            for (int channel = 0; channel < kChannels; ++channel) {
                Plane<std::int32_t>& plane = planes[channel];
                const std::uint32_t columns = frame.ChunkColumns(chunk) / (channel ? 2 : 1);
                const ChannelRecord& record = (*chunks)[chunk].channels[channel];
                std::span<std::int32_t> coded = std::span(values).first(record.coefficients);
                if (!DecodeRecord(record.payload, columns, columns / 16, coded)) {
                    return false;
                }
                std::vector<std::int32_t*> rows;
                const std::uint32_t stripeRows = 4 * plane.blockRows;
                for (std::uint32_t row = 0; row < stripeRows; ++row) {
                    rows.push_back(plane.Row((stripe + 1) * stripeRows - 1 - row));
                }
                PlaceCoefficients({plane.blockRows}, coded, columns, channel ? 960 : 480, rows,
                                  chunk * frame.chunkWidth / (channel ? 2 : 1));
            }
        }
    }
    return true;
}

bool Check(const std::string& path) {
    const Bytes bytes = vellumax::tools::ColourStream(path);
    std::string problem;
    const auto stream = Stream::Parse(bytes, problem);
    Picture page;
    if (!stream || !DecodePage(bytes, page)) {
        std::fprintf(stderr, "%s: does not decode\n", path.c_str());
        return false;
    }
    auto planes = EmptyPlanes(stream->frame().paddedWidth, stream->frame().paddedHeight);
    if (!PlaceStream(*stream, planes)) {
        std::fprintf(stderr, "%s: has damaged records\n", path.c_str());
        return false;
    }
    for (auto& plane : planes) {
        Decode(plane);
    }
    const Picture model = ToPicture(planes, page.width, page.height);
    const bool same = model.rgb == page.rgb;
    std::printf("%s: %s\n", path.c_str(), same ? "same bytes" : "DIFFERENT");
    return same;
}

// Bilinear resampling by `scale`; the picture's own grid no longer falls on the coding grid.
Picture Resample(const Picture& in, double scale) {
    Picture out{static_cast<std::uint32_t>(in.width * scale),
                static_cast<std::uint32_t>(in.height * scale),
                {}};
    out.rgb.resize(3 * std::size_t{out.width} * out.height);
    for (std::uint32_t y = 0; y < out.height; ++y) {
        const double v = std::clamp((y + 0.5) / scale - 0.5, 0.0, in.height - 1.0);
        const auto y0 = static_cast<std::uint32_t>(v);
        const std::uint32_t y1 = std::min(y0 + 1, in.height - 1);
        for (std::uint32_t x = 0; x < out.width; ++x) {
            const double u = std::clamp((x + 0.5) / scale - 0.5, 0.0, in.width - 1.0);
            const auto x0 = static_cast<std::uint32_t>(u);
            const std::uint32_t x1 = std::min(x0 + 1, in.width - 1);
            for (int c = 0; c < 3; ++c) {
                const double top =
                    in.at(x0, y0, c) + (u - x0) * (in.at(x1, y0, c) - in.at(x0, y0, c));
                const double low =
                    in.at(x0, y1, c) + (u - x0) * (in.at(x1, y1, c) - in.at(x0, y1, c));
                out.at(x, y, c) = top + (v - y0) * (low - top);
            }
        }
    }
    return out;
}

// The colour transform forward, with chroma averaged over each 2 × 2 square; the page sits at the
// bottom left of planes rounded up to 32, its last row and column repeated into the rest.
std::array<Plane<double>, 3> ToPlanes(const Picture& picture) {
    const std::uint32_t width = (picture.width + 31) / 32 * 32;
    const std::uint32_t height = (picture.height + 31) / 32 * 32;
    std::array<Plane<double>, 3> planes = {Plane<double>(width, height, 4),
                                           Plane<double>(width / 2, height / 2, 2),
                                           Plane<double>(width / 2, height / 2, 2)};
    for (std::uint32_t row = 0; row < height; ++row) {
        const std::uint32_t y = row < height - picture.height ? 0 : row - (height - picture.height);
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint32_t column = std::min(x, picture.width - 1);
            const double red = 8 * (picture.at(column, y, 0) - 128);
            const double green = 8 * (picture.at(column, y, 1) - 128);
            const double blue = 8 * (picture.at(column, y, 2) - 128);
            const double co = red - blue;
            const double t = blue + co / 2;
            const double cg = green - t;
            planes[0].Row(row)[x] = t + cg / 2 + kLumaOffset;
            planes[1].Row(row / 2)[x / 2] += co / 4;
            planes[2].Row(row / 2)[x / 2] += cg / 4;
        }
    }
    return planes;
}

std::array<double, 3> Figures(const Picture& picture) {
    EdgeRatioMeter meter(picture.width, picture.height);
    std::vector<std::uint8_t> row(3 * std::size_t{picture.width});
    for (std::uint32_t y = 0; y < picture.height; ++y) {
        for (std::size_t at = 0; at < row.size(); ++at) {
            const double value = picture.rgb[y * row.size() + at];
            row[at] = static_cast<std::uint8_t>(std::clamp(std::lround(value), 0L, 255L));
        }
        meter.AddRow(row);
    }
    return {meter.Figure(0), meter.Figure(1), meter.Figure(2)};
}

double Psnr(const Picture& a, const Picture& b) {
    double squares = 0;
    for (std::size_t at = 0; at < a.rgb.size(); ++at) {
        const double difference = std::round(a.rgb[at]) - b.rgb[at];
        squares += difference * difference;
    }
    return 10 * std::log10(255.0 * 255.0 * a.rgb.size() / squares);
}

Picture ToDoubles(const vellumax::tools::RgbPicture& picture) {
    return {picture.width, picture.height, {picture.rgb.begin(), picture.rgb.end()}};
}

Picture CodeAndDecode(const Picture& picture, const CodingChoice& choice) {
    std::array<Plane<double>, 3> planes = ToPlanes(picture);
    std::array<Plane<std::int32_t>, 3> decoded = {
        CodeAndDecode(planes[0], choice.step, choice.rounding),
        CodeAndDecode(planes[1], 2 * choice.step, choice.rounding),
        CodeAndDecode(planes[2], 2 * choice.step, choice.rounding)};
    return ToPicture(decoded, picture.width, picture.height);
}

bool Model(const std::string& path, double scale, const CodingChoice& choice) {
    Picture page;
    if (!DecodePage(vellumax::tools::ColourStream(path), page)) {
        std::fprintf(stderr, "%s: does not decode\n", path.c_str());
        return false;
    }
    const Picture source = Resample(page, scale);
    const Picture result = CodeAndDecode(source, choice);
    const auto before = Figures(source);
    const auto after = Figures(result);
    const std::size_t slash = path.find_last_of('/');
    std::printf("%s %.2f %.2f %.2f  %.2f %.2f %.2f  %.2f dB\n",
                path.substr(slash == std::string::npos ? 0 : slash + 1).c_str(), before[0],
                before[1], before[2], after[0], after[1], after[2], Psnr(source, result));
    return true;
}

// Columns [left, right) and rows [top, bottom) of a picture.
struct Window {
    std::uint32_t left, top, right, bottom;
};

// PSNR of `picture` against `truth` over `window`: of R, G and B together (channel -1), or of
// Y = (R + 2G + B) / 4, Co = R − B or Cg = G − (R + B) / 2 (channel 0, 1, 2).
double WindowPsnr(const Picture& picture, const Picture& truth, const Window& window, int channel) {
    const auto value = [channel](const Picture& of, std::uint32_t x, std::uint32_t y, int c) {
        const double red = of.at(x, y, 0), green = of.at(x, y, 1), blue = of.at(x, y, 2);
        const std::array<double, 3> ycocg = {(red + 2 * green + blue) / 4, red - blue,
                                             green - (red + blue) / 2};
        return channel < 0 ? of.at(x, y, c) : ycocg[channel];
    };
    double squares = 0, count = 0;
    for (std::uint32_t y = window.top; y < window.bottom; ++y) {
        for (std::uint32_t x = window.left; x < window.right; ++x) {
            for (int c = 0; c < (channel < 0 ? 3 : 1); ++c) {
                const double difference = value(picture, x, y, c) - value(truth, x, y, c);
                squares += difference * difference;
                count += 1;
            }
        }
    }
    return 10 * std::log10(255.0 * 255.0 * count / squares);
}

void PrintReach(const char* label, const Picture& picture, const Picture& truth) {
    const std::uint32_t width = truth.width, height = truth.height;
    constexpr std::uint32_t kBorder = 8;
    const Window page{0, 0, width, height};
    std::printf("  %-22s %6.2f  %6.2f %6.2f %6.2f ", label, WindowPsnr(picture, truth, page, -1),
                WindowPsnr(picture, truth, page, 0), WindowPsnr(picture, truth, page, 1),
                WindowPsnr(picture, truth, page, 2));
    for (const Window& border :
         {Window{0, 0, kBorder, height}, Window{width - kBorder, 0, width, height},
          Window{0, 0, width, kBorder}, Window{0, height - kBorder, width, height}}) {
        std::printf(" %6.2f", WindowPsnr(picture, truth, border, -1));
    }
    std::printf("\n");
}

// A document's page and its source coded forward at `choice`, each against the source: what
// the decoder makes of the real stream beside what coding at this step keeps of the picture.
bool Reach(const std::string& document, const std::string& sourcePath, const CodingChoice& choice) {
    std::string problem;
    const auto source = vellumax::tools::ReadPicture(sourcePath, problem);
    Picture page;
    if (!source || !DecodePage(vellumax::tools::ColourStream(document), page) ||
        page.width != source->width || page.height != source->height) {
        std::fprintf(stderr, "%s: does not decode to a page the size of %s %s\n", document.c_str(),
                     sourcePath.c_str(), problem.c_str());
        return false;
    }
    const Picture truth = ToDoubles(*source);
    const std::size_t slash = document.find_last_of('/');
    std::printf("%s\n", document.substr(slash == std::string::npos ? 0 : slash + 1).c_str());
    PrintReach("decoded", page, truth);
    PrintReach("source coded forward", CodeAndDecode(truth, choice), truth);
    return true;
}

// The regression of the stream's coefficients on the source's at some places of the grid, and how
// often the two quantise to the same value. Beside it, the same regression of the source's own
// coefficients rounded to the nearest step: what a stream that means what the decoder reads,
// quantised plainly, would reach, so that what quantisation alone takes away is not read as
// disagreement.
struct Agreement {
    double count = 0;
    double source = 0;
    double stream = 0;
    double sourceSquares = 0;
    double streamSquares = 0;
    double products = 0;
    double same = 0;
    double coded = 0;
    double nearest = 0;
    double nearestSquares = 0;
    double nearestProducts = 0;
    double nearestCoded = 0;
    double beyond = 0;
    double nearestBeyond = 0;

    void Add(double fromSource, double fromStream, double step) {
        count += 1;
        source += fromSource;
        stream += fromStream;
        sourceSquares += fromSource * fromSource;
        streamSquares += fromStream * fromStream;
        products += fromSource * fromStream;
        same += std::round(fromSource / step) == fromStream / step;
        coded += fromStream != 0;
        if (fromStream != 0) {
            beyond += fromStream > 0 ? fromSource - fromStream : fromStream - fromSource;
        }
        const double rounded = std::round(fromSource / step) * step;
        nearest += rounded;
        nearestSquares += rounded * rounded;
        nearestProducts += fromSource * rounded;
        nearestCoded += rounded != 0;
        if (rounded != 0) {
            nearestBeyond += rounded > 0 ? fromSource - rounded : rounded - fromSource;
        }
    }
    void Merge(const Agreement& other) {
        count += other.count;
        source += other.source;
        stream += other.stream;
        sourceSquares += other.sourceSquares;
        streamSquares += other.streamSquares;
        products += other.products;
        same += other.same;
        coded += other.coded;
        nearest += other.nearest;
        nearestSquares += other.nearestSquares;
        nearestProducts += other.nearestProducts;
        nearestCoded += other.nearestCoded;
        beyond += other.beyond;
        nearestBeyond += other.nearestBeyond;
    }
    double SourceVariance() const { return sourceSquares - source * source / count; }
    double StreamVariance() const { return streamSquares - stream * stream / count; }
    double Covariance() const { return products - source * stream / count; }
    double Slope() const { return Covariance() / SourceVariance(); }
    double Correlation() const {
        return Covariance() / std::sqrt(SourceVariance() * StreamVariance());
    }
    double NearestCovariance() const { return nearestProducts - source * nearest / count; }
    double NearestSlope() const { return NearestCovariance() / SourceVariance(); }
    double NearestCorrelation() const {
        const double variance = nearestSquares - nearest * nearest / count;
        return NearestCovariance() / std::sqrt(SourceVariance() * variance);
    }
    // The stream's mean less the source's, in steps.
    double Offset(double step) const { return (stream - source) / count / step; }
    // How far the source lies beyond the coded values, away from zero, in steps: 0 for a
    // quantiser that rounds to the nearest, more for one that rounds toward zero.
    double Beyond(double step) const { return coded ? beyond / coded / step : 0; }
    double NearestBeyond(double step) const {
        return nearestCoded ? nearestBeyond / nearestCoded / step : 0;
    }
};

// One channel's agreement by place, rows counted from the bottom: the second level by block of
// the macroblock (its DC at (0, 0)), the first level by sample of the block (chroma's 4 × 2 blocks
// use the first two rows).
struct ChannelAgreement {
    std::array<Agreement, 16> second;
    std::array<Agreement, 16> first;
};
using SampleAgreement = std::array<ChannelAgreement, 3>;

// The first level's subgroups by place in the block, as the stream codes them (0: the block DC).
constexpr std::array<int, 16> kSubgroupOf = {0, 1, 2, 3, 1, 1, 2, 3, 2, 2, 3, 4, 3, 3, 4, 4};

// Whether the samples a coefficient is made from lie inside the page: its block or macroblock of
// `size` samples from `start`, counted from the page's bottom or left, and the `reach` beyond it
// that the overlap filters take in. Only the far side matters: the padding past the page's top and
// right is the encoder's and unknown, while the bottom and left edges are the planes' own.
bool WithinPage(std::uint32_t start, std::uint32_t size, std::uint32_t reach,
                std::uint32_t extent) {
    return start - start % size + size + reach <= extent;
}

void Collect(const Plane<double>& source, Plane<std::int32_t>& stream, std::uint32_t pageRows,
             std::uint32_t pageColumns, double step, ChannelAgreement& agreement) {
    const auto blockRows = static_cast<std::uint32_t>(source.blockRows);
    for (std::uint32_t up = 0; up < pageRows; ++up) {
        const std::uint32_t row = source.height - 1 - up;
        for (std::uint32_t column = 0; column < pageColumns; ++column) {
            const std::uint32_t place = up % blockRows * 4 + column % 4;
            const bool secondLevel = place == 0;
            const bool inside = secondLevel
                                    ? WithinPage(up, 4 * blockRows, 2 * blockRows + 2, pageRows) &&
                                          WithinPage(column, kMacroblockColumns, 10, pageColumns)
                                    : WithinPage(up, blockRows, 2, pageRows) &&
                                          WithinPage(column, kBlockColumns, 2, pageColumns);
            if (!inside) {
                continue;
            }
            Agreement& at = secondLevel ? agreement.second[up / blockRows % 4 * 4 + column / 4 % 4]
                                        : agreement.first[place];
            at.Add(source.samples[std::size_t{row} * source.width + column],
                   stream.Row(row)[column], step);
        }
    }
}

// A document's own coefficients, placed as the decoder places them, beside the planes the
// picture it was coded from makes before any stage runs forward.
struct CodedSource {
    StreamFrame frame;
    std::array<Plane<std::int32_t>, 3> coded;
    std::array<Plane<double>, 3> source;
};

std::optional<CodedSource> ReadCodedSource(const std::string& document,
                                           const std::string& sourcePath) {
    std::string problem;
    const auto source = vellumax::tools::ReadPicture(sourcePath, problem);
    const Bytes bytes = vellumax::tools::ColourStream(document);
    const auto stream = Stream::Parse(bytes, problem);
    if (!source || !stream) {
        std::fprintf(stderr, "%s: %s\n", document.c_str(), problem.c_str());
        return std::nullopt;
    }
    const StreamFrame& frame = stream->frame();
    if (frame.width != source->width || frame.height != source->height) {
        std::fprintf(stderr, "%s: not the size of %s\n", document.c_str(), sourcePath.c_str());
        return std::nullopt;
    }
    CodedSource pair{frame, EmptyPlanes(frame.paddedWidth, frame.paddedHeight),
                     ToPlanes(ToDoubles(*source))};
    if (!PlaceStream(*stream, pair.coded)) {
        std::fprintf(stderr, "%s: has damaged records\n", document.c_str());
        return std::nullopt;
    }
    return pair;
}

std::optional<SampleAgreement> Agree(const std::string& document, const std::string& sourcePath) {
    auto pair = ReadCodedSource(document, sourcePath);
    if (!pair) {
        return std::nullopt;
    }
    SampleAgreement agreement;
    for (int channel = 0; channel < kChannels; ++channel) {
        Analyse(pair->source[channel]);
        const std::uint32_t shrink = channel ? 2 : 1;
        Collect(pair->source[channel], pair->coded[channel], pair->frame.height / shrink,
                pair->frame.width / shrink, channel ? 960 : 480, agreement[channel]);
    }
    return agreement;
}

constexpr std::array<const char*, 3> kChannelNames = {"Y", "Co", "Cg"};

// A channel's places pooled into bands: the DC, the second level's other fifteen, then the first
// level's subgroups (luma four, chroma three).
std::vector<std::pair<std::string, Agreement>> Bands(const ChannelAgreement& agreement, bool luma) {
    std::vector<std::pair<std::string, Agreement>> bands = {{"DC", agreement.second[0]},
                                                            {"L2 AC", {}}};
    for (std::size_t place = 1; place < 16; ++place) {
        bands[1].second.Merge(agreement.second[place]);
    }
    const int subgroups = luma ? 4 : 3;
    for (int subgroup = 1; subgroup <= subgroups; ++subgroup) {
        bands.push_back({"L1 s" + std::to_string(subgroup), {}});
    }
    for (std::size_t place = 1; place < (luma ? 16U : 8U); ++place) {
        bands[1 + kSubgroupOf[place]].second.Merge(agreement.first[place]);
    }
    return bands;
}

struct Span {
    double low = std::numeric_limits<double>::infinity();
    double high = -std::numeric_limits<double>::infinity();
    void Add(double value) {
        if (std::isfinite(value)) {
            low = std::min(low, value);
            high = std::max(high, value);
        }
    }
};

// A figure's spread over the samples, with the sample whose correlation falls furthest short
// of the rounded source's.
struct Spread {
    Span slope;
    Span nearestSlope;
    Span correlation;
    Span nearestCorrelation;
    Span same;
    Span coded;
    Span nearestCoded;
    Span offset;
    Span beyond;
    Span nearestBeyond;
    double worstShortfall = -std::numeric_limits<double>::infinity();
    std::string worst;

    void Add(const Agreement& agreement, double step, const std::string& sample) {
        const double shortfall = agreement.NearestCorrelation() - agreement.Correlation();
        if (std::isfinite(shortfall) && shortfall > worstShortfall) {
            worstShortfall = shortfall;
            worst = sample;
        }
        slope.Add(agreement.Slope());
        nearestSlope.Add(agreement.NearestSlope());
        correlation.Add(agreement.Correlation());
        nearestCorrelation.Add(agreement.NearestCorrelation());
        same.Add(100 * agreement.same / agreement.count);
        coded.Add(100 * agreement.coded / agreement.count);
        nearestCoded.Add(100 * agreement.nearestCoded / agreement.count);
        offset.Add(agreement.Offset(step));
        beyond.Add(agreement.Beyond(step));
        nearestBeyond.Add(agreement.NearestBeyond(step));
    }
};

void PrintAgreement(const std::string& label, const Agreement& agreement, double step) {
    std::printf(
        "  %-12s %6.3f %6.3f  %6.3f %6.3f  %5.1f  %5.1f %5.1f  %+6.3f  %+6.3f %+6.3f %9.0f\n",
        label.c_str(), agreement.Slope(), agreement.NearestSlope(), agreement.Correlation(),
        agreement.NearestCorrelation(), 100 * agreement.same / agreement.count,
        100 * agreement.coded / agreement.count, 100 * agreement.nearestCoded / agreement.count,
        agreement.Offset(step), agreement.Beyond(step), agreement.NearestBeyond(step),
        agreement.count);
}

void PrintSpan(const Span& span, const char* format) {
    std::printf(format, span.low, span.high);
}

void PrintSpread(const std::string& label, const Spread& spread) {
    std::printf("  %-12s", label.c_str());
    PrintSpan(spread.slope, " %5.2f-%-5.2f");
    PrintSpan(spread.nearestSlope, " %4.2f-%-4.2f");
    PrintSpan(spread.correlation, "  %5.2f-%-5.2f");
    PrintSpan(spread.nearestCorrelation, " %4.2f-%-4.2f");
    PrintSpan(spread.same, "  %5.1f-%-5.1f");
    PrintSpan(spread.coded, "  %4.1f-%-4.1f");
    PrintSpan(spread.nearestCoded, " %4.1f-%-4.1f");
    PrintSpan(spread.offset, "  %+6.3f %+6.3f");
    PrintSpan(spread.beyond, "  %+6.3f %+6.3f");
    PrintSpan(spread.nearestBeyond, " %+6.3f %+6.3f");
    std::printf("  %s\n", spread.worst.c_str());
}

std::string PlaceName(const char* level, std::size_t place) {
    return std::string(level) + " (" + std::to_string(place / 4) + "," + std::to_string(place % 4) +
           ")";
}

// Every pair's agreement by band, then each band's and place's spread over the pairs.
bool AgreeAll(const std::vector<std::string>& pairs) {
    std::array<std::vector<Spread>, 3> bandSpreads;
    std::array<std::array<Spread, 32>, 3> placeSpreads;
    bool allDone = true;
    std::printf(
        "per sample: band  slope (source rounded: slope)  correlation (rounded)  same %%"
        "  coded %% (rounded)  offset in steps  source beyond the coded values, in steps"
        " (rounded)  coefficients\n");
    for (std::size_t at = 0; at + 1 < pairs.size(); at += 2) {
        const auto agreement = Agree(pairs[at], pairs[at + 1]);
        if (!agreement) {
            allDone = false;
            continue;
        }
        const std::size_t slash = pairs[at].find_last_of('/');
        const std::string name = pairs[at].substr(slash == std::string::npos ? 0 : slash + 1);
        const std::string sample = name.substr(0, name.find_first_of("-."));
        std::printf("%s\n", sample.c_str());
        for (int channel = 0; channel < kChannels; ++channel) {
            const double step = channel ? 960 : 480;
            const auto bands = Bands((*agreement)[channel], channel == 0);
            bandSpreads[channel].resize(bands.size());
            for (std::size_t band = 0; band < bands.size(); ++band) {
                PrintAgreement(std::string(kChannelNames[channel]) + " " + bands[band].first,
                               bands[band].second, step);
                bandSpreads[channel][band].Add(bands[band].second, step, sample);
            }
            for (std::size_t place = 0; place < 16; ++place) {
                placeSpreads[channel][place].Add((*agreement)[channel].second[place], step, sample);
                placeSpreads[channel][16 + place].Add((*agreement)[channel].first[place], step,
                                                      sample);
            }
        }
    }
    std::printf(
        "\nover the samples, low-high: band or place (row from the bottom, column)  slope"
        " (rounded)  correlation (rounded)  same %%  coded %% (rounded)  offset in steps"
        "  source beyond the coded values (rounded)  the sample furthest below the rounded "
        "correlation\n");
    for (int channel = 0; channel < kChannels; ++channel) {
        const auto names = Bands({}, channel == 0);
        for (std::size_t band = 0; band < bandSpreads[channel].size(); ++band) {
            PrintSpread(std::string(kChannelNames[channel]) + " " + names[band].first,
                        bandSpreads[channel][band]);
        }
        for (std::size_t place = 0; place < 32; ++place) {
            const bool first = place >= 16;
            if (place == 16 || (channel > 0 && place >= 24)) {
                continue;
            }
            PrintSpread(std::string(kChannelNames[channel]) + " " +
                            PlaceName(first ? "L1" : "L2", place % 16),
                        placeSpreads[channel][place]);
        }
    }
    return allDone && pairs.size() % 2 == 0;
}

// The transform learned from the coefficients: at each level, every coefficient place of a block
// regressed on the 8 × 8 places around the block (samples at the first level, block DCs at the
// second) gives the filter that made it. The stream's filters are the encoder's; the source's
// exact coefficients give the decoder's, and those rounded to the step show what quantisation
// alone does to such an estimate.
struct FitLevel {
    const char* name;
    std::uint32_t spacing;      // between places: 1 at the first level, 4 between block DCs
    std::uint32_t reachBeyond;  // what the window's last place takes in past itself
};
constexpr std::array<FitLevel, 2> kFitLevels = {{{"first level", 1, 0}, {"second level", 4, 2}}};

constexpr std::uint32_t kWindow = 8;
constexpr std::uint32_t kWindowBefore = 2;  // places before the block's first
constexpr std::size_t kWindowPlaces = kWindow * kWindow;
constexpr std::size_t kTerms = kWindowPlaces + 1;  // and a constant

enum Target { kStream, kExact, kRounded, kTargets };
constexpr std::size_t kFitColumns = kTargets * 16;

// Weights on the window, row by row from its bottom left.
using Filter = std::array<double, kWindowPlaces>;
using PlaceFilters = std::array<Filter, 16>;

// The normal equations of every regression at one level, summed over the blocks; a column of
// the right-hand side per target and place (target × 16 + place).
struct NormalEquations {
    std::vector<double> gram = std::vector<double>(kTerms * kTerms, 0);  // lower half
    std::vector<double> moments = std::vector<double>(kTerms * kFitColumns, 0);
    std::size_t blocks = 0;

    void Add(const std::array<double, kTerms>& window,
             const std::array<double, kFitColumns>& values) {
        ++blocks;
        for (std::size_t i = 0; i < kTerms; ++i) {
            for (std::size_t j = 0; j <= i; ++j) {
                gram[i * kTerms + j] += window[i] * window[j];
            }
            for (std::size_t column = 0; column < kFitColumns; ++column) {
                moments[i * kFitColumns + column] += window[i] * values[column];
            }
        }
    }

    std::array<PlaceFilters, kTargets> Filters() const {
        std::vector<double> full = gram;
        for (std::size_t i = 0; i < kTerms; ++i) {
            for (std::size_t j = i + 1; j < kTerms; ++j) {
                full[i * kTerms + j] = full[j * kTerms + i];
            }
        }
        const std::vector<double> solution = Solve(std::move(full), moments, kTerms);
        std::array<PlaceFilters, kTargets> filters;
        for (std::size_t column = 0; column < kFitColumns; ++column) {
            for (std::size_t term = 0; term < kWindowPlaces; ++term) {
                filters[column / 16][column % 16][term] = solution[term * kFitColumns + column];
            }
        }
        return filters;
    }
};

template <typename Sample>
double FromBottom(const Plane<Sample>& plane, std::uint32_t up, std::uint32_t column) {
    return plane.samples[std::size_t{plane.height - 1 - up} * plane.width + column];
}

// Every luma block of a level whose window, and all its coefficients take in, lies inside the
// page, one block in from its bottom and left edges (where the encoder orders samples its own
// way).
void AddBlocks(const FitLevel& level, const Plane<double>& places, const Plane<double>& exact,
               const Plane<std::int32_t>& coded, const StreamFrame& frame,
               NormalEquations& equations) {
    const std::uint32_t spacing = level.spacing;
    const std::uint32_t period = 4 * spacing;
    const std::uint32_t extent = (kWindow - kWindowBefore) * spacing + level.reachBeyond;
    std::array<double, kTerms> window;
    std::array<double, kFitColumns> values;
    window.back() = 1;
    for (std::uint32_t up = period; up + extent <= frame.height; up += period) {
        for (std::uint32_t left = period; left + extent <= frame.width; left += period) {
            for (std::uint32_t at = 0; at < kWindowPlaces; ++at) {
                window[at] = FromBottom(places, up + (at / kWindow - kWindowBefore) * spacing,
                                        left + (at % kWindow - kWindowBefore) * spacing);
            }
            for (std::uint32_t place = 0; place < 16; ++place) {
                const std::uint32_t row = up + place / 4 * spacing;
                const std::uint32_t column = left + place % 4 * spacing;
                const double source = FromBottom(exact, row, column);
                values[kStream * 16 + place] = FromBottom(coded, row, column);
                values[kExact * 16 + place] = source;
                values[kRounded * 16 + place] = std::round(source / 480) * 480;
            }
            equations.Add(window, values);
        }
    }
}

// A filter as a multiple g of the decoder's, and what no multiple explains, relative to g times
// the decoder's.
struct Projection {
    double gain;
    double residual;
};

Projection Project(const Filter& filter, const Filter& decoders) {
    double along = 0;
    double norm = 0;
    for (std::size_t at = 0; at < kWindowPlaces; ++at) {
        along += filter[at] * decoders[at];
        norm += decoders[at] * decoders[at];
    }
    const double gain = along / norm;
    double rest = 0;
    for (std::size_t at = 0; at < kWindowPlaces; ++at) {
        rest += std::pow(filter[at] - gain * decoders[at], 2);
    }
    return {gain, std::sqrt(rest / (gain * gain * norm))};
}

// A separable lapped transform along one direction, as its analysis. The overlap filter across
// a block edge keeps the sums of the pairs mirrored about it and mixes their differences (outer
// pair, inner pair); the core takes the DC (its gain fixed at 1) and the second frequency from
// the block's even part, the first and third from its odd part.
enum LappedWeight {
    // The overlap filter's new differences from the old.
    kOuterFromOuter,
    kOuterFromInner,
    kInnerFromOuter,
    kInnerFromInner,
    // The core's odd frequencies from the block's differences.
    kFirstFromOuter,
    kFirstFromInner,
    kThirdFromOuter,
    kThirdFromInner,
    kSecondGain,
    kLappedWeights
};
using Lapped = std::array<double, kLappedWeights>;
constexpr Lapped kLappedStart = {1, 0, 0, 1, 0.92, 0.38, 0.38, -0.92, 1};

// Each coefficient's weights on the samples 2 before the block to 2 after it.
using Analysis = std::array<std::array<double, kWindow>, 4>;

// One output of the overlap filter on (a, b, c, d) as weights on them.
std::array<double, 4> OverlapOutput(const Lapped& w, int output) {
    const int pair = std::min(output, 3 - output);  // 0: the outer pair, 1: the inner
    const double half = output < 2 ? 0.5 : -0.5;
    std::array<double, 4> weights{};
    weights[output] += 0.5;
    weights[3 - output] += 0.5;
    for (int difference = 0; difference < 2; ++difference) {
        const double mixed = half * w[kOuterFromOuter + 2 * pair + difference];
        weights[difference] += mixed;
        weights[3 - difference] -= mixed;
    }
    return weights;
}

Analysis AnalysisOf(const Lapped& w) {
    // The block's lower two samples are the upper outputs of the filter across the edge before
    // it, its upper two the lower outputs of the one after.
    std::array<std::array<double, kWindow>, 4> samples{};
    for (int sample = 0; sample < 4; ++sample) {
        const auto weights = OverlapOutput(w, (sample + 2) % 4);
        std::copy(weights.begin(), weights.end(), samples[sample].begin() + (sample < 2 ? 0 : 4));
    }
    const double r = 1 / std::sqrt(2.0);
    const double s = w[kSecondGain] / 2;
    const std::array<std::array<double, 4>, 4> core = {{
        {0.5, 0.5, 0.5, 0.5},
        {w[kFirstFromOuter] * r, w[kFirstFromInner] * r, -w[kFirstFromInner] * r,
         -w[kFirstFromOuter] * r},
        {s, -s, -s, s},
        {w[kThirdFromOuter] * r, w[kThirdFromInner] * r, -w[kThirdFromInner] * r,
         -w[kThirdFromOuter] * r},
    }};
    Analysis analysis{};
    for (int coefficient = 0; coefficient < 4; ++coefficient) {
        for (int sample = 0; sample < 4; ++sample) {
            for (std::uint32_t at = 0; at < kWindow; ++at) {
                analysis[coefficient][at] += core[coefficient][sample] * samples[sample][at];
            }
        }
    }
    return analysis;
}

// The places coded often enough on the drawn figures to fit to: the first three frequencies
// across and down, and their products up to (1,2) and (2,1).
constexpr std::array<std::size_t, 9> kFittedPlaces = {1, 2, 3, 4, 5, 6, 8, 9, 12};

// What the separable transform leaves of the filters at the fitted places.
std::vector<double> LappedResiduals(const Lapped& w, const PlaceFilters& filters) {
    const Analysis analysis = AnalysisOf(w);
    std::vector<double> residuals;
    for (const std::size_t place : kFittedPlaces) {
        for (std::size_t at = 0; at < kWindowPlaces; ++at) {
            residuals.push_back(filters[place][at] - analysis[place / 4][at / kWindow] *
                                                         analysis[place % 4][at % kWindow]);
        }
    }
    return residuals;
}

double Norm(const std::vector<double>& values) {
    double squares = 0;
    for (const double value : values) {
        squares += value * value;
    }
    return std::sqrt(squares);
}

// Gauss–Newton with a Jacobian by differences: nine weights, a few hundred residuals.
Lapped FitLapped(const PlaceFilters& filters) {
    constexpr double kNudge = 1e-6;
    Lapped w = kLappedStart;
    for (int iteration = 0; iteration < 80; ++iteration) {
        const std::vector<double> residuals = LappedResiduals(w, filters);
        std::vector<std::vector<double>> jacobian;
        for (std::size_t weight = 0; weight < kLappedWeights; ++weight) {
            Lapped nudged = w;
            nudged[weight] += kNudge;
            jacobian.push_back(LappedResiduals(nudged, filters));
            for (std::size_t at = 0; at < residuals.size(); ++at) {
                jacobian.back()[at] = (jacobian.back()[at] - residuals[at]) / kNudge;
            }
        }
        std::vector<double> normal(kLappedWeights * kLappedWeights, 0);
        std::vector<double> downhill(kLappedWeights, 0);
        for (std::size_t i = 0; i < kLappedWeights; ++i) {
            for (std::size_t j = 0; j < kLappedWeights; ++j) {
                for (std::size_t at = 0; at < residuals.size(); ++at) {
                    normal[i * kLappedWeights + j] += jacobian[i][at] * jacobian[j][at];
                }
            }
            for (std::size_t at = 0; at < residuals.size(); ++at) {
                downhill[i] -= jacobian[i][at] * residuals[at];
            }
        }
        const std::vector<double> step = Solve(normal, downhill, kLappedWeights);
        for (std::size_t weight = 0; weight < kLappedWeights; ++weight) {
            w[weight] += step[weight];
        }
        if (Norm(step) < 1e-11) {
            break;
        }
    }
    return w;
}

double RelativeResidual(const Lapped& w, const PlaceFilters& filters) {
    std::vector<double> fitted;
    for (const std::size_t place : kFittedPlaces) {
        fitted.insert(fitted.end(), filters[place].begin(), filters[place].end());
    }
    return Norm(LappedResiduals(w, filters)) / Norm(fitted);
}

// The synthesis the decoder holds for an analysis, in 256ths and in ptc_transform.cpp's order:
// DC, second frequency, first on the outer and inner sample of a half, third likewise, then the
// overlap filter's outer from outer, from inner, inner from outer, from inner. Both 2 × 2 parts
// are inverted; the odd part's inverse gives differences over √2, of which a sample holds half.
std::array<double, 10> SynthesisWeights(const Lapped& w) {
    auto inverse = [&w](LappedWeight first) {
        const double a = w[first], b = w[first + 1], c = w[first + 2], d = w[first + 3];
        const double determinant = a * d - b * c;
        return std::array<double, 4>{d / determinant, -b / determinant, -c / determinant,
                                     a / determinant};
    };
    const auto overlap = inverse(kOuterFromOuter);
    const auto odd = inverse(kFirstFromOuter);
    std::array<double, 10> weights = {128, 128 / w[kSecondGain]};
    const std::array<double, 4> core = {odd[0], odd[2], odd[1], -odd[3]};
    for (std::size_t at = 0; at < 4; ++at) {
        weights[2 + at] = core[at] * 256 / std::sqrt(2.0);
        weights[6 + at] = overlap[at] * 256;
    }
    return weights;
}

void PrintWeights(const char* label, const Lapped& w, const PlaceFilters& filters) {
    std::printf("  %-32s %5.3f ", label, RelativeResidual(w, filters));
    for (const double weight : SynthesisWeights(w)) {
        std::printf(" %6.1f", weight);
    }
    std::printf("\n");
}

void ReportLevel(const FitLevel& level, const NormalEquations& equations) {
    const auto filters = equations.Filters();
    std::printf("%s, %zu blocks: place  stream g, residual  rounded source g, residual\n",
                level.name, equations.blocks);
    for (std::size_t place = 1; place < 16; ++place) {
        const Projection stream = Project(filters[kStream][place], filters[kExact][place]);
        const Projection rounded = Project(filters[kRounded][place], filters[kExact][place]);
        std::printf("  (%zu,%zu)  %6.3f %6.3f   %6.3f %6.3f\n", place / 4, place % 4, stream.gain,
                    stream.residual, rounded.gain, rounded.residual);
    }
    std::array<Lapped, kTargets> fitted;
    for (int target = 0; target < kTargets; ++target) {
        fitted[target] = FitLapped(filters[target]);
    }
    // What rounding does to the fit, taken off the stream's: the rounded source's fit less the
    // exact's, at the decoder's own weights.
    Lapped measured;
    for (std::size_t weight = 0; weight < kLappedWeights; ++weight) {
        measured[weight] =
            fitted[kStream][weight] - fitted[kRounded][weight] + fitted[kExact][weight];
    }
    std::printf(
        "  separable fit, in 256ths        residual  DC    2nd  1st outer inner  3rd outer inner"
        "  overlap oo oi io ii\n");
    PrintWeights("the decoder's (its filters)", fitted[kExact], filters[kExact]);
    PrintWeights("the stream's", fitted[kStream], filters[kStream]);
    PrintWeights("the rounded source's", fitted[kRounded], filters[kRounded]);
    PrintWeights("measured (less rounding's part)", measured, filters[kStream]);
}

// Every pair's luma blocks pooled per level, then each level's filters and fit.
bool FitAll(const std::vector<std::string>& pairs) {
    std::array<NormalEquations, kFitLevels.size()> equations;
    bool allDone = pairs.size() % 2 == 0;
    for (std::size_t at = 0; at + 1 < pairs.size(); at += 2) {
        auto pair = ReadCodedSource(pairs[at], pairs[at + 1]);
        if (!pair) {
            allDone = false;
            continue;
        }
        Plane<double> blockDcs = pair->source[0];
        AnalyseFirstLevel(blockDcs);
        Plane<double> exact = blockDcs;
        AnalyseSecondLevel(exact);
        AddBlocks(kFitLevels[0], pair->source[0], exact, pair->coded[0], pair->frame, equations[0]);
        AddBlocks(kFitLevels[1], blockDcs, exact, pair->coded[0], pair->frame, equations[1]);
    }
    for (std::size_t level = 0; level < kFitLevels.size(); ++level) {
        ReportLevel(kFitLevels[level], equations[level]);
    }
    return allDone;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc > 1 && std::strcmp(argv[1], "--agree") == 0 && argc % 2 == 0) {
        return AgreeAll({argv + 2, argv + argc}) ? 0 : 1;
    }
    if (argc > 1 && std::strcmp(argv[1], "--fit") == 0 && argc % 2 == 0) {
        return FitAll({argv + 2, argv + argc}) ? 0 : 1;
    }
    bool check = false;
    bool reach = false;
    double scale = 0.77;
    CodingChoice choice;
    std::vector<std::string> documents;
    for (int arg = 1; arg < argc; ++arg) {
        const bool valued = arg + 1 < argc;
        if (std::strcmp(argv[arg], "--check") == 0) {
            check = true;
        } else if (std::strcmp(argv[arg], "--reach") == 0) {
            reach = true;
        } else if (std::strcmp(argv[arg], "--scale") == 0 && valued) {
            scale = std::atof(argv[++arg]);
        } else if (std::strcmp(argv[arg], "--step") == 0 && valued) {
            choice.step = std::atof(argv[++arg]);
        } else if (std::strcmp(argv[arg], "--rounding") == 0 && valued) {
            choice.rounding = std::atof(argv[++arg]);
        } else {
            documents.emplace_back(argv[arg]);
        }
    }
    if (documents.empty() || scale <= 0 || choice.step <= 0 || (reach && documents.size() % 2)) {
        std::fprintf(stderr,
                     "usage: ptc_model [--scale F] [--step S] [--rounding R] DOCUMENT...\n"
                     "       ptc_model --reach [--step S] [--rounding R] DOCUMENT SOURCE"
                     " [DOCUMENT SOURCE]...\n"
                     "       ptc_model --check DOCUMENT...\n"
                     "       ptc_model --agree DOCUMENT SOURCE [DOCUMENT SOURCE]...\n"
                     "       ptc_model --fit DOCUMENT SOURCE [DOCUMENT SOURCE]...\n");
        return 2;
    }
    bool allDone = true;
    if (reach) {
        std::printf(
            "document: PSNR against the source, RGB  Y Co Cg  the 8-pixel borders left"
            " right top bottom (RGB)\n");
        for (std::size_t at = 0; at + 1 < documents.size(); at += 2) {
            allDone = Reach(documents[at], documents[at + 1], choice) && allDone;
        }
        return allDone ? 0 : 1;
    }
    if (!check) {
        std::printf("document  source Y Co Cg  decoded Y Co Cg  PSNR\n");
    }
    for (const std::string& document : documents) {
        allDone = (check ? Check(document) : Model(document, scale, choice)) && allDone;
    }
    return allDone ? 0 : 1;
}
