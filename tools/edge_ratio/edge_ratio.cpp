// How strongly the coding grid shows in decoded colour pages: the edge ratio of each channel.
//   edge_ratio [--positions] [--ppm FOLDER] DOCUMENT...
//
// Each page is decoded without loss and split into Y = (R + 2G + B) / 4, Co = R − B and
// Cg = G − (R + B) / 2. Rows count from the bottom of the page, where the coding grid starts,
// columns from the left. For each channel and direction the absolute differences between
// neighbouring samples are averaged by position modulo the grid's period: 16 for luma both
// ways; for Co and Cg 32 across and 16 down, as chroma blocks cover 8 × 4 pixels and chroma
// macroblocks 32 × 16. A position's edge ratio is its mean over the median of all positions of
// its direction; a channel's figure is its largest ratio over the block and macroblock edge
// positions of both directions. A page without a grid scores about 1.
//
// One line per document: its name, then the Y, Co and Cg figures. --positions adds each
// channel's mean by position; --ppm writes each decoded page to FOLDER as a binary PPM.
// Damaged records are concealed so that a page decodes to its end; such a page is marked.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "conversion/ptc/ptc_decoder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int kChannels = 3;
constexpr std::array<const char*, kChannels> kChannelNames = {"Y", "Co", "Cg"};
// Period across and down, and the spacing of block edges across and down, per channel.
struct Grid {
    int periodAcross;
    int periodDown;
    int blockAcross;
    int blockDown;
};
constexpr std::array<Grid, kChannels> kGrids = {{{16, 16, 4, 4}, {32, 16, 8, 4}, {32, 16, 8, 4}}};

std::uint32_t ReadLittle(const Bytes& bytes, std::size_t at, int size) {
    std::uint32_t value = 0;
    for (int index = size - 1; index >= 0; --index) {
        value = value << 8 | (at + index < bytes.size() ? bytes[at + index] : 0);
    }
    return value;
}

// The one strip of the first page, which holds the codec's stream.
Bytes FirstStrip(const Bytes& file) {
    const std::uint32_t page = ReadLittle(file, 4, 4);
    std::uint32_t offset = 0;
    std::uint32_t length = 0;
    for (std::uint32_t entry = 0; entry < ReadLittle(file, page, 2); ++entry) {
        const std::size_t at = page + 2 + 12 * std::size_t{entry};
        const std::uint32_t tag = ReadLittle(file, at, 2);
        if (tag == 273) {
            offset = ReadLittle(file, at + 8, 4);
        } else if (tag == 279) {
            length = ReadLittle(file, at + 8, 4);
        }
    }
    if (offset > file.size() || length > file.size() - offset) {
        return {};
    }
    return Bytes(file.begin() + offset, file.begin() + offset + length);
}

// Sums and counts of absolute neighbour differences by position, across and down.
struct Profile {
    std::vector<double> across, acrossCount, down, downCount;

    explicit Profile(const Grid& grid)
        : across(grid.periodAcross),
          acrossCount(grid.periodAcross),
          down(grid.periodDown),
          downCount(grid.periodDown) {}

    static std::vector<double> Means(const std::vector<double>& sums,
                                     const std::vector<double>& counts) {
        std::vector<double> means(sums.size());
        for (std::size_t at = 0; at < sums.size(); ++at) {
            means[at] = counts[at] > 0 ? sums[at] / counts[at] : 0;
        }
        return means;
    }
};

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t half = values.size() / 2;
    return values.size() % 2 ? values[half] : (values[half - 1] + values[half]) / 2;
}

// The largest ratio over the positions that are multiples of `spacing`.
double EdgeRatio(const std::vector<double>& means, int spacing) {
    const double median = Median(means);
    double largest = 0;
    for (std::size_t at = 0; at < means.size(); at += static_cast<std::size_t>(spacing)) {
        largest = std::max(largest, median > 0 ? means[at] / median : 0);
    }
    return largest;
}

void PrintMeans(const char* channel, const char* direction, const std::vector<double>& means) {
    std::printf("  %s %s:", channel, direction);
    for (const double mean : means) {
        std::printf(" %.3f", mean);
    }
    std::printf("\n");
}

