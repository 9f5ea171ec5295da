#include "conversion/reader/page_limits.h"

#include <algorithm>
#include <cmath>

#include "compressed_size.h"
#include "conversion/reader/reader_failures.h"

namespace vellumax::reader {

namespace {

// Pixels libtiff's RGBA reader renders at a time for the unusual pixel forms.
constexpr std::uint64_t kRenderBandPixels = 1024 * 1024;

bool HasOnlyPlainExtraSamples(TIFF* tiff) {
    std::uint16_t count = 0;
    std::uint16_t* kinds = nullptr;
    if (!TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &count, &kinds)) {
        return true;
    }
    return std::all_of(kinds, kinds + count,
                       [](std::uint16_t kind) { return kind == EXTRASAMPLE_UNSPECIFIED; });
}

// Tiles are copied into a band of rows, which needs every tile to start on a byte.
bool TilesStartOnBytes(const PageLayout& layout) {
    return std::uint64_t{layout.tileWidth} * layout.bitsPerSample * layout.samplesPerPixel % 8 == 0;
}

std::optional<PageKind> DirectKind(TIFF* tiff, const PageLayout& layout) {
    const std::uint16_t bits = layout.bitsPerSample;
    const bool interleaved = layout.samplesPerPixel == 1 || layout.planar == PLANARCONFIG_CONTIG;
    if (!interleaved || (layout.tiled && !TilesStartOnBytes(layout))) {
        return std::nullopt;
    }
    const bool grey = (layout.photometric == PHOTOMETRIC_MINISWHITE ||
                       layout.photometric == PHOTOMETRIC_MINISBLACK) &&
                      layout.samplesPerPixel == 1;
    if (grey && bits == 1) {
        return PageKind::Bilevel;
    }
    if (grey && (bits == 2 || bits == 4 || bits == 8 || bits == 16)) {
        return PageKind::Grey;
    }
    if (layout.photometric == PHOTOMETRIC_PALETTE && layout.samplesPerPixel == 1 &&
        (bits == 1 || bits == 2 || bits == 4 || bits == 8)) {
        return PageKind::Palette;
    }
    if (layout.photometric == PHOTOMETRIC_RGB && layout.samplesPerPixel >= 3 &&
        (bits == 8 || bits == 16) && HasOnlyPlainExtraSamples(tiff)) {
        return PageKind::Rgb;
    }
    if (IsJpegYCbCr(layout) && layout.samplesPerPixel == 3 && bits == 8) {
        return PageKind::Rgb;
    }
    return std::nullopt;
}

// Bytes needed for `height` rows of `bitsPerRow`, in floating point so nothing can wrap.
double Bytes(double bitsPerRow, double height) {
    return std::ceil(bitsPerRow / 8) * height;
}

// The most compressed bytes a strip or tile of the page can take whose pixels decode to
// `decoded` bytes in `rows` rows.
double MaxCompressedBytes(const PageLayout& layout, double decoded, double rows) {
    if (layout.compression != kTransformCodec) {
        return converter::MaxCompressedBytes(layout.compression, decoded, rows);
    }
    // The colour codec codes a frame padded to 32 pixels each way, 1.5 coefficients a pixel,
    // each under 12 bits of magnitude, in a Rice code that adapts to their size: at most about
    // 27 bits for one (flag, a run length of up to 10 bits, sign, a short unary part, up to 11
    // bits of remainder). 32 bits each is 6 bytes a pixel, twice its decoded size. The pages we
    // have take under a bit a pixel.
    const double padded =
        std::ceil(layout.width / 32.0) * 32 * std::ceil(layout.height / 32.0) * 32 * 3;
    return padded * 2 + converter::kCompressedOverhead;
}

}  // namespace

std::string SizeText(std::uint64_t bytes) {
    const bool small = bytes < (std::uint64_t{1} << 20);
    const std::uint64_t unit = small ? 1024 : std::uint64_t{1} << 20;
    return Text((bytes + unit - 1) / unit, small ? " KiB" : " MiB");
}

bool IsJpegYCbCr(const PageLayout& layout) {
    return layout.photometric == PHOTOMETRIC_YCBCR && layout.compression == COMPRESSION_JPEG;
}

std::optional<ReaderFailure> ReadLayout(TIFF* tiff, int page, PageLayout& layout) {
    TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &layout.compression);
    const auto codec = std::find(kImagingCodecs.begin(), kImagingCodecs.end(), layout.compression);
    if (codec != kImagingCodecs.end()) {
        return InvalidFormat(
            Text("page ", page, " uses the imaging codec ", *codec, ", which cannot be decoded"));
    }
    const bool transformCoded = layout.compression == kTransformCodec;
    if (!transformCoded && !TIFFIsCODECConfigured(layout.compression)) {
        return InvalidFormat(Text("page ", page, " uses compression ", layout.compression,
                                  ", which cannot be decoded"));
    }
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &layout.width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &layout.height);
    if (layout.width == 0 || layout.height == 0 ||
        !TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &layout.photometric)) {
        return InvalidFormat(Text("page ", page, " has no size or no colour form"));
    }
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &layout.bitsPerSample);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &layout.samplesPerPixel);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &layout.planar);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ORIENTATION, &layout.orientation);
    layout.tiled = TIFFIsTiled(tiff) != 0;
    if (layout.tiled) {
        TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &layout.tileWidth);
        TIFFGetField(tiff, TIFFTAG_TILELENGTH, &layout.blockRows);
    } else {
        TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &layout.blockRows);
    }
    if (layout.blockRows == 0 || (layout.tiled && layout.tileWidth == 0)) {
        return InvalidFormat(Text("page ", page, " is stored in blocks of no size"));
    }
    layout.blockRows = std::min(layout.blockRows, layout.height);

    if (transformCoded && (layout.tiled || DirectKind(tiff, layout) != PageKind::Rgb ||
                           layout.samplesPerPixel != 3 || layout.bitsPerSample != 8)) {
        return InvalidFormat(Text("page ", page, " uses the imaging codec ", kTransformCodec,
                                  " in a form that cannot be decoded"));
    }
    if (const auto kind = DirectKind(tiff, layout)) {
        layout.kind = *kind;
        return std::nullopt;
    }
    std::array<char, 1024> reason{};
    if (!TIFFRGBAImageOK(tiff, reason.data())) {
        return InvalidFormat(Text("page ", page, " cannot be converted: ", reason.data()));
    }
    layout.kind = PageKind::Rendered;
    return std::nullopt;
}

