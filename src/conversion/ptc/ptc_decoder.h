#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "conversion/ptc/ptc_stream.h"

namespace vellumax::ptc {

// How many of a stream's channel records decode exactly.
struct RecordCount {
    std::uint64_t damaged = 0;
    std::uint64_t total = 0;
};

// Checks every channel record of the stream without reconstructing any pixel.
RecordCount CountRecords(const Stream& stream);

// What becomes of a channel record that does not decode exactly.
enum class Damage {
    Fail,    // the page fails: what conversion does
    Conceal  // its DC group is kept and the rest dropped: for measuring the decoder
};

// A chunk of the page with a damaged record: its tile (0 at the bottom) and its place in it.
struct ChunkPlace {
    std::uint32_t tile;
    std::uint32_t chunk;
};

// Decodes a page stripe by stripe into rows of 8-bit RGB, top to bottom. It holds a few
// stripes of each channel, never the page.
class PageDecoder {
public:
    // The decoder, or nothing with `problem` telling why the stream cannot be read.
    static std::unique_ptr<PageDecoder> Open(std::vector<std::uint8_t> bytes, std::string& problem,
                                             Damage damage = Damage::Fail);

    PageDecoder(const PageDecoder&) = delete;
    PageDecoder& operator=(const PageDecoder&) = delete;
    ~PageDecoder();

    const StreamFrame& frame() const { return stream_.frame(); }
    const Stream& stream() const { return stream_; }

    // Writes the next row (3 bytes a pixel, frame().width pixels). False once the stream
    // turns out damaged; problem() tells how, and damaged() whether records failed to decode.
    bool ReadRow(std::span<std::uint8_t> rgb);
    const std::string& problem() const { return problem_; }
    bool damagedRecords() const { return !damagedChunks_.empty(); }
    // The chunks met so far that hold a damaged record.
    const std::vector<ChunkPlace>& damagedChunks() const { return damagedChunks_; }

private:
    class Plane;

    PageDecoder(std::vector<std::uint8_t> bytes, Stream stream, Damage damage);
    bool Step(std::uint32_t stripe);
    bool DecodeStripe(std::uint32_t stripe);
    bool Conceal(std::uint32_t stripe, std::uint32_t chunk, int channel,
                 std::span<std::int32_t> values);
    void WriteRow(std::uint32_t planeRow, std::span<std::uint8_t> rgb);

    std::vector<std::uint8_t> bytes_;
    Stream stream_;
    std::array<std::unique_ptr<Plane>, kChannels> planes_;
    std::vector<std::int32_t> values_;
    std::vector<std::int32_t> mixed_;    // chroma mixed down for the row being written
    std::vector<std::int32_t> across_;   // and then across, at full resolution
    std::vector<std::uint32_t> packed_;  // the row's pixels before their bytes are interleaved
    std::uint32_t nextRow_ = 0;
    std::uint32_t stepsDone_ = 0;
    Damage damage_;
    std::string problem_;
    std::vector<ChunkPlace> damagedChunks_;
};

}  // namespace vellumax::ptc
