// How strongly the coding grid shows in decoded colour pages: the edge ratio of each channel
// (see edge_ratio_meter.h for the measure).
//   edge_ratio [--positions] [--from-top] [--ppm FOLDER] DOCUMENT...
//
// One line per document: its name, then the Y, Co and Cg figures. --positions adds each
// channel's mean step by position, across and down; --ppm writes each decoded page to FOLDER
// as a binary PPM, for looking at. --from-top counts rows from the top of the page instead of
// the bottom, where a grid the picture brought from an earlier JPEG coding starts. Damaged records
// are concealed so that a page decodes to its end; such a page is marked.

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/colour_stream.h"
#include "conversion/ptc/ptc_decoder.h"
#include "edge_ratio/edge_ratio_meter.h"

namespace {

using vellumax::ptc::EdgeRatioMeter;
using vellumax::tools::Bytes;

constexpr const char* kChannelNames[] = {"Y", "Co", "Cg"};

std::string BaseName(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool Measure(const std::string& path, bool positions, EdgeRatioMeter::RowOrigin origin,
             const std::string& ppmFolder) {
    const Bytes stream = vellumax::tools::ColourStream(path);
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
    EdgeRatioMeter meter(width, height, origin);
    Bytes rgb(3 * std::size_t{width});
    bool whole = true;
    for (std::uint32_t y = 0; y < height && whole; ++y) {
        whole = decoder->ReadRow(rgb);
        if (whole) {
            meter.AddRow(rgb);
        }
        if (whole && ppm != nullptr) {
            std::fwrite(rgb.data(), 1, rgb.size(), ppm);
        }
    }
    if (ppm != nullptr) {
        std::fclose(ppm);
    }
    if (!whole) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), decoder->problem().c_str());
        return false;
    }
    std::printf("%s", BaseName(path).c_str());
    for (int channel = 0; channel < EdgeRatioMeter::kChannels; ++channel) {
        std::printf(" %.2f", meter.Figure(channel));
    }
    std::printf("%s\n", decoder->damagedRecords() ? " (damaged records concealed)" : "");
    for (int channel = 0; positions && channel < EdgeRatioMeter::kChannels; ++channel) {
        for (const bool across : {true, false}) {
            std::printf("  %s %s:", kChannelNames[channel], across ? "across" : "down");
            for (const double mean : meter.Means(channel, across)) {
                std::printf(" %.3f", mean);
            }
            std::printf("\n");
        }
    }
    return true;
}

}  // namespace

int main(int argc, char* argv[]) {
    bool positions = false;
    auto origin = EdgeRatioMeter::RowOrigin::Bottom;
    std::string ppmFolder;
    std::vector<std::string> documents;
    for (int arg = 1; arg < argc; ++arg) {
        if (std::strcmp(argv[arg], "--positions") == 0) {
            positions = true;
        } else if (std::strcmp(argv[arg], "--from-top") == 0) {
            origin = EdgeRatioMeter::RowOrigin::Top;
        } else if (std::strcmp(argv[arg], "--ppm") == 0 && arg + 1 < argc) {
            ppmFolder = argv[++arg];
        } else {
            documents.emplace_back(argv[arg]);
        }
    }
    if (documents.empty()) {
        std::fprintf(stderr,
                     "usage: edge_ratio [--positions] [--from-top] [--ppm FOLDER] DOCUMENT...\n");
        return 2;
    }
    std::printf("document Y Co Cg\n");
    bool allRead = true;
    for (const std::string& document : documents) {
        allRead = Measure(document, positions, origin, ppmFolder) && allRead;
    }
    return allRead ? 0 : 1;
}
