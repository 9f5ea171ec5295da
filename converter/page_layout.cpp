#include "page_layout.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include <tiffio.h>

#include "compressed_size.h"
#include "page_converter.h"

namespace vellumax::converter {

namespace {

// The largest side libjpeg accepts.
constexpr std::uint32_t kMaxJpegSide = 65500;

std::string MiB(std::uint64_t bytes) {
    return std::to_string((bytes + (1u << 20) - 1) >> 20) + " MiB";
}

std::optional<std::uint16_t> DensityValue(float value) {
    if (!(value >= 0.5f)) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(std::lround(std::min(value, 65535.0f)));
}

std::optional<std::vector<std::array<std::uint8_t, 3>>> ReadPalette(TIFF* tiff, int bits) {
    std::uint16_t* red = nullptr;
    std::uint16_t* green = nullptr;
    std::uint16_t* blue = nullptr;
    if (!TIFFGetField(tiff, TIFFTAG_COLORMAP, &red, &green, &blue)) {
        return std::nullopt;
    }
    const std::size_t entries = std::size_t{1} << bits;
    // Some writers store 8-bit values in the 16-bit map; take them as they are.
    bool eightBit = true;
    for (std::size_t i = 0; i < entries; ++i) {
        eightBit = eightBit && red[i] < 256 && green[i] < 256 && blue[i] < 256;
    }
    const auto level = [eightBit](std::uint16_t value) {
        return static_cast<std::uint8_t>(eightBit ? value : (value * 255u + 32767) / 65535);
    };
    std::vector<std::array<std::uint8_t, 3>> palette(entries);
    for (std::size_t i = 0; i < entries; ++i) {
        palette[i] = {level(red[i]), level(green[i]), level(blue[i])};
    }
    return palette;
}

bool OneOf(int value, std::initializer_list<int> allowed) {
    return std::find(allowed.begin(), allowed.end(), value) != allowed.end();
}

}  // namespace

std::string CheckSize(const std::string& what, std::uint64_t bytes) {
    if (bytes <= kMaxDecodedBytes) {
        return {};
    }
    return what + " would need " + MiB(bytes) + ", more than the limit of 1 GiB";
}

bool ReadLayout(TIFF* tiff, Layout& layout, std::string& error) {
    if (!TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &layout.width) ||
        !TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &layout.height)) {
        error = "the page has no width or height";
        return false;
    }
    if (!TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &layout.photometric)) {
        error = "the page does not say how its samples are coloured";
        return false;
    }
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &layout.bitsPerSample);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &layout.samplesPerPixel);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &layout.planar);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &layout.compression);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &layout.sampleFormat);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_INKSET, &layout.inkSet);
    std::uint16_t* extraTypes = nullptr;
    if (TIFFGetFieldDefaulted(tiff, TIFFTAG_EXTRASAMPLES, &layout.extraSamples, &extraTypes) &&
        layout.extraSamples > 0 && extraTypes != nullptr) {
        layout.firstExtraType = extraTypes[0];
    }
    layout.tiled = TIFFIsTiled(tiff) != 0;
    if (layout.tiled) {
        TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &layout.tileWidth);
        TIFFGetField(tiff, TIFFTAG_TILELENGTH, &layout.tileHeight);
    } else {
        TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &layout.rowsPerStrip);
    }
    return true;
}

std::string CheckDimensions(const Layout& layout) {
    if (layout.width == 0 || layout.height == 0) {
        return "the page has no pixels";
    }
    if (layout.width > kMaxJpegSide || layout.height > kMaxJpegSide) {
        return "the page is " + std::to_string(layout.width) + " x " +
               std::to_string(layout.height) + " pixels, more than a JPEG can hold (65500)";
    }
    if (layout.tiled && (layout.tileWidth == 0 || layout.tileHeight == 0)) {
        return "the page's tiles have no size";
    }
    if (!layout.tiled && layout.rowsPerStrip == 0) {
        return "the page's strips have no rows";
    }
    return {};
}

