// The colour decoder's speed in the browser, the figure scripts/bench prints for the native
// build: megapixels per second over a document's colour page, decoded in full on the calling
// thread. Built beside the page's module, never part of the page.
//
//   const bench = await createDecodeBench();
//   bench.decodeColourPage(bytes, rounds) -> { megapixels, seconds }

#include <emscripten/bind.h>
#include <emscripten/val.h>

#include <chrono>

#include "common/colour_decode.h"

namespace {

using emscripten::val;
using vellumax::tools::Bytes;

val DecodeColourPage(const val& bytes, int rounds) {
    const Bytes stream =
        vellumax::tools::FirstStrip(emscripten::convertJSArrayToNumberVector<std::uint8_t>(bytes));
    double pixels = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int round = 0; round < rounds; ++round) {
        std::string problem;
        const double decoded = vellumax::tools::DecodeWholePage(stream, problem);
        if (decoded == 0) {
            return val::null();
        }
        pixels += decoded;
    }
    val result = val::object();
    result.set("megapixels", pixels / 1e6);
    result.set("seconds",
               std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    return result;
}

}  // namespace

EMSCRIPTEN_BINDINGS(decode_bench) {
    emscripten::function("decodeColourPage", &DecodeColourPage);
}
