#pragma once

// The colour codec's stream of a shared sample document, for the tools that measure the
// decoder on its own: read straight from the file, so that nothing but the decoder is timed or
// judged.

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace vellumax::tools {

using Bytes = std::vector<std::uint8_t>;

// A little-endian number of `size` bytes at `at`; bytes past the end read as 0.
inline std::uint32_t ReadLittle(const Bytes& bytes, std::size_t at, int size) {
    std::uint32_t value = 0;
    for (int index = size - 1; index >= 0; --index) {
        value = value << 8 | (at + index < bytes.size() ? bytes[at + index] : 0);
    }
    return value;
}

// The value of `tag` in the directory at `directory`, its first if it has several; 0 if absent.
inline std::uint32_t TagValue(const Bytes& file, std::uint32_t directory, std::uint32_t tag) {
    for (std::uint32_t entry = 0; entry < ReadLittle(file, directory, 2); ++entry) {
        const std::size_t at = directory + 2 + 12 * std::size_t{entry};
        if (ReadLittle(file, at, 2) == tag) {
            const bool shortValue = ReadLittle(file, at + 2, 2) == 3;
            return ReadLittle(file, at + 8, shortValue ? 2 : 4);
        }
    }
    return 0;
}

// `length` bytes from `offset`, or nothing when they do not lie inside the file.
inline Bytes Slice(const Bytes& file, std::uint32_t offset, std::uint32_t length) {
    if (offset > file.size() || length > file.size() - offset) {
        return {};
    }
    return Bytes(file.begin() + offset, file.begin() + offset + length);
}

// The first page's thumbnail, a JPEG the coder made from the picture it was given, in the
// page's SubIFD; empty when there is none.
inline Bytes FirstThumbnail(const Bytes& file) {
    const std::uint32_t thumbnail = TagValue(file, ReadLittle(file, 4, 4), 330);  // SubIFDs
    if (thumbnail == 0) {
        return {};
    }
    // JPEGInterchangeFormat and its length
    return Slice(file, TagValue(file, thumbnail, 513), TagValue(file, thumbnail, 514));
}

// The one strip of the first page, which holds the codec's stream; empty when there is none.
inline Bytes FirstStrip(const Bytes& file) {
    const std::uint32_t page = ReadLittle(file, 4, 4);
    // StripOffsets and StripByteCounts
    return Slice(file, TagValue(file, page, 273), TagValue(file, page, 279));
}

inline Bytes FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// The colour stream of the document at `path`.
inline Bytes ColourStream(const std::string& path) {
    return FirstStrip(FileBytes(path));
}

}  // namespace vellumax::tools