double MaxCompressedBytes(std::uint16_t compression, double decoded, double rows) {
    switch (compression) {
        case COMPRESSION_NONE:
            return decoded + kCompressedOverhead;
        case COMPRESSION_PACKBITS:
            // A literal run of up to 128 bytes costs one byte more, and every row starts anew.
            return decoded + decoded / 128 + rows + kCompressedOverhead;
        case COMPRESSION_LZW:
            // A code is at most 12 bits and stands for at least one byte.
            return decoded * 1.5 + kCompressedOverhead;
        case COMPRESSION_ADOBE_DEFLATE:
        case COMPRESSION_DEFLATE:
            // Bytes that do not compress go into stored blocks, or into fixed codes of at most
            // 9 bits a byte.
            return decoded * 9 / 8 + kCompressedOverhead;
        case COMPRESSION_ZSTD:
            // Blocks that do not compress are stored, with a few bytes of header each.
            return decoded + decoded / 128 + kCompressedOverhead;
        case COMPRESSION_CCITTRLE:
        case COMPRESSION_CCITTRLEW:
        case COMPRESSION_CCITTFAX3:
        case COMPRESSION_CCITTFAX4:
            // No code takes more than 7 bits a pixel (a vertical mode of 3, or runs of one pixel
            // in horizontal mode); a row adds at most an end-of-line code, fill bits and an empty
            // first run. A decoded byte holds 8 pixels: 8 bytes for it, and 8 more a row.
            return decoded * 8 + rows * 8 + kCompressedOverhead;
        case COMPRESSION_JPEG:
            // A coefficient takes at most a 16-bit Huffman code and 11 bits of value, 64 of
            // them for 64 samples, and a stuffed zero follows every 0xff byte: under 7 bytes a
            // sample.
            return decoded * 7 + kCompressedOverhead;
        default:
            // The most libtiff itself reads of a strip for any codec.
            return decoded * 10 + kCompressedOverhead;
    }
}

// A damaged or cut-off file points past its own end, and a damaged or hostile one declares
// more compressed data than its pixels can need: the file's length bounds nothing when it is
// sparse. Catch both before libtiff allocates.
std::string CheckStriles(TIFF* tiff, std::uint64_t fileSize, std::uint64_t& largest) {
    const bool tiled = TIFFIsTiled(tiff) != 0;
    const std::string kind = tiled ? "tile" : "strip";
    const std::uint32_t count = tiled ? TIFFNumberOfTiles(tiff) : TIFFNumberOfStrips(tiff);
    if (count == 0) {
        return "the page has no image data";
    }
    if (count > fileSize) {
        return "the page declares " + std::to_string(count) + " " + kind +
               "s, more than the file could hold";
    }
    std::uint16_t compression = COMPRESSION_NONE;
    std::uint32_t rows = 0;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
    TIFFGetFieldDefaulted(tiff, tiled ? TIFFTAG_TILELENGTH : TIFFTAG_ROWSPERSTRIP, &rows);
    const double decoded =
        static_cast<double>(tiled ? TIFFTileSize64(tiff) : TIFFStripSize64(tiff));
    const double most = MaxCompressedBytes(compression, decoded, rows);
    std::uint64_t total = 0;
    largest = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        int offsetError = 0;
        int countError = 0;
        const std::uint64_t offset = TIFFGetStrileOffsetWithErr(tiff, i, &offsetError);
        const std::uint64_t bytes = TIFFGetStrileByteCountWithErr(tiff, i, &countError);
        if (offsetError || countError) {
            return "cannot read where " + kind + " " + std::to_string(i + 1) + " is stored";
        }
        if (bytes > fileSize || offset > fileSize - bytes) {
            return kind + " " + std::to_string(i + 1) +
                   " lies beyond the end of the file (the file is damaged or cut off)";
        }
        if (static_cast<double>(bytes) > most) {
            return kind + " " + std::to_string(i + 1) + " declares " + MiB(bytes) +
                   " of compressed data, more than its pixels can need (the file is damaged)";
        }
        total += bytes;
        largest = std::max(largest, bytes);
    }
    return CheckSize("the page's compressed data", total);
}

Density ReadDensity(TIFF* tiff) {
    float x = 0;
    float y = 0;
    std::uint16_t unit = RESUNIT_INCH;
    if (!TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &x)) {
        return {};
    }
    if (!TIFFGetField(tiff, TIFFTAG_YRESOLUTION, &y)) {
        y = x;
    }
    TIFFGetFieldDefaulted(tiff, TIFFTAG_RESOLUTIONUNIT, &unit);
    const auto densityX = DensityValue(x);
    const auto densityY = DensityValue(y);
    if (!densityX || !densityY) {
        return {};
    }
    const std::uint8_t jfifUnit = unit == RESUNIT_CENTIMETER ? 2 : unit == RESUNIT_NONE ? 0 : 1;
    return {jfifUnit, *densityX, *densityY};
}

