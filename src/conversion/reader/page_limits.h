#pragma once

#include <tiffio.h>
#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "conversion/reader/document_reader.h"

namespace vellumax::reader {

// The largest page this reader decodes. Beyond it a declared size is far more likely a damaged
// or hostile file than a scanned page.
inline constexpr std::uint64_t kMaxDecodedPageBytes = std::uint64_t{1} << 30;
// The imaging component's own codecs, which no libtiff decodes; colour pages come in the
// transform codec, which this reader decodes itself.
inline constexpr std::array<std::uint16_t, 2> kImagingCodecs = {34718, 34719};
inline constexpr std::uint16_t kTransformCodec = 34720;

// How a page's pixels are read and what they become.
enum class PageKind {
    Bilevel,  // 1-bit, kept as it is
    Grey,     // 2, 4, 8 or 16-bit grey, becomes 8-bit grey
    Palette,  // 1 to 8-bit indexes, become RGB
    Rgb,      // 8 or 16-bit RGB, interleaved (JPEG's YCbCr decoded to RGB by libtiff)
    Rendered  // everything else libtiff's RGBA reader knows, becomes RGB over white
};

struct PageLayout {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint16_t bitsPerSample = 1;
    std::uint16_t samplesPerPixel = 1;
    std::uint16_t photometric = PHOTOMETRIC_MINISWHITE;
    std::uint16_t planar = PLANARCONFIG_CONTIG;
    std::uint16_t compression = COMPRESSION_NONE;
    std::uint16_t orientation = ORIENTATION_TOPLEFT;
    bool tiled = false;
    std::uint32_t tileWidth = 0;
    std::uint32_t blockRows = 0;  // of a strip or a tile, at most the page's height
    PageKind kind = PageKind::Rendered;

    std::uint16_t outputSamples() const {
        return kind == PageKind::Bilevel || kind == PageKind::Grey ? 1 : 3;
    }
    std::uint16_t outputBits() const { return kind == PageKind::Bilevel ? 1 : 8; }
    std::uint64_t outputRowBytes() const {
        return (std::uint64_t{width} * outputSamples() * outputBits() + 7) / 8;
    }
};

bool IsJpegYCbCr(const PageLayout& layout);

// "N KiB" below a MiB and "N MiB" above, rounded up.
std::string SizeText(std::uint64_t bytes);

// Reads the current directory's layout; the failure names the page.
std::optional<ReaderFailure> ReadLayout(TIFF* tiff, int page, PageLayout& layout);

// Rows of a band of libtiff's RGBA reader: whole strips or tile rows, about a megapixel.
std::uint32_t RenderBandRows(const PageLayout& layout);

// Refuses what would need too much memory or disk or lies outside the file, before anything is
// read. The compressed data a page declares must fit the file and what its pixels can need;
// a sparse file can be of any length, so the file's alone bounds nothing.
std::optional<ReaderFailure> CheckLimits(TIFF* tiff, int page, const PageLayout& layout,
                                         std::uint64_t fileSize);

// The layout of the current directory, held to the limits.
std::optional<ReaderFailure> CheckPage(TIFF* tiff, int page, std::uint64_t fileSize);

}  // namespace vellumax::reader
