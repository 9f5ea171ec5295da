// How many single-bit flips in the colour records of a document the decoder notices.
//   ptc_mutate [--flips N | --all] [--jobs N] [--whole] DOCUMENT...
//
// The flips fall in the tiles' bytes (chunk lengths, record headers and coded bits; not the
// stream header or the tile table). By default N = 3000 bit positions are drawn per document
// with a fixed seed, without repeats; --all flips every bit. Each flipped stream is decoded by
// the real decoder and sorted into: detected (the page is refused), unchanged (the page decodes
// to the same pixels) and changed (the page decodes to other pixels, unnoticed). Each line gives
// the flips tried and those three shares, then the share of flips that changed some pixel by
// more than 16 levels; a total line follows. Flips are shared among --jobs threads (default:
// one per core).
//
// A record reaches the pixels of its own stripe and chunk and of the ones beside them. So
// instead of the whole page, each flip decodes a small page cut from the stream: two stripes
// and two chunks either side of the flipped one (made up to an even number of stripes, as the
// frame needs). That page reconstructs the three stripes and chunks a record reaches exactly
// as the whole page does. Its own border stripes and chunks differ from the whole page's, but
// no flip reaches them: the unflipped cut must decode cleanly, or the document is reported.
// --whole decodes the whole page for every flip instead, to check that on small documents.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "common/colour_stream.h"
#include "conversion/ptc/ptc_decoder.h"

namespace {

using vellumax::ptc::PageDecoder;
using vellumax::ptc::Stream;
using vellumax::ptc::StreamFrame;
using vellumax::tools::Bytes;
using vellumax::tools::ReadLittle;

constexpr std::size_t kHeaderBytes = 86;
constexpr std::uint32_t kReach = 2;  // stripes and chunks either side that a cut keeps
constexpr std::uint64_t kSeed = 20240611;
// A changed page whose pixels move by more than this many levels somewhere is counted apart.
constexpr int kVisibleLevels = 16;

void PutLittle(Bytes& bytes, std::size_t at, std::uint32_t value, int size) {
    for (int index = 0; index < size; ++index) {
        bytes[at + index] = static_cast<std::uint8_t>(value >> 8 * index);
    }
}

// Where a tile's chunks start and end, by their length fields, relative to the tile.
using ChunkSpans = std::vector<std::pair<std::size_t, std::size_t>>;

std::optional<ChunkSpans> FindChunks(const Bytes& stream, std::size_t begin, std::size_t end,
                                     std::uint32_t chunks) {
    ChunkSpans spans;
    std::size_t at = begin;
    for (std::uint32_t chunk = 0; chunk < chunks; ++chunk) {
        if (end - at < 2) {
            return std::nullopt;
        }
        const std::size_t length = ReadLittle(stream, at, 2);
        if (length < 2 || length > end - at) {
            return std::nullopt;
        }
        spans.emplace_back(at - begin, at - begin + length);
        at += length;
    }
    return spans;
}

// The stripes [tileLo, tileHi) (tile 0 at the bottom) and chunks [chunkLo, chunkHi) of a page.
struct Cut {
    std::uint32_t tileLo, tileHi, chunkLo, chunkHi;
    auto key() const { return std::tie(tileLo, tileHi, chunkLo, chunkHi); }
    bool operator<(const Cut& other) const { return key() < other.key(); }
};

// A document's stream and where its tiles and chunks lie.
struct Document {
    Bytes stream;
    StreamFrame frame;
    std::vector<std::pair<std::size_t, std::size_t>> tiles;  // byte ranges in the stream
    std::vector<ChunkSpans> chunks;                          // per tile