Resolution ReadResolution(TIFF* tiff) {
    Resolution resolution;
    float x = 0;
    float y = 0;
    if (!TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &x)) {
        return resolution;
    }
    if (!TIFFGetField(tiff, TIFFTAG_YRESOLUTION, &y)) {
        y = x;
    }
    // Damage shows as zero, negative, endless or absurd values; the page then has none.
    const auto usable = [](float value) {
        return std::isfinite(value) && value >= 0.01f && value <= 1e6f;
    };
    if (!usable(x) || !usable(y)) {
        return resolution;
    }
    resolution.x = x;
    resolution.y = y;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_RESOLUTIONUNIT, &resolution.unit);
    if (!OneOf(resolution.unit, {RESUNIT_NONE, RESUNIT_INCH, RESUNIT_CENTIMETER})) {
        resolution.unit = RESUNIT_NONE;
    }
    return resolution;
}

std::optional<std::pair<double, double>> Resolution::PerInch() const {
    if (!known() || unit == RESUNIT_NONE) {
        return std::nullopt;
    }
    const double scale = unit == RESUNIT_CENTIMETER ? 2.54 : 1.0;
    return std::make_pair(x * scale, y * scale);
}

bool IsBilevel(const Layout& layout) {
    return layout.bitsPerSample == 1 && layout.samplesPerPixel == 1 &&
           (layout.photometric == PHOTOMETRIC_MINISWHITE ||
            layout.photometric == PHOTOMETRIC_MINISBLACK);
}

std::optional<SampleConverter> NativeConverter(TIFF* tiff, const Layout& layout) {
    if (!OneOf(layout.sampleFormat, {SAMPLEFORMAT_UINT, SAMPLEFORMAT_VOID}) ||
        layout.compression == COMPRESSION_OJPEG) {
        return std::nullopt;
    }
    SampleConverter::Format format;
    format.bitsPerSample = layout.bitsPerSample;
    format.samplesPerPixel = layout.samplesPerPixel;
    format.separatePlanes = layout.planar == PLANARCONFIG_SEPARATE;
    int colourSamples = 1;
    const int bits = layout.bitsPerSample;
    switch (layout.photometric) {
        case PHOTOMETRIC_MINISWHITE:
        case PHOTOMETRIC_MINISBLACK:
            if (!OneOf(bits, {1, 2, 4, 8, 16})) {
                return std::nullopt;
            }
            format.model = ColourModel::Grey;
            format.minIsWhite = layout.photometric == PHOTOMETRIC_MINISWHITE;
            break;
        case PHOTOMETRIC_PALETTE: {
            auto palette = OneOf(bits, {1, 2, 4, 8}) ? ReadPalette(tiff, bits) : std::nullopt;
            if (!palette) {
                return std::nullopt;
            }
            format.model = ColourModel::Palette;
            return SampleConverter(format, std::move(*palette));
        }
        case PHOTOMETRIC_RGB:
            format.model = ColourModel::Rgb;
            colourSamples = 3;
            break;
        case PHOTOMETRIC_SEPARATED:
            if (layout.inkSet != INKSET_CMYK) {
                return std::nullopt;
            }
            format.model = ColourModel::Cmyk;
            colourSamples = 4;
            break;
        default:
            return std::nullopt;
    }
    if (colourSamples > 1 && !OneOf(bits, {8, 16})) {
        return std::nullopt;
    }
    if (layout.samplesPerPixel < colourSamples) {
        return std::nullopt;
    }
    const bool alpha =
        OneOf(layout.firstExtraType, {EXTRASAMPLE_ASSOCALPHA, EXTRASAMPLE_UNASSALPHA});
    if (alpha && format.model != ColourModel::Cmyk &&
        layout.samplesPerPixel - layout.extraSamples == colourSamples) {
        format.alphaSample = colourSamples;
        format.alphaAssociated = layout.firstExtraType == EXTRASAMPLE_ASSOCALPHA;
    }
    return SampleConverter(format);
}

// The raster as stored and as handed to the JPEG encoder must both stay within the limit.
std::string CheckPageSize(TIFF* tiff, const Layout& layout, int components) {
    std::uint64_t storedRowBytes = TIFFScanlineSize64(tiff);
    if (layout.planar == PLANARCONFIG_SEPARATE) {
        storedRowBytes *= layout.samplesPerPixel;
    }
    const std::uint64_t decodedRowBytes = std::uint64_t{layout.width} * components;
    return CheckSize("decoding the page",
                     std::max(storedRowBytes, decodedRowBytes) * layout.height);
}

}  // namespace vellumax::converter
