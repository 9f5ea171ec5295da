// The colour codec run forward: how much of the coding grid an encoder of this format leaves in
// a picture that has none, at the step the documents are coded with.
//   ptc_model [--scale F] [--step S] [--rounding R] DOCUMENT...
//   ptc_model --check DOCUMENT...
//
// Each document's first page is decoded, resampled by F (0.77 unless given) so that its own grid
// no longer lines up with the coding grid, and coded again: colour transform, chroma averaged
// down 2 × 2, every stage the decoder undoes run forward (each is the exact inverse, in floating
// point, of the decoder's own integer stage), every coefficient quantised with step S (480 for
// luma, twice that for chroma) rounding at R (0.5: to the nearest), then decoded by the
// decoder's own stages. One line per document: the edge ratio (Y, Co, Cg) of the resampled
// picture, then of its decode, then the decode's PSNR against it.
//
// --check decodes each document through the same whole-page stages and compares every byte with
// the page decoder's output, which shows that the model decodes as the program does.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "common/colour_stream.h"
#include "conversion/ptc/ptc_decoder.h"
#include "conversion/ptc/ptc_entropy.h"
#include "conversion/ptc/ptc_layout.h"
#include "conversion/ptc/ptc_stream.h"
#include "conversion/ptc/ptc_transform.h"
#include "edge_ratio/edge_ratio_meter.h"

