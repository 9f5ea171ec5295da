#pragma once

// A decoded colour page measured against the picture it was coded from, shared by
// tools/ptc_truth and the sample tests.
//
// Flat: a pixel whose source neighbourhood of 3 × 3 (cut at the page's borders) varies by at
// most kFlatLevels in each of R, G and B. There quantisation leaves little, so a page that is
// brighter or darker than its source shows there first.
//
// Position energy: the mean squared error by position inside the coding grid's macroblocks, of
// Y = (R + 2G + B) / 4 by luma sample and of Co = R − B and Cg = G − (R + B) / 2 by chroma
// sample, rows counted from the bottom of the page (where the grid starts), columns from the
// left. A stage that is misplaced or mis-scaled puts its error at the positions it works on.
//
// Offset by brightness: the mean Y offset (decoded − source) of whole 16 × 16 macroblocks,
// grouped by the source's mean Y over the macroblock. Block means carry almost no quantisation
// noise, so a page that is brighter or darker than its source in one range of levels (a tone
// curve applied to the source and not to the page, or the other way round) shows here.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "conversion/ptc/ptc_layout.h"

namespace vellumax::tools {

inline constexpr int kFlatLevels = 2;

// 8-bit RGB, top row first.
struct RgbPicture {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint8_t> rgb;

    const std::uint8_t* Row(std::uint32_t y) const {
        return rgb.data() + 3 * std::size_t{y} * width;
    }
};

// A JPEG or an 8-bit RGB TIFF (extra samples such as alpha ignored), or nothing with `problem`
// telling why.
std::optional<RgbPicture> ReadPicture(const std::string& path, std::string& problem);

// Mean squared error by (row, column) inside a macroblock of one channel's samples.
struct PositionEnergy {
    std::uint32_t rows = 0;
    std::uint32_t columns = 0;
    std::vector<double> squares;
    std::vector<double> counts;

    explicit PositionEnergy(const ptc::ChannelLayout& layout);
    void Add(std::uint32_t row, std::uint32_t column, double error);
    double At(std::uint32_t row, std::uint32_t column) const;
    double Mean() const;
};

// The groups of `TruthFigures::byBrightness`: source mean Y from each bound up to the next.
inline constexpr std::array<int, 7> kBrightnessBounds = {0, 16, 32, 64, 128, 192, 256};

struct BrightnessGroup {
    std::uint64_t blocks = 0;
    double offset = 0;  // mean Y of decoded − source
};
using BrightnessGroups = std::array<BrightnessGroup, kBrightnessBounds.size() - 1>;

struct TruthFigures {
    double rgbPsnr = 0;
    std::array<double, 3> psnr{};        // R, G, B
    std::array<double, 3> offset{};      // mean of decoded − source
    std::array<double, 3> flatOffset{};  // the same over flat pixels
    std::uint64_t flatPixels = 0;
    std::uint64_t blackPixels = 0;     // pure black in the source
    std::array<int, 3> blackMedian{};  // of the decoded page there, R, G, B
    int blackMedianAll = 0;            // of all three together
    PositionEnergy luma{ptc::kLumaLayout};
    PositionEnergy co{ptc::kChromaLayout};
    PositionEnergy cg{ptc::kChromaLayout};
    BrightnessGroups byBrightness{};
};

// The macroblocks darker than 32 pooled: where six of the JPEG sources' shadows part from what
// their streams code.
BrightnessGroup Shadows(const TruthFigures& figures);

// The page's thumbnail, which the coder made from the picture it was given and not from the
// stream, set against the source and against the decoded page, each shrunk to the thumbnail's
// size (every thumbnail pixel the mean of the pixels whose centres fall in it): the mean Y of
// thumbnail − source and of thumbnail − page, grouped by the shrunk source's Y. Where the coder's
// picture and the source part, the thumbnail follows the coder's.
struct ThumbnailFigures {
    BrightnessGroups againstSource{};
    BrightnessGroups againstPage{};
};

std::optional<ThumbnailFigures> MeasureThumbnail(const std::string& document,
                                                 const RgbPicture& source, std::string& problem);

// Decodes the first page of `document` with the program's own decoder and measures it against
// `source`, or gives nothing with `problem` telling why.
std::optional<TruthFigures> MeasureAgainstSource(const std::string& document,
                                                 const RgbPicture& source, std::string& problem);

}  // namespace vellumax::tools
