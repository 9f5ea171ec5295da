// A decoded colour page against the picture it was coded from.
//   ptc_truth DOCUMENT SOURCE
//   ptc_truth --all TESTDATA
//
// See the usage text below for what it prints, and colour_truth.h for how.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ptc_truth/colour_truth.h"

namespace {

using vellumax::tools::BrightnessGroup;
using vellumax::tools::kBrightnessBounds;
using vellumax::tools::PositionEnergy;
using vellumax::tools::TruthFigures;

constexpr const char* kUsage =
    "usage: ptc_truth DOCUMENT SOURCE\n"
    "       ptc_truth --all TESTDATA\n"
    "       ptc_truth --thumbnail DOCUMENT SOURCE\n"
    "\n"
    "Decodes the document's first page and compares it with SOURCE, the picture it was coded\n"
    "from (JPEG or 8-bit RGB TIFF, alpha ignored), pixel for pixel. It prints:\n"
    "  PSNR over R, G and B together and per channel;\n"
    "  the mean offset per channel (decoded - source), over the page and over flat pixels:\n"
    "    those whose 3 x 3 neighbourhood in the source varies by at most 2 levels in each of\n"
    "    R, G and B;\n"
    "  where the source is pure black (0,0,0): how many pixels, and the decoded median there;\n"
    "  the mean offset of Y = (R + 2G + B) / 4 over whole 16 x 16 macroblocks, grouped by the\n"
    "    source's mean Y there (0-15, 16-31, 32-63, 64-127, 128-191, 192-255);\n"
    "  the squared error by position inside the macroblocks, of Y = (R + 2G + B) / 4 per luma\n"
    "    sample (16 x 16) and of Co = R - B and Cg = G - (R + B) / 2 per chroma sample (16\n"
    "    across, 8 down, each 2 x 2 pixels), as a percentage of the channel's mean; rows count\n"
    "    from the bottom of the macroblock, printed top row first as on the page.\n"
    "\n"
    "--all pairs every mdi/*.mdi and mdi-art/*.mdi under TESTDATA with sources/STEM.jpg or\n"
    "STEM.tif and prints one line each: RGB PSNR, R / G / B PSNR, the black median and its\n"
    "pixel count, the Y offset of the macroblocks darker than 32 and their count; then the\n"
    "range of the photographs (mdi/) and drawn figures (mdi-art/) and the mean of all.\n"
    "\n"
    "--thumbnail sets the page's thumbnail, which the coder made from its own input and not from\n"
    "the stream, against the source and against the decoded page, both shrunk to its size: the\n"
    "mean Y offset of thumbnail - source and thumbnail - page in the same brightness groups.\n";

void PrintPositions(const char* name, const PositionEnergy& energy) {
    const double mean = energy.Mean();
    std::printf("%s squared error by position: mean %.2f; %% of it, row (from the bottom):\n", name,
                mean);
    for (std::uint32_t row = energy.rows; row-- > 0;) {
        std::printf("  %2u:", row);
        for (std::uint32_t column = 0; column < energy.columns; ++column) {
            std::printf(" %4.0f", mean > 0 ? 100 * energy.At(row, column) / mean : 0);
        }
        std::printf("\n");
    }
}

void PrintGroups(const char* label, const vellumax::tools::BrightnessGroups& groups) {
    std::printf("%s", label);
    for (std::size_t group = 0; group < groups.size(); ++group) {
        std::printf(" %d-%d %+.2f (%llu)", kBrightnessBounds[group],
                    kBrightnessBounds[group + 1] - 1, groups[group].offset,
                    static_cast<unsigned long long>(groups[group].blocks));
    }
    std::printf("\n");
}

void PrintFigures(const TruthFigures& figures) {
    std::printf("PSNR RGB %.2f dB, R %.2f G %.2f B %.2f\n", figures.rgbPsnr, figures.psnr[0],
                figures.psnr[1], figures.psnr[2]);
    std::printf("offset R %+.2f G %+.2f B %+.2f; on %llu flat pixels R %+.2f G %+.2f B %+.2f\n",
                figures.offset[0], figures.offset[1], figures.offset[2],
                static_cast<unsigned long long>(figures.flatPixels), figures.flatOffset[0],
                figures.flatOffset[1], figures.flatOffset[2]);
    std::printf("pure black: %llu pixels, decoded median R %d G %d B %d (all %d)\n",
                static_cast<unsigned long long>(figures.blackPixels), figures.blackMedian[0],
                figures.blackMedian[1], figures.blackMedian[2], figures.blackMedianAll);
    std::printf("Y offset by the source's brightness, whole macroblocks:");
    for (std::size_t group = 0; group < figures.byBrightness.size(); ++group) {
        std::printf(" %d-%d %+.2f (%llu)", kBrightnessBounds[group],
                    kBrightnessBounds[group + 1] - 1, figures.byBrightness[group].offset,
                    static_cast<unsigned long long>(figures.byBrightness[group].blocks));
    }
    std::printf("\n");
    PrintPositions("Y", figures.luma);
    PrintPositions("Co", figures.co);
    PrintPositions("Cg", figures.cg);
}

bool MeasureThumbnail(const std::string& document, const std::string& source) {
    std::string problem;
    const auto picture = vellumax::tools::ReadPicture(source, problem);
    const auto figures =
        picture ? vellumax::tools::MeasureThumbnail(document, *picture, problem) : std::nullopt;
    if (!figures) {
        std::fprintf(stderr, "%s: %s\n", document.c_str(), problem.c_str());
        return false;
    }
    PrintGroups("thumbnail - source, Y by the source's brightness:", figures->againstSource);
    PrintGroups("thumbnail - page, Y by the source's brightness:  ", figures->againstPage);
    return true;
}

std::optional<TruthFigures> Measure(const std::string& document, const std::string& source) {
    std::string problem;
    const auto picture = vellumax::tools::ReadPicture(source, problem);
    if (!picture) {
        std::fprintf(stderr, "%s: %s\n", source.c_str(), problem.c_str());
        return std::nullopt;
    }
    auto figures = vellumax::tools::MeasureAgainstSource(document, *picture, problem);
    if (!figures) {
        std::fprintf(stderr, "%s: %s\n", document.c_str(), problem.c_str());
    }
    return figures;
}

// The shared samples of `folder` with their sources, by name.
std::vector<std::pair<std::filesystem::path, std::filesystem::path>> Pairs(
    const std::filesystem::path& testdata, const char* folder) {
    std::vector<std::pair<std::filesystem::path, std::filesystem::path>> pairs;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(testdata / folder, error)) {
        if (entry.path().extension() != ".mdi") {
            continue;
        }
        for (const char* extension : {".jpg", ".tif"}) {
            auto source = testdata / "sources" / entry.path().stem();
            source += extension;
            if (std::filesystem::exists(source)) {
                pairs.emplace_back(entry.path(), source);
            }
        }
    }
    std::sort(pairs.begin(), pairs.end());
    return pairs;
}

