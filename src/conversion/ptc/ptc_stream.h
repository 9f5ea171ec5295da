#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vellumax::ptc {

// The frame of a "PTC+MSHM" stream (version 20, as document-imaging files carry it): the
// page is coded in 16-row tiles from the bottom of the page up, each tile in chunks of at most
// 256 columns, each chunk as three channel records (luma, Co, Cg).
struct StreamFrame {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t paddedWidth = 0;   // width rounded up to 32
    std::uint32_t paddedHeight = 0;  // height rounded up to 32
    std::uint32_t chunkWidth = 0;    // of every chunk but the last
    std::uint32_t tiles = 0;
    std::uint32_t chunksPerTile = 0;

    std::uint32_t ChunkColumns(std::uint32_t chunk) const {
        return chunk + 1 < chunksPerTile ? chunkWidth : paddedWidth - chunk * chunkWidth;
    }
};

inline constexpr int kChannels = 3;
inline constexpr std::uint32_t kTileRows = 16;

// One channel's share of a chunk: how many coefficients it codes and their entropy-coded bytes.
struct ChannelRecord {
    std::uint16_t coefficients = 0;
    std::span<const std::uint8_t> payload;
};

struct ChunkRecord {
    std::array<ChannelRecord, kChannels> channels;
};

// Parses the frame header and the tile table, keeping a view of the bytes. Every length and
// offset is held against the stream's own length before it is used.
class Stream {
public:
    // The stream, or nothing with `problem` telling what is wrong.
    static std::optional<Stream> Parse(std::span<const std::uint8_t> bytes, std::string& problem);

    const StreamFrame& frame() const { return frame_; }

    // The chunk records of tile `tile` (0 is the bottom stripe of the page), or nothing when
    // its lengths do not add up.
    std::optional<std::vector<ChunkRecord>> Tile(std::uint32_t tile, std::string& problem) const;

    // The bytes of tile `tile` as the tile table places them, unparsed.
    std::span<const std::uint8_t> TileBytes(std::uint32_t tile) const { return tiles_.at(tile); }

private:
    Stream(std::span<const std::uint8_t> bytes, StreamFrame frame,
           std::vector<std::span<const std::uint8_t>> tiles)
        : bytes_(bytes), frame_(frame), tiles_(std::move(tiles)) {}

    std::span<const std::uint8_t> bytes_;
    StreamFrame frame_;
    std::vector<std::span<const std::uint8_t>> tiles_;
};

// The most coefficients a channel record of a chunk `columns` wide can hold: 16 a pixel column
// for luma, a quarter of that for each chroma channel, which is coded at half resolution.
std::uint32_t MaxCoefficients(int channel, std::uint32_t columns);

}  // namespace vellumax::ptc
