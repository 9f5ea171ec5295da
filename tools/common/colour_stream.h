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

// The one strip of the first page, which holds the codec's stream; empty when there is none.
inline Bytes FirstStrip(const Bytes& file) {
    const std::uint32_t page = ReadLittle(file, 4, 4);
    std::uint32_t offset = 0;
    std::uint32_t length = 0;
    for (std::uint32_t entry = 0; entry < ReadLittle(file, page, 2); ++entry) {
        const std::size_t at = page + 2 + 12 * std::size_t{entry};
        const std::uint32_t tag = ReadLittle(file, at, 2);
        if (tag == 273) {  // StripOffsets
            offset = ReadLittle(file, at + 8, 4);
        } else if (tag == 279) {  // StripByteCounts
            length = ReadLittle(file, at + 8, 4);
        }
    }
    if (offset > file.size() || length > file.size() - offset) {
        return {};
    }
    return Bytes(file.begin() + offset, file.begin() + offset + length);
}

// The colour stream of the document at `path`.
inline Bytes ColourStream(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return FirstStrip(Bytes(std::istreambuf_iterator<char>(in), {}));
}

}  // namespace vellumax::tools