std::uint32_t RenderBandRows(const PageLayout& layout) {
    const std::uint64_t blocks =
        std::max<std::uint64_t>(1, kRenderBandPixels / layout.width / layout.blockRows);
    return static_cast<std::uint32_t>(
        std::min<std::uint64_t>(blocks * layout.blockRows, layout.height));
}

std::optional<ReaderFailure> CheckLimits(TIFF* tiff, int page, const PageLayout& layout,
                                         std::uint64_t fileSize) {
    const double limit = static_cast<double>(kMaxDecodedPageBytes);
    const double stored =
        Bytes(static_cast<double>(layout.width) * layout.bitsPerSample * layout.samplesPerPixel,
              layout.height);
    const double written =
        Bytes(static_cast<double>(layout.width) * layout.outputSamples() * layout.outputBits(),
              layout.height);
    if (std::max(stored, written) > limit) {
        return TooLarge(Text("page ", page, " is ", layout.width, " x ", layout.height,
                             " pixels, which needs more than 1 GiB decoded"));
    }
    const double decodedBlock = layout.tiled ? static_cast<double>(TIFFTileSize64(tiff))
                                             : static_cast<double>(TIFFStripSize64(tiff));
    // libtiff's RGBA reader renders whole strips or tile rows, four bytes a pixel.
    const double block =
        std::max(decodedBlock,
                 layout.kind == PageKind::Rendered ? 4.0 * layout.width * layout.blockRows : 0.0);
    if (block > limit) {
        return TooLarge(
            Text("page ", page, " is stored in blocks that need more than 1 GiB decoded"));
    }
    const double maxCompressed = MaxCompressedBytes(layout, decodedBlock, layout.blockRows);
    const char* const kind = layout.tiled ? "tile" : "strip";
    std::uint64_t compressed = 0;
    std::uint64_t largest = 0;
    // TIFFNumberOfStrips counts strips of the page's RowsPerStrip even on a tiled page. A place
    // missing from a list that libtiff dropped as too short reads as 0.
    const std::uint32_t blocks = layout.tiled ? TIFFNumberOfTiles(tiff) : TIFFNumberOfStrips(tiff);
    for (std::uint32_t index = 0; index < blocks; ++index) {
        const std::uint64_t offset = TIFFGetStrileOffset(tiff, index);
        const std::uint64_t count = TIFFGetStrileByteCount(tiff, index);
        if (count > fileSize || offset > fileSize - count) {
            return InvalidFormat(Text(
                "page ", page, " is cut short: its image data reach past the end of the file"));
        }
        if (count == 0) {
            return InvalidFormat(
                Text("page ", page, " is damaged: its ", kind, " ", index + 1, " holds no data"));
        }
        if (static_cast<double>(count) > maxCompressed) {
            return InvalidFormat(Text("page ", page, " is damaged: its ", kind, " ", index + 1,
                                      " declares ", SizeText(count),
                                      " of compressed data, more than its pixels can need (",
                                      SizeText(static_cast<std::uint64_t>(maxCompressed)), ")"));
        }
        // A page's compressed data is held to the limit of its decoded size too: it is what
        // the page costs in memory and in the written file when its strips are copied.
        compressed += count;
        if (compressed > kMaxDecodedPageBytes) {
            return TooLarge(Text("page ", page, " declares more than 1 GiB of compressed data"));
        }
        largest = std::max(largest, count);
    }
    // What decoding holds at once: the largest strip or tile as read, the decoded block the
    // tile and RGBA readers keep, and their band of rows.
    const bool rendered = layout.kind == PageKind::Rendered;
    const double band = rendered ? 4.0 * layout.width * RenderBandRows(layout)
                        : layout.tiled
                            ? static_cast<double>(TIFFScanlineSize64(tiff)) * layout.blockRows
                            : 0.0;
    const double held =
        static_cast<double>(largest) + (rendered || layout.tiled ? decodedBlock : 0.0) + band;
    if (held > limit) {
        return TooLarge(
            Text("page ", page, " needs more than 1 GiB of memory at once to be decoded"));
    }
    return std::nullopt;
}

std::optional<ReaderFailure> CheckPage(TIFF* tiff, int page, std::uint64_t fileSize) {
    PageLayout layout;
    if (auto failure = ReadLayout(tiff, page, layout)) {
        return failure;
    }
    return CheckLimits(tiff, page, layout, fileSize);
}

}  // namespace vellumax::reader