std::string BaseName(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool Measure(const std::string& path, bool positions, const std::string& ppmFolder) {
    std::ifstream in(path, std::ios::binary);
    const Bytes stream = FirstStrip(Bytes(std::istreambuf_iterator<char>(in), {}));
    std::string problem;
    const auto decoder =
        vellumax::ptc::PageDecoder::Open(stream, problem, vellumax::ptc::Damage::Conceal);
    if (!decoder) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), problem.c_str());
        return false;
    }
    const std::uint32_t width = decoder->frame().width;
    const std::uint32_t height = decoder->frame().height;
    std::FILE* ppm = nullptr;
    if (!ppmFolder.empty()) {
        const std::string name = ppmFolder + "/" + BaseName(path) + ".ppm";
        ppm = std::fopen(name.c_str(), "wb");
        if (ppm == nullptr) {
            std::fprintf(stderr, "%s: cannot be written\n", name.c_str());
            return false;
        }
        std::fprintf(ppm, "P6\n%u %u\n255\n", width, height);
    }
    std::vector<Profile> profiles;
    for (const Grid& grid : kGrids) {
        profiles.emplace_back(grid);
    }
    Bytes rgb(3 * std::size_t{width});
    std::vector<std::array<double, kChannels>> row(width), above(width);
    for (std::uint32_t y = 0; y < height; ++y) {
        if (!decoder->ReadRow(rgb)) {
            std::fprintf(stderr, "%s: %s\n", path.c_str(), decoder->problem().c_str());
            if (ppm != nullptr) {
                std::fclose(ppm);
            }
            return false;
        }
        if (ppm != nullptr) {
            std::fwrite(rgb.data(), 1, rgb.size(), ppm);
        }
        for (std::uint32_t x = 0; x < width; ++x) {
            const double red = rgb[3 * x], green = rgb[3 * x + 1], blue = rgb[3 * x + 2];
            row[x] = {(red + 2 * green + blue) / 4, red - blue, green - (red + blue) / 2};
        }
        // The row below this one is counted from the bottom as `fromBottom`; the step between
        // them lies at the position of the upper row.
        const std::uint32_t fromBottom = height - 1 - y;
        for (int channel = 0; channel < kChannels; ++channel) {
            const Grid& grid = kGrids[channel];
            Profile& profile = profiles[channel];
            for (std::uint32_t x = 1; x < width; ++x) {
                const std::size_t at = x % static_cast<std::uint32_t>(grid.periodAcross);
                profile.across[at] += std::abs(row[x][channel] - row[x - 1][channel]);
                profile.acrossCount[at] += 1;
            }
            if (y > 0) {
                const std::size_t at =
                    (fromBottom + 1) % static_cast<std::uint32_t>(grid.periodDown);
                for (std::uint32_t x = 0; x < width; ++x) {
                    profile.down[at] += std::abs(above[x][channel] - row[x][channel]);
                }
                profile.downCount[at] += width;
            }
        }
        std::swap(row, above);
    }
    if (ppm != nullptr) {
        std::fclose(ppm);
    }
    std::printf("%s", BaseName(path).c_str());
    for (int channel = 0; channel < kChannels; ++channel) {
        const Grid& grid = kGrids[channel];
        const Profile& profile = profiles[channel];
        const double ratio = std::max(
            EdgeRatio(Profile::Means(profile.across, profile.acrossCount), grid.blockAcross),
            EdgeRatio(Profile::Means(profile.down, profile.downCount), grid.blockDown));
        std::printf(" %.2f", ratio);
    }
    std::printf("%s\n", decoder->damagedRecords() ? " (damaged records concealed)" : "");
    if (positions) {
        for (int channel = 0; channel < kChannels; ++channel) {
            const Profile& profile = profiles[channel];
            PrintMeans(kChannelNames[channel], "across",
                       Profile::Means(profile.across, profile.acrossCount));
            PrintMeans(kChannelNames[channel], "down",
                       Profile::Means(profile.down, profile.downCount));
        }
    }
    return true;
}

}  // namespace

int main(int argc, char* argv[]) {
    bool positions = false;
    std::string ppmFolder;
    std::vector<std::string> documents;
    for (int arg = 1; arg < argc; ++arg) {
        if (std::strcmp(argv[arg], "--positions") == 0) {
            positions = true;
        } else if (std::strcmp(argv[arg], "--ppm") == 0 && arg + 1 < argc) {
            ppmFolder = argv[++arg];
        } else {
            documents.emplace_back(argv[arg]);
        }
    }
    if (documents.empty()) {
        std::fprintf(stderr, "usage: edge_ratio [--positions] [--ppm FOLDER] DOCUMENT...\n");
        return 2;
    }
    std::printf("document Y Co Cg\n");
    bool allRead = true;
    for (const std::string& document : documents) {
        allRead = Measure(document, positions, ppmFolder) && allRead;
    }
    return allRead ? 0 : 1;
}
