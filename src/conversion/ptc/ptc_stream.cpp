#include "conversion/ptc/ptc_stream.h"

#include <cstring>

namespace vellumax::ptc {

namespace {

constexpr std::size_t kHeaderBytes = 86;
constexpr std::uint16_t kVersion = 20;
// Pages beyond this many pixels a side are refused before any table is sized from them.
constexpr std::uint32_t kMaxSide = 1u << 20;

std::uint16_t Read16(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

std::uint32_t Read32(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[at + 2]) << 16 |
           static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

std::uint32_t RoundUp32(std::uint32_t value) {
    return (value + 31) / 32 * 32;
}

std::optional<StreamFrame> ReadFrame(std::span<const std::uint8_t> bytes, std::string& problem) {
    if (bytes.size() < kHeaderBytes || std::memcmp(bytes.data(), "PTC+MSHM", 8) != 0) {
        problem = "the stream has no transform codec header";
        return std::nullopt;
    }
    if (Read16(bytes, 8) != kVersion) {
        problem = "the stream is of codec version " + std::to_string(Read16(bytes, 8)) +
                  ", which cannot be decoded";
        return std::nullopt;
    }
    const bool layoutKnown = Read32(bytes, 24) == 1 && Read32(bytes, 36) == 0 &&
                             Read32(bytes, 76) == 8 && Read16(bytes, 80) == kChannels;
    if (!layoutKnown) {
        problem = "the stream holds a frame layout that cannot be decoded";
        return std::nullopt;
    }
    StreamFrame frame;
    frame.height = Read32(bytes, 60);
    frame.width = Read32(bytes, 64);
    frame.chunkWidth = Read16(bytes, 84);
    if (frame.width == 0 || frame.height == 0 || frame.width > kMaxSide ||
        frame.height > kMaxSide) {
        problem = "the stream's page size is out of range";
        return std::nullopt;
    }
    frame.paddedWidth = RoundUp32(frame.width);
    frame.paddedHeight = RoundUp32(frame.height);
    if (frame.chunkWidth == 0 || frame.chunkWidth % 32 != 0 || frame.chunkWidth > 256) {
        problem = "the stream's chunk width is out of range";
        return std::nullopt;
    }
    frame.tiles = frame.paddedHeight / kTileRows;
    frame.chunksPerTile = (frame.paddedWidth + frame.chunkWidth - 1) / frame.chunkWidth;
    return frame;
}

}  // namespace

std::uint32_t MaxCoefficients(int channel, std::uint32_t columns) {
    return channel == 0 ? 16 * columns : 4 * columns;
}

std::optional<Stream> Stream::Parse(std::span<const std::uint8_t> bytes, std::string& problem) {
    const auto frame = ReadFrame(bytes, problem);
    if (!frame) {
        return std::nullopt;
    }
    const std::uint64_t dataLength = Read32(bytes, 20);
    if (dataLength > bytes.size() - kHeaderBytes || Read32(bytes, 40) != dataLength) {
        problem = "the stream is cut short";
        return std::nullopt;
    }
    const std::uint64_t tableBytes = std::uint64_t{4} * frame->tiles;
    if (tableBytes > dataLength) {
        problem = "the stream's tile table is cut short";
        return std::nullopt;
    }
    // Tile offsets count from the end of the table; the last tile ends with the data.
    const std::size_t base = kHeaderBytes + static_cast<std::size_t>(tableBytes);
    const std::uint64_t tileBytes = dataLength - tableBytes;
    std::vector<std::span<const std::uint8_t>> tiles;
    tiles.reserve(frame->tiles);
    for (std::uint32_t tile = 0; tile < frame->tiles; ++tile) {
        const std::uint64_t begin = Read32(bytes, kHeaderBytes + 4 * std::size_t{tile});
        const std::uint64_t end = tile + 1 < frame->tiles
                                      ? Read32(bytes, kHeaderBytes + 4 * std::size_t{tile + 1})
                                      : tileBytes;
        if ((tile == 0 && begin != 0) || begin > end || end > tileBytes) {
            problem = "the stream's tile table is damaged";
            return std::nullopt;
        }
        tiles.push_back(bytes.subspan(base + begin, end - begin));
    }
    return Stream(bytes, *frame, std::move(tiles));
}

std::optional<std::vector<ChunkRecord>> Stream::Tile(std::uint32_t tile,
                                                     std::string& problem) const {
    const std::span<const std::uint8_t> bytes = tiles_.at(tile);
    std::vector<ChunkRecord> chunks(frame_.chunksPerTile);
    std::size_t at = 0;
    const auto damaged = [&](const char* what) {
        problem = "tile " + std::to_string(tile) + " has " + what;
        return std::nullopt;
    };
    for (std::uint32_t chunk = 0; chunk < frame_.chunksPerTile; ++chunk) {
        if (bytes.size() - at < 2) {
            return damaged("fewer chunks than the page needs");
        }
        const std::size_t chunkEnd = at + Read16(bytes, at);
        if (chunkEnd > bytes.size() || chunkEnd < at + 2) {
            return damaged("a chunk longer than the tile");
        }
        at += 2;
        for (int channel = 0; channel < kChannels; ++channel) {
            if (chunkEnd - at < 4) {
                return damaged("a channel record longer than its chunk");
            }
            const std::size_t length = Read16(bytes, at);
            ChannelRecord& record = chunks[chunk].channels[channel];
            record.coefficients = Read16(bytes, at + 2);
            if (length < 4 || length > chunkEnd - at) {
                return damaged("a channel record longer than its chunk");
            }
            if (record.coefficients > MaxCoefficients(channel, frame_.ChunkColumns(chunk)) ||
                (record.coefficients == 0) != (length == 4)) {
                return damaged("a channel record with an impossible coefficient count");
            }
            record.payload = bytes.subspan(at + 4, length - 4);
            at += length;
        }
        if (at != chunkEnd) {
            return damaged("a chunk whose channel records do not fill it");
        }
    }
    if (at != bytes.size()) {
        return damaged("bytes after its last chunk");
    }
    return chunks;
}

}  // namespace vellumax::ptc
