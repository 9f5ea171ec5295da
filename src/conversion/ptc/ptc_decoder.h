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

// Decodes a page stripe by stripe into rows of 8-bit RGB, top to bottom. It holds a few
// stripes of each channel, never the page.
class PageDecoder {
public:
    // The decoder, or nothing with `problem` telling why the stream cannot be read.
    static std::unique_ptr<PageDecoder> Open(std::vector<std::uint8_t> bytes,
                                             std::string& problem);

    PageDecoder(const PageDecoder&) = delete;
    PageDecoder& operator=(const PageDecoder&) = delete;
    ~PageDecoder();

    const StreamFrame& frame() const { return stream_.frame(); }
    const Stream& stream() const { return stream_; }

    // Writes the next row (3 bytes a pixel, frame().width pixels). False once the stream
    // turns out damaged; problem() tells how, and damaged() whether records failed to decode.
    bool ReadRow(std::span<std::uint8_t> rgb);
    const std::string& problem() const { return problem_; }
    bool damagedRecords() const { return damagedRecords_; }

private:
    class Plane;

    PageDecoder(std::vector<std::uint8_t> bytes, Stream stream);
    bool Step(std::uint32_t stripe);
    bool DecodeStripe(std::uint32_t stripe);
    void WriteRow(std::uint32_t planeRow, std::span<std::uint8_t> rgb) const;

    std::vector<std::uint8_t> bytes_;
    Stream stream_;
    std::array<std::unique_ptr<Plane>, kChannels> planes_;
    std::vector<std::int32_t> values_;
    std::uint32_t nextRow_ = 0;
    std::uint32_t stepsDone_ = 0;
    std::string problem_;
    bool damagedRecords_ = false;
};

}  // namespace vellumax::ptc