struct Range {
    double low = 1e9;
    double high = 0;
    void Add(double value) {
        low = std::min(low, value);
        high = std::max(high, value);
    }
};

bool MeasureAll(const std::filesystem::path& testdata) {
    std::printf(
        "sample  RGB  R / G / B dB  black median (pixels)  Y offset under 32 (macroblocks)\n");
    double sum = 0;
    int count = 0;
    bool allMeasured = true;
    std::vector<std::pair<const char*, Range>> ranges;
    for (const char* folder : {"mdi", "mdi-art"}) {
        Range range;
        for (const auto& [document, source] : Pairs(testdata, folder)) {
            const auto figures = Measure(document, source);
            if (!figures) {
                allMeasured = false;
                continue;
            }
            const std::string stem = document.stem().string();
            std::printf("%s  %.2f  %.2f / %.2f / %.2f  ", stem.substr(0, stem.find('-')).c_str(),
                        figures->rgbPsnr, figures->psnr[0], figures->psnr[1], figures->psnr[2]);
            if (figures->blackPixels > 0) {
                std::printf("%d (%llu)  ", figures->blackMedianAll,
                            static_cast<unsigned long long>(figures->blackPixels));
            } else {
                std::printf("- (0)  ");
            }
            const BrightnessGroup dark = vellumax::tools::Shadows(*figures);
            std::printf("%+.2f (%llu)\n", dark.offset,
                        static_cast<unsigned long long>(dark.blocks));
            range.Add(figures->rgbPsnr);
            sum += figures->rgbPsnr;
            ++count;
        }
        ranges.emplace_back(folder, range);
    }
    for (const auto& [folder, range] : ranges) {
        std::printf("%s: %.2f to %.2f dB\n", folder, range.low, range.high);
    }
    std::printf("mean of %d: %.2f dB\n", count, count ? sum / count : 0);
    return allMeasured && count > 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc == 3 && std::strcmp(argv[1], "--all") == 0) {
        return MeasureAll(argv[2]) ? 0 : 1;
    }
    if (argc == 4 && std::strcmp(argv[1], "--thumbnail") == 0) {
        return MeasureThumbnail(argv[2], argv[3]) ? 0 : 1;
    }
    if (argc != 3 || argv[1][0] == '-') {
        std::fprintf(stderr, "%s", kUsage);
        return 2;
    }
    const auto figures = Measure(argv[1], argv[2]);
    if (!figures) {
        return 1;
    }
    PrintFigures(*figures);
    return 0;
}
