// Decode speed of the colour codec: megapixels per second over the colour pages of the
// documents given, each decoded in full a few times on the calling thread.
//   colour_decode_bench ROUNDS DOCUMENT...
// Damaged records are concealed here so that every page decodes to its end; conversion
// refuses such pages.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "conversion/ptc/ptc_decoder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

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

// Seconds spent decoding the page once, or a negative number when it cannot be opened.
double DecodeOnce(const Bytes& stream, double& pixels) {
    const auto start = std::chrono::steady_clock::now();
    std::string problem;
    const auto decoder =
        vellumax::ptc::PageDecoder::Open(stream, problem, vellumax::ptc::Damage::Conceal);
    if (!decoder) {
        std::fprintf(stderr, "%s\n", problem.c_str());
        return -1;
    }
    Bytes row(3 * std::size_t{decoder->frame().width});
    for (std::uint32_t y = 0; y < decoder->frame().height; ++y) {
        decoder->ReadRow(row);
    }
    pixels += double(decoder->frame().width) * decoder->frame().height;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: colour_decode_bench ROUNDS DOCUMENT...\n");
        return 2;
    }
    const int rounds = std::atoi(argv[1]);
    double pixels = 0;
    double seconds = 0;
    for (int arg = 2; arg < argc; ++arg) {
        std::ifstream in(argv[arg], std::ios::binary);
        const Bytes stream = FirstStrip(Bytes(std::istreambuf_iterator<char>(in), {}));
        for (int round = 0; round < rounds; ++round) {
            const double taken = DecodeOnce(stream, pixels);
            if (taken < 0) {
                std::fprintf(stderr, "%s: not a colour page\n", argv[arg]);
                return 1;
            }
            seconds += taken;
        }
    }
    std::printf("colour decode: %.1f megapixels/s (one core, %.0f megapixels in %.2f s)\n",
                pixels / 1e6 / seconds, pixels / 1e6, seconds);
    return 0;
}
