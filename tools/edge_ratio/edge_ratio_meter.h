#pragma once

// The edge ratio of decoded colour pages, shared by tools/edge_ratio and the sample tests.
//
// Each pixel is split into Y = (R + 2G + B) / 4, Co = R − B and Cg = G − (R + B) / 2. Rows
// count from the bottom of the page, where the coding grid starts, columns from the left. For
// each channel and direction the absolute differences between neighbouring samples are averaged
// by position modulo the grid's period: 16 for luma both ways; for Co and Cg 32 across and 16
// down, as chroma blocks cover 8 × 4 pixels and chroma macroblocks 32 × 16. A position's edge
// ratio is its mean over the median of all positions of its direction; a channel's figure is
// its largest ratio over the block and macroblock edge positions of both directions. A page
// without a grid scores about 1.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vellumax::ptc {

class EdgeRatioMeter {
public:
    static constexpr int kChannels = 3;  // Y, Co, Cg

    // Where rows are counted from. The coding grid starts at the bottom; a grid the picture
    // brought with it from an earlier coding (a JPEG's 8 × 8 blocks) starts at the top, and on a
    // page whose height is no multiple of the period the two fall on different positions.
    enum class RowOrigin { Bottom, Top };

    EdgeRatioMeter(std::uint32_t width, std::uint32_t height, RowOrigin origin = RowOrigin::Bottom)
        : width_(width), height_(height), origin_(origin), row_(width), above_(width) {
        for (int channel = 0; channel < kChannels; ++channel) {
            const Grid& grid = kGrids[channel];
            profiles_[channel].across.assign(grid.periodAcross, {});
            profiles_[channel].down.assign(grid.periodDown, {});
        }
    }

    // The next row of the page, top first: 3 bytes a pixel.
    void AddRow(std::span<const std::uint8_t> rgb) {
        for (std::uint32_t x = 0; x < width_; ++x) {
            const double red = rgb[3 * x], green = rgb[3 * x + 1], blue = rgb[3 * x + 2];
            row_[x] = {(red + 2 * green + blue) / 4, red - blue, green - (red + blue) / 2};
        }
        // The step between this row and the one above lies at the upper row's position counted
        // from the bottom, or at this row's counted from the top: either way position 0 is the
        // step across a grid line.
        const std::uint32_t position = origin_ == RowOrigin::Bottom ? height_ - rows_ : rows_;
        for (int channel = 0; channel < kChannels; ++channel) {
            const Grid& grid = kGrids[channel];
            Profile& profile = profiles_[channel];
            for (std::uint32_t x = 1; x < width_; ++x) {
                profile.across[x % grid.periodAcross].Add(
                    std::abs(row_[x][channel] - row_[x - 1][channel]));
            }
            if (rows_ > 0) {
                Mean& mean = profile.down[position % grid.periodDown];
                for (std::uint32_t x = 0; x < width_; ++x) {
                    mean.Add(std::abs(above_[x][channel] - row_[x][channel]));
                }
            }
        }
        std::swap(row_, above_);
        ++rows_;
    }

    // The channel's figure: its largest edge ratio.
    double Figure(int channel) const {
        const Grid& grid = kGrids[channel];
        return std::max(Largest(Means(channel, true), grid.blockAcross),
                        Largest(Means(channel, false), grid.blockDown));
    }

    // The channel's mean step by position, across or down.
    std::vector<double> Means(int channel, bool across) const {
        const auto& means = across ? profiles_[channel].across : profiles_[channel].down;
        std::vector<double> result;
        for (const Mean& mean : means) {
            result.push_back(mean.count > 0 ? mean.sum / mean.count : 0);
        }
        return result;
    }

private:
    struct Grid {
        std::uint32_t periodAcross;
        std::uint32_t periodDown;
        std::size_t blockAcross;  // spacing of block edges
        std::size_t blockDown;
    };
    static constexpr std::array<Grid, kChannels> kGrids = {
        {{16, 16, 4, 4}, {32, 16, 8, 4}, {32, 16, 8, 4}}};

    struct Mean {
        double sum = 0;
        double count = 0;
        void Add(double value) {
            sum += value;
            count += 1;
        }
    };
    struct Profile {
        std::vector<Mean> across;
        std::vector<Mean> down;
    };

    static double Largest(std::vector<double> means, std::size_t spacing) {
        double largest = 0;
        std::vector<double> sorted = means;
        std::sort(sorted.begin(), sorted.end());
        const std::size_t half = sorted.size() / 2;
        const double median = (sorted[half - 1] + sorted[half]) / 2;
        for (std::size_t at = 0; at < means.size() && median > 0; at += spacing) {
            largest = std::max(largest, means[at] / median);
        }
        return largest;
    }

    std::uint32_t width_;
    std::uint32_t height_;
    RowOrigin origin_;
    std::uint32_t rows_ = 0;
    std::vector<std::array<double, kChannels>> row_;
    std::vector<std::array<double, kChannels>> above_;
    std::array<Profile, kChannels> profiles_;
};

}  // namespace vellumax::ptc
