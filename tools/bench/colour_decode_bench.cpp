// Decode speed of the colour codec: megapixels per second over the colour pages of the
// documents given, each decoded in full a few times on the calling thread.
//   colour_decode_bench ROUNDS DOCUMENT...

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/colour_decode.h"

namespace {

using vellumax::tools::Bytes;

// Seconds spent decoding the page once, or a negative number when it cannot be opened.
double DecodeOnce(const Bytes& stream, double& pixels) {
    const auto start = std::chrono::steady_clock::now();
    std::string problem;
    const double decoded = vellumax::tools::DecodeWholePage(stream, problem);
    if (decoded == 0) {
        std::fprintf(stderr, "%s\n", problem.c_str());
        return -1;
    }
    pixels += decoded;
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
        const Bytes stream = vellumax::tools::ColourStream(argv[arg]);
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