    std::uint32_t TileAt(std::size_t byte) const {
        const auto after =
            std::upper_bound(tiles.begin(), tiles.end(), byte,
                             [](std::size_t at, const auto& tile) { return at < tile.first; });
        return static_cast<std::uint32_t>(after - tiles.begin() - 1);
    }
};

std::optional<Document> LoadDocument(const char* path, std::string& problem) {
    Document document;
    document.stream = vellumax::tools::ColourStream(path);
    const auto stream = Stream::Parse(document.stream, problem);
    if (!stream) {
        return std::nullopt;
    }
    document.frame = stream->frame();
    for (std::uint32_t tile = 0; tile < document.frame.tiles; ++tile) {
        const auto bytes = stream->TileBytes(tile);
        const std::size_t begin = static_cast<std::size_t>(bytes.data() - document.stream.data());
        document.tiles.emplace_back(begin, begin + bytes.size());
        auto spans =
            FindChunks(document.stream, begin, begin + bytes.size(), document.frame.chunksPerTile);
        if (!spans) {
            problem = "tile " + std::to_string(tile) + " does not split into its chunks";
            return std::nullopt;
        }
        document.chunks.push_back(std::move(*spans));
    }
    return document;
}

// The cut around byte `byte` of the stream, with every chunk when `wholeRows`.
Cut CutAround(const Document& document, std::size_t byte, bool wholeRows) {
    const StreamFrame& frame = document.frame;
    const std::uint32_t tile = document.TileAt(byte);
    Cut cut{tile > kReach ? tile - kReach : 0, std::min(frame.tiles, tile + kReach + 1), 0,
            frame.chunksPerTile};
    // The padded page is a whole number of 32-row pairs of stripes, so there is room to grow.
    if ((cut.tileHi - cut.tileLo) % 2 != 0) {
        cut.tileHi < frame.tiles ? ++cut.tileHi : --cut.tileLo;
    }
    if (!wholeRows) {
        const std::size_t offset = byte - document.tiles[tile].first;
        const ChunkSpans& spans = document.chunks[tile];
        const auto chunk = static_cast<std::uint32_t>(
            std::upper_bound(spans.begin(), spans.end(), offset,
                             [](std::size_t at, const auto& span) { return at < span.first; }) -
            spans.begin() - 1);
        cut.chunkLo = chunk > kReach ? chunk - kReach : 0;
        cut.chunkHi = std::min(frame.chunksPerTile, chunk + kReach + 1);
    }
    return cut;
}

// A stream of the cut's page, taken from `stream` (the document's, flipped or not). The
// padding above and right of the page stays hidden where the cut reaches it.
Bytes CutStream(const Document& document, const Bytes& stream, const Cut& cut) {
    const StreamFrame& frame = document.frame;
    const bool top = cut.tileHi == frame.tiles;
    const bool right = cut.chunkHi == frame.chunksPerTile;
    const std::uint32_t height = vellumax::ptc::kTileRows * (cut.tileHi - cut.tileLo) -
                                 (top ? frame.paddedHeight - frame.height : 0);
    const std::uint32_t width = right ? frame.width - cut.chunkLo * frame.chunkWidth
                                      : (cut.chunkHi - cut.chunkLo) * frame.chunkWidth;
    Bytes out(stream.begin(), stream.begin() + kHeaderBytes);
    out.resize(kHeaderBytes + 4 * std::size_t{cut.tileHi - cut.tileLo});
    for (std::uint32_t tile = cut.tileLo; tile < cut.tileHi; ++tile) {
        PutLittle(out, kHeaderBytes + 4 * std::size_t{tile - cut.tileLo},
                  static_cast<std::uint32_t>(out.size() - kHeaderBytes -
                                             4 * std::size_t{cut.tileHi - cut.tileLo}),
                  4);
        const std::size_t base = document.tiles[tile].first;
        const ChunkSpans& spans = document.chunks[tile];
        const bool wholeTile = cut.chunkLo == 0 && cut.chunkHi == frame.chunksPerTile;
        const std::size_t begin = wholeTile ? base : base + spans[cut.chunkLo].first;
        const std::size_t end =
            wholeTile ? document.tiles[tile].second : base + spans[cut.chunkHi - 1].second;
        out.insert(out.end(), stream.begin() + static_cast<std::ptrdiff_t>(begin),
                   stream.begin() + static_cast<std::ptrdiff_t>(end));
    }
    const auto dataLength = static_cast<std::uint32_t>(out.size() - kHeaderBytes);
    PutLittle(out, 20, dataLength, 4);
    PutLittle(out, 40, dataLength, 4);
    PutLittle(out, 60, height, 4);
    PutLittle(out, 64, width, 4);
    return out;
}

// The page's pixels, or nothing when the decoder refuses it.
std::optional<Bytes> DecodePage(Bytes stream) {
    std::string problem;
    const auto decoder = PageDecoder::Open(std::move(stream), problem);
    if (!decoder) {
        return std::nullopt;
    }
    const std::size_t rowBytes = 3 * std::size_t{decoder->frame().width};
    Bytes pixels(rowBytes * decoder->frame().height);
    for (std::uint32_t row = 0; row < decoder->frame().height; ++row) {
        if (!decoder->ReadRow(std::span(pixels).subspan(row * rowBytes, rowBytes))) {
            return std::nullopt;
        }
    }
    return pixels;
}

struct Tally {
    std::uint64_t tried = 0;
    std::uint64_t detected = 0;
    std::uint64_t unchanged = 0;
    std::uint64_t changed = 0;
    std::uint64_t visible = 0;  // changed by more than kVisibleLevels somewhere
    std::uint64_t brokenCuts = 0;