namespace {

using namespace vellumax::ptc;
using vellumax::tools::Bytes;

constexpr std::uint32_t kMacroblockColumns = 16;
constexpr std::uint32_t kBlockColumns = 4;

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

void AsGrid(std::int32_t* s, void (*transform)(Grid4)) {
    transform({{s, s + 4, s + 8, s + 12}, 1});
}

void Edge(std::int32_t* s) {
    InverseEdgeFilter(s[0], s[1], s[2], s[3]);
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

Stage GridStage(void (*transform)(Grid4)) {
    return {[transform](std::int32_t* s) { AsGrid(s, transform); }, {}};
}

// The second level: the core on each macroblock's block DCs, the outer block rows across
// macroblock edges, the overlap windows across the edges between stripes, and the outer block
// columns across those.
std::vector<Stage> SecondLevelStages(const Shape& plane) {
    const std::uint32_t width = plane.width;
    const std::uint32_t blockRows = plane.blockRows;
    const std::uint32_t last = plane.Stripes() - 1;
    Stage core = GridStage(InverseCoreTransform);
    Stage outerRows{Edge, {}};
    Stage overlap = GridStage(InverseOverlapFilter);
    Stage outerColumns{Edge, {}};
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
    return {core, outerRows, overlap, outerColumns};
}

// Luma's first level: the core on each 4 × 4 block, the overlap windows, and the two sample
// rows and columns along the page's borders across block edges.
std::vector<Stage> LumaFirstLevelStages(const Shape& plane) {
    const std::uint32_t width = plane.width;
    Stage core = GridStage(InverseCoreTransform);
    Stage overlap = GridStage(InverseOverlapFilter);
    Stage borders{Edge, {}};
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
    return {core, overlap, borders};
}

// Chroma's first level: each 4 × 2 block, then the edge filter along every row across block
// columns, then the pair filter across every edge between block rows.
std::vector<Stage> ChromaFirstLevelStages(const Shape& plane) {
    Stage blocks{[](std::int32_t* s) { InverseChromaBlock(s + 4, s); }, {}};
    Stage edges{Edge, {}};
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
    return {blocks, edges, pairs};
}

// The decoder's stages for a plane, in the order it runs them. Within a stage no two groups
// share a sample, so the order of groups does not matter, and running each stage over the
// whole page comes to the same as the decoder's stripe by stripe.
template <typename Sample>
std::vector<Stage> Stages(const Plane<Sample>& plane) {
    const Shape shape{plane.width, plane.height, static_cast<std::uint32_t>(plane.blockRows)};
    std::vector<Stage> stages = SecondLevelStages(shape);
    for (Stage& stage :
         plane.Luma() ? LumaFirstLevelStages(shape) : ChromaFirstLevelStages(shape)) {
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

// The forward of an integer stage, as the inverse of its matrix. The stage is linear but for
// rounding, so its matrix comes from unit inputs scaled up far past the rounding.
std::vector<double> ForwardMatrix(const Stage& stage, std::size_t size) {
    constexpr double kScale = 1 << 20;
    std::vector<double> matrix(size * 2 * size, 0);  // [M | I], reduced to [I | M⁻¹]
    for (std::size_t column = 0; column < size; ++column) {
        std::vector<std::int32_t> unit(size, 0);
        unit[column] = static_cast<std::int32_t>(kScale);
        stage.inverse(unit.data());
        for (std::size_t row = 0; row < size; ++row) {
            matrix[row * 2 * size + column] = unit[row] / kScale;
        }
        matrix[column * 2 * size + size + column] = 1;
    }
    for (std::size_t pivot = 0; pivot < size; ++pivot) {
        std::size_t best = pivot;
        for (std::size_t row = pivot + 1; row < size; ++row) {
            if (std::abs(matrix[row * 2 * size + pivot]) >
                std::abs(matrix[best * 2 * size + pivot])) {
                best = row;
            }
        }
        for (std::size_t column = 0; column < 2 * size; ++column) {
            std::swap(matrix[pivot * 2 * size + column], matrix[best * 2 * size + column]);
        }
        const double lead = matrix[pivot * 2 * size + pivot];
        for (std::size_t column = 0; column < 2 * size; ++column) {
            matrix[pivot * 2 * size + column] /= lead;
        }
        for (std::size_t row = 0; row < size; ++row) {
            const double factor = matrix[row * 2 * size + pivot];
            if (row == pivot || factor == 0) {
                continue;
            }
            for (std::size_t column = 0; column < 2 * size; ++column) {
                matrix[row * 2 * size + column] -= factor * matrix[pivot * 2 * size + column];
            }
        }
    }
    std::vector<double> inverse(size * size);
    for (std::size_t row = 0; row < size; ++row) {
        for (std::size_t column = 0; column < size; ++column) {
            inverse[row * size + column] = matrix[row * 2 * size + size + column];
        }
    }
    return inverse;
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

// Codes a plane forward, quantises it and decodes it with the decoder's stages.
Plane<std::int32_t> CodeAndDecode(Plane<double> plane, double step, double rounding) {
    Plane<std::int32_t> coded(plane.width, plane.height, plane.blockRows);
    const std::vector<Stage> stages = Stages(coded);
    for (auto stage = stages.rbegin(); stage != stages.rend(); ++stage) {
        RunForward(*stage, plane);
    }
    for (std::size_t at = 0; at < plane.samples.size(); ++at) {
        const double level = std::floor(std::abs(plane.samples[at]) / step + rounding);
        coded.samples[at] =
            static_cast<std::int32_t>(std::copysign(level, plane.samples[at]) * step);
    }
    Decode(coded);
    return coded;
}

std::uint8_t ToByte(std::int32_t sample) {
    return static_cast<std::uint8_t>(std::clamp((sample + 4) >> 3, -128, 127) + 128);
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
            planes[0].Row(row)[x] = t + cg / 2;
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

bool Model(const std::string& path, double scale, const CodingChoice& choice) {
    Picture page;
    if (!DecodePage(vellumax::tools::ColourStream(path), page)) {
        std::fprintf(stderr, "%s: does not decode\n", path.c_str());
        return false;
    }
    const Picture source = Resample(page, scale);
    std::array<Plane<double>, 3> planes = ToPlanes(source);
    std::array<Plane<std::int32_t>, 3> decoded = {
        CodeAndDecode(planes[0], choice.step, choice.rounding),
        CodeAndDecode(planes[1], 2 * choice.step, choice.rounding),
        CodeAndDecode(planes[2], 2 * choice.step, choice.rounding)};
    const Picture result = ToPicture(decoded, source.width, source.height);
    const auto before = Figures(source);
    const auto after = Figures(result);
    const std::size_t slash = path.find_last_of('/');
    std::printf("%s %.2f %.2f %.2f  %.2f %.2f %.2f  %.2f dB\n",
                path.substr(slash == std::string::npos ? 0 : slash + 1).c_str(), before[0],
                before[1], before[2], after[0], after[1], after[2], Psnr(source, result));
    return true;
}

}  // namespace

int main(int argc, char* argv[]) {
    bool check = false;
    double scale = 0.77;
    CodingChoice choice;
    std::vector<std::string> documents;
    for (int arg = 1; arg < argc; ++arg) {
        const bool valued = arg + 1 < argc;
        if (std::strcmp(argv[arg], "--check") == 0) {
            check = true;
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
    if (documents.empty() || scale <= 0 || choice.step <= 0) {
        std::fprintf(stderr,
                     "usage: ptc_model [--scale F] [--step S] [--rounding R] DOCUMENT...\n"
                     "       ptc_model --check DOCUMENT...\n");
        return 2;
    }
    if (!check) {
        std::printf("document  source Y Co Cg  decoded Y Co Cg  PSNR\n");
    }
    bool allDone = true;
    for (const std::string& document : documents) {
        allDone = (check ? Check(document) : Model(document, scale, choice)) && allDone;
    }
    return allDone ? 0 : 1;
}