    void Add(const Tally& other) {
        tried += other.tried;
        detected += other.detected;
        unchanged += other.unchanged;
        changed += other.changed;
        visible += other.visible;
        brokenCuts += other.brokenCuts;
    }
};

int LargestDifference(const Bytes& a, const Bytes& b) {
    int largest = 0;
    for (std::size_t at = 0; at < a.size(); ++at) {
        largest = std::max(largest, std::abs(int{a[at]} - int{b[at]}));
    }
    return largest;
}

// Flips the bits `bits` (sorted) one at a time and sorts the outcomes.
Tally FlipAll(const Document& document, std::span<const std::uint64_t> bits, bool whole) {
    Tally tally;
    Bytes flipped = document.stream;
    std::map<Cut, std::optional<Bytes>> intact;  // the unflipped cuts' pixels, recent ones
    for (const std::uint64_t bit : bits) {
        const std::size_t byte = bit / 8;
        flipped[byte] ^= static_cast<std::uint8_t>(0x80 >> bit % 8);
        const std::uint32_t tile = document.TileAt(byte);
        const auto& range = document.tiles[tile];
        // A flip that moves chunk boundaries gets whole stripes, where the decoder meets it
        // as it would on the page.
        const auto spans =
            FindChunks(flipped, range.first, range.second, document.frame.chunksPerTile);
        const Cut cut = whole
                            ? Cut{0, document.frame.tiles, 0, document.frame.chunksPerTile}
                            : CutAround(document, byte, !spans || *spans != document.chunks[tile]);
        if (intact.size() > 64) {
            intact.clear();
        }
        auto known = intact.find(cut);
        if (known == intact.end()) {
            known =
                intact.emplace(cut, DecodePage(CutStream(document, document.stream, cut))).first;
        }
        const auto pixels = DecodePage(CutStream(document, flipped, cut));
        flipped[byte] = document.stream[byte];
        ++tally.tried;
        if (!known->second) {
            ++tally.brokenCuts;
        } else if (!pixels) {
            ++tally.detected;
        } else if (*pixels == *known->second) {
            ++tally.unchanged;
        } else {
            ++tally.changed;
            tally.visible += LargestDifference(*pixels, *known->second) > kVisibleLevels;
        }
    }
    return tally;
}

// The bits to flip: every bit of the tiles, or `flips` of them drawn with a fixed seed.
std::vector<std::uint64_t> ChooseBits(const Document& document, std::uint64_t flips) {
    const std::uint64_t first = 8 * std::uint64_t{document.tiles.front().first};
    const std::uint64_t count = 8 * std::uint64_t{document.tiles.back().second} - first;
    std::vector<std::uint64_t> bits;
    if (flips >= count) {
        for (std::uint64_t bit = 0; bit < count; ++bit) {
            bits.push_back(first + bit);
        }
        return bits;
    }
    std::mt19937_64 random(kSeed);
    std::uniform_int_distribution<std::uint64_t> pick(0, count - 1);
    std::vector<bool> taken(count);
    while (bits.size() < flips) {
        const std::uint64_t bit = pick(random);
        if (!taken[bit]) {
            taken[bit] = true;
            bits.push_back(first + bit);
        }
    }
    std::sort(bits.begin(), bits.end());
    return bits;
}

Tally RunDocument(const Document& document, std::uint64_t flips, unsigned jobs, bool whole) {
    const std::vector<std::uint64_t> bits = ChooseBits(document, flips);
    std::vector<Tally> tallies(jobs);
    std::vector<std::thread> threads;
    const std::size_t share = (bits.size() + jobs - 1) / jobs;
    for (unsigned job = 0; job < jobs; ++job) {
        const std::size_t begin = std::min(bits.size(), job * share);
        const std::size_t end = std::min(bits.size(), begin + share);
        threads.emplace_back([&, job, begin, end] {
            tallies[job] = FlipAll(document, std::span(bits).subspan(begin, end - begin), whole);
        });
    }
    Tally total;
    for (unsigned job = 0; job < jobs; ++job) {
        threads[job].join();
        total.Add(tallies[job]);
    }
    return total;
}

double Percent(std::uint64_t part, std::uint64_t whole) {
    return whole ? 100.0 * double(part) / double(whole) : 0;
}

void PrintTally(const std::string& name, const Tally& tally) {
    std::printf("%-28s %9llu  %6.2f %%  %6.2f %%  %6.2f %%  %6.2f %%\n", name.c_str(),
                static_cast<unsigned long long>(tally.tried), Percent(tally.detected, tally.tried),
                Percent(tally.unchanged, tally.tried), Percent(tally.changed, tally.tried),
                Percent(tally.visible, tally.tried));
    if (tally.brokenCuts) {
        std::printf("  %llu flips fell where the unflipped page is refused\n",
                    static_cast<unsigned long long>(tally.brokenCuts));
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    std::uint64_t flips = 3000;
    unsigned jobs = std::max(1u, std::thread::hardware_concurrency());
    bool whole = false;
    std::vector<const char*> paths;
    for (int arg = 1; arg < argc; ++arg) {
        const std::string option = argv[arg];
        if (option == "--whole") {
            whole = true;
        } else if (option == "--all") {
            flips = UINT64_MAX;
        } else if ((option == "--flips" || option == "--jobs") && arg + 1 < argc) {
            const auto value = std::strtoull(argv[++arg], nullptr, 10);
            option == "--flips" ? flips = value : jobs = static_cast<unsigned>(value);
        } else {
            paths.push_back(argv[arg]);
        }
    }
    if (paths.empty() || jobs == 0) {
        std::fprintf(stderr,
                     "usage: ptc_mutate [--flips N | --all] [--jobs N] [--whole] DOCUMENT...\n");
        return 2;
    }
    std::printf("%-28s %9s  %8s  %8s  %8s  %8s\n", "document", "flips", "detected", "unchanged",
                "changed", ">16 lvl");
    Tally total;
    bool broken = false;
    for (const char* path : paths) {
        std::string name = path;
        name = name.substr(name.find_last_of('/') + 1);
        std::string problem;
        const auto document = LoadDocument(path, problem);
        if (!document) {
            std::fprintf(stderr, "%s: %s\n", path, problem.c_str());
            return 1;
        }
        const Tally tally = RunDocument(*document, flips, jobs, whole);
        PrintTally(name.substr(0, 28), tally);
        total.Add(tally);
        broken = broken || tally.brokenCuts > 0;
    }
    PrintTally("total", total);
    return broken ? 1 : 0;
}
