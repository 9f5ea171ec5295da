#include "tiff_page_reader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

#include <tiffio.h>

#include "page_converter.h"
#include "sample_converter.h"

namespace vellumax::converter {

namespace {

// The largest side libjpeg accepts.
constexpr std::uint32_t kMaxJpegSide = 65500;

struct Layout {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint16_t bitsPerSample = 1;
    std::uint16_t samplesPerPixel = 1;
    std::uint16_t photometric = 0;
    std::uint16_t planar = PLANARCONFIG_CONTIG;
    std::uint16_t compression = COMPRESSION_NONE;
    std::uint16_t sampleFormat = SAMPLEFORMAT_UINT;
    std::uint16_t inkSet = INKSET_CMYK;
    std::uint16_t extraSamples = 0;
    std::uint16_t firstExtraType = EXTRASAMPLE_UNSPECIFIED;
    bool tiled = false;
    std::uint32_t rowsPerStrip = 0;
    std::uint32_t tileWidth = 0;
    std::uint32_t tileHeight = 0;
};

std::string MiB(std::uint64_t bytes) {
    return std::to_string((bytes + (1u << 20) - 1) >> 20) + " MiB";
}

// Empty when `bytes` may be allocated, else the refusal.
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

// A damaged or cut-off file points past its own end; catch that before libtiff allocates.
std::string CheckStriles(TIFF* tiff, std::uint64_t fileSize) {
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
    }
    return {};
}

std::optional<std::uint16_t> DensityValue(float value) {
    if (!(value >= 0.5f)) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(std::lround(std::min(value, 65535.0f)));
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

// The converter for the kinds decoded from libtiff's own rows; nothing for the rest, which
// go through libtiff's RGBA reader.
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
    const bool alpha = OneOf(layout.firstExtraType, {EXTRASAMPLE_ASSOCALPHA, EXTRASAMPLE_UNASSALPHA});
    if (alpha && format.model != ColourModel::Cmyk &&
        layout.samplesPerPixel - layout.extraSamples == colourSamples) {
        format.alphaSample = colourSamples;
        format.alphaAssociated = layout.firstExtraType == EXTRASAMPLE_ASSOCALPHA;
    }
    return SampleConverter(format);
}

// Contiguous strips, decoded one scanline at a time: libtiff keeps only the compressed strip.
class ScanlineReader : public PageReader {
public:
    ScanlineReader(const TiffDocument& document, const JpegPage& page, SampleConverter converter,
                   std::size_t scanlineBytes)
        : PageReader(document, page, 1), converter_(std::move(converter)),
          scanline_(scanlineBytes) {}

protected:
    bool LoadBand(std::uint32_t firstRow, std::uint32_t, std::uint8_t* band) override {
        if (TIFFReadScanline(tiff(), scanline_.data(), firstRow, 0) < 0) {
            return Fail("cannot decode row " + std::to_string(firstRow + 1));
        }
        const std::uint8_t* planes[] = {scanline_.data()};
        converter_.Convert(planes, page().width, band);
        return true;
    }

private:
    SampleConverter converter_;
    std::vector<std::uint8_t> scanline_;
};

// Samples stored plane by plane in strips: one strip of each needed plane at a time.
class StripPlanesReader : public PageReader {
public:
    StripPlanesReader(const TiffDocument& document, const JpegPage& page,
                      SampleConverter converter, std::uint32_t rowsPerStrip,
                      std::size_t planeRowBytes)
        : PageReader(document, page, rowsPerStrip), converter_(std::move(converter)),
          planeRowBytes_(planeRowBytes),
          strips_(converter_.planesNeeded(),
                  std::vector<std::uint8_t>(planeRowBytes * rowsPerStrip)) {}

protected:
    bool LoadBand(std::uint32_t firstRow, std::uint32_t rows, std::uint8_t* band) override {
        std::vector<const std::uint8_t*> planes(strips_.size());
        for (std::size_t plane = 0; plane < strips_.size(); ++plane) {
            auto& strip = strips_[plane];
            const std::uint32_t index =
                TIFFComputeStrip(tiff(), firstRow, static_cast<std::uint16_t>(plane));
            const tmsize_t read = TIFFReadEncodedStrip(tiff(), index, strip.data(),
                                                       static_cast<tmsize_t>(strip.size()));
            if (read < static_cast<tmsize_t>(planeRowBytes_ * rows)) {
                return Fail("cannot decode strip " + std::to_string(index + 1));
            }
        }
        for (std::uint32_t row = 0; row < rows; ++row) {
            for (std::size_t plane = 0; plane < strips_.size(); ++plane) {
                planes[plane] = strips_[plane].data() + row * planeRowBytes_;
            }
            converter_.Convert(planes.data(), page().width, band + row * rowBytes());
        }
        return true;
    }

private:
    SampleConverter converter_;
    std::size_t planeRowBytes_;
    std::vector<std::vector<std::uint8_t>> strips_;
};

// Tiles, one row of tiles at a time, each tile converted straight into the band.
class TileReader : public PageReader {
public:
    TileReader(const TiffDocument& document, const JpegPage& page, SampleConverter converter,
               const Layout& layout, std::size_t tileBytes, std::size_t tileRowBytes)
        : PageReader(document, page, std::min(layout.tileHeight, layout.height)),
          converter_(std::move(converter)), tileWidth_(layout.tileWidth),
          tileRowBytes_(tileRowBytes),
          tiles_(layout.planar == PLANARCONFIG_SEPARATE ? converter_.planesNeeded() : 1,
                 std::vector<std::uint8_t>(tileBytes)) {}

protected:
    bool LoadBand(std::uint32_t firstRow, std::uint32_t rows, std::uint8_t* band) override {
        std::vector<const std::uint8_t*> planes(tiles_.size());
        for (std::uint32_t column = 0; column < page().width; column += tileWidth_) {
            for (std::size_t plane = 0; plane < tiles_.size(); ++plane) {
                if (TIFFReadTile(tiff(), tiles_[plane].data(), column, firstRow, 0,
                                 static_cast<std::uint16_t>(plane)) < 0) {
                    return Fail("cannot decode the tile at column " + std::to_string(column + 1) +
                                ", row " + std::to_string(firstRow + 1));
                }
            }
            const std::uint32_t pixels = std::min(tileWidth_, page().width - column);
            for (std::uint32_t row = 0; row < rows; ++row) {
                for (std::size_t plane = 0; plane < tiles_.size(); ++plane) {
                    planes[plane] = tiles_[plane].data() + row * tileRowBytes_;
                }
                converter_.Convert(planes.data(), pixels,
                                   band + row * rowBytes() +
                                       std::size_t{column} * page().components);
            }
        }
        return true;
    }

private:
    SampleConverter converter_;
    std::uint32_t tileWidth_;
    std::size_t tileRowBytes_;
    std::vector<std::vector<std::uint8_t>> tiles_;
};

// libtiff's RGBA pixels carry premultiplied alpha; a JPEG shows white paper behind them.
void PutRgbaPixels(const std::uint32_t* pixels, std::uint32_t count, std::uint8_t* out) {
    for (std::uint32_t x = 0; x < count; ++x, out += 3) {
        const std::uint32_t pixel = pixels[x];
        const int paper = 255 - static_cast<int>(TIFFGetA(pixel));
        out[0] = static_cast<std::uint8_t>(std::min(255, static_cast<int>(TIFFGetR(pixel)) + paper));
        out[1] = static_cast<std::uint8_t>(std::min(255, static_cast<int>(TIFFGetG(pixel)) + paper));
        out[2] = static_cast<std::uint8_t>(std::min(255, static_cast<int>(TIFFGetB(pixel)) + paper));
    }
}

// The unusual kinds through libtiff's RGBA reader, a strip at a time. Its rows come bottom-up.
class RgbaStripReader : public PageReader {
public:
    RgbaStripReader(const TiffDocument& document, const JpegPage& page, std::uint32_t rows)
        : PageReader(document, page, rows), raster_(std::size_t{page.width} * rows) {}

protected:
    bool LoadBand(std::uint32_t firstRow, std::uint32_t rows, std::uint8_t* band) override {
        if (!TIFFReadRGBAStrip(tiff(), firstRow, raster_.data())) {
            return Fail("cannot decode the strip at row " + std::to_string(firstRow + 1));
        }
        const std::uint32_t width = page().width;
        for (std::uint32_t row = 0; row < rows; ++row) {
            PutRgbaPixels(raster_.data() + std::size_t{rows - 1 - row} * width, width,
                          band + row * rowBytes());
        }
        return true;
    }

private:
    std::vector<std::uint32_t> raster_;
};

// The unusual kinds through libtiff's RGBA reader, tile by tile. Each tile comes bottom-up and
// padded to the full tile height, also at the page's bottom edge.
class RgbaTileReader : public PageReader {
public:
    RgbaTileReader(const TiffDocument& document, const JpegPage& page, const Layout& layout)
        : PageReader(document, page, std::min(layout.tileHeight, layout.height)),
          tileWidth_(layout.tileWidth), tileHeight_(layout.tileHeight),
          raster_(std::size_t{layout.tileWidth} * layout.tileHeight) {}

protected:
    bool LoadBand(std::uint32_t firstRow, std::uint32_t rows, std::uint8_t* band) override {
        for (std::uint32_t column = 0; column < page().width; column += tileWidth_) {
            if (!TIFFReadRGBATile(tiff(), column, firstRow, raster_.data())) {
                return Fail("cannot decode the tile at column " + std::to_string(column + 1) +
                            ", row " + std::to_string(firstRow + 1));
            }
            const std::uint32_t pixels = std::min(tileWidth_, page().width - column);
            for (std::uint32_t row = 0; row < rows; ++row) {
                PutRgbaPixels(raster_.data() + std::size_t{tileHeight_ - 1 - row} * tileWidth_,
                              pixels, band + row * rowBytes() + std::size_t{column} * 3);
            }
        }
        return true;
    }

private:
    std::uint32_t tileWidth_;
    std::uint32_t tileHeight_;
    std::vector<std::uint32_t> raster_;
};

std::unique_ptr<PageReader> OpenNative(const TiffDocument& document, const JpegPage& page,
                                       const Layout& layout, SampleConverter converter,
                                       std::string& error) {
    TIFF* tiff = document.handle();
    const std::uint64_t bandBytes =
        std::uint64_t{page.width} * page.components *
        (layout.tiled ? std::min(layout.tileHeight, layout.height)
                      : std::min(layout.rowsPerStrip, layout.height));
    if (layout.tiled) {
        const std::uint64_t planes =
            layout.planar == PLANARCONFIG_SEPARATE ? converter.planesNeeded() : 1;
        const std::uint64_t tileBytes = TIFFTileSize64(tiff);
        const std::uint64_t tileRowBytes = TIFFTileRowSize64(tiff);
        if (tileBytes == 0 || tileRowBytes == 0) {
            error = "the page's tile size is invalid";
            return nullptr;
        }
        error = CheckSize("one row of tiles", std::max(planes * tileBytes, bandBytes));
        if (!error.empty()) {
            return nullptr;
        }
        return std::make_unique<TileReader>(document, page, std::move(converter), layout,
                                            tileBytes, tileRowBytes);
    }
    const std::uint64_t scanlineBytes = TIFFScanlineSize64(tiff);
    if (scanlineBytes == 0) {
        error = "the page's row size is invalid";
        return nullptr;
    }
    if (layout.planar != PLANARCONFIG_SEPARATE) {
        return std::make_unique<ScanlineReader>(document, page, std::move(converter),
                                                scanlineBytes);
    }
    const std::uint32_t rows = std::min(layout.rowsPerStrip, layout.height);
    const std::uint64_t planes = converter.planesNeeded();
    error = CheckSize("one strip", std::max(planes * scanlineBytes * rows, bandBytes));
    if (!error.empty()) {
        return nullptr;
    }
    return std::make_unique<StripPlanesReader>(document, page, std::move(converter), rows,
                                               scanlineBytes);
}

std::unique_ptr<PageReader> OpenRgba(const TiffDocument& document, JpegPage page,
                                     const Layout& layout, std::string& error) {
    char reason[1024] = "";
    if (!TIFFRGBAImageOK(document.handle(), reason)) {
        error = std::string("this kind of page cannot be converted: ") + reason;
        return nullptr;
    }
    page.components = 3;
    const std::uint64_t rasterBytes =
        layout.tiled ? std::uint64_t{layout.tileWidth} * layout.tileHeight * 4
                     : std::uint64_t{layout.width} * std::min(layout.rowsPerStrip, layout.height) * 4;
    error = CheckSize(layout.tiled ? "one tile" : "one strip", rasterBytes);
    if (!error.empty()) {
        return nullptr;
    }
    if (layout.tiled) {
        return std::make_unique<RgbaTileReader>(document, page, layout);
    }
    return std::make_unique<RgbaStripReader>(document, page,
                                             std::min(layout.rowsPerStrip, layout.height));
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

}  // namespace

std::unique_ptr<PageReader> PageReader::Open(const TiffDocument& document, std::string& error) {
    TIFF* tiff = document.handle();
    Layout layout;
    if (!ReadLayout(tiff, layout, error)) {
        return nullptr;
    }
    error = CheckDimensions(layout);
    if (error.empty()) {
        error = CheckStriles(tiff, document.size());
    }
    if (!error.empty()) {
        return nullptr;
    }
    // libtiff's JPEG codec converts YCbCr to RGB itself, including any subsampling.
    if (layout.compression == COMPRESSION_JPEG && layout.photometric == PHOTOMETRIC_YCBCR &&
        layout.planar == PLANARCONFIG_CONTIG) {
        TIFFSetField(tiff, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
        layout.photometric = PHOTOMETRIC_RGB;
    }
    auto converter = NativeConverter(tiff, layout);
    const JpegPage page{layout.width, layout.height, converter ? converter->components() : 3, 0,
                        ReadDensity(tiff)};
    error = CheckPageSize(tiff, layout, page.components);
    if (!error.empty()) {
        return nullptr;
    }
    if (converter) {
        return OpenNative(document, page, layout, std::move(*converter), error);
    }
    return OpenRgba(document, page, layout, error);
}

PageReader::PageReader(const TiffDocument& document, const JpegPage& page,
                       std::uint32_t bandHeight)
    : document_(document), page_(page), bandHeight_(bandHeight) {}

TIFF* PageReader::tiff() const { return document_.handle(); }

bool PageReader::Fail(const std::string& what) {
    const std::string& reason = document_.log().first();
    error_ = reason.empty() ? what : what + ": " + reason;
    return false;
}

bool PageReader::ReadRow(std::uint8_t* row) {
    if (nextRow_ >= page_.height) {
        error_ = "read past the last row";
        return false;
    }
    if (nextRow_ == bandEnd_) {
        const std::uint32_t rows = std::min(bandHeight_, page_.height - nextRow_);
        band_.resize(rowBytes() * bandHeight_);
        if (!LoadBand(nextRow_, rows, band_.data())) {
            return false;
        }
        bandStart_ = nextRow_;
        bandEnd_ = nextRow_ + rows;
    }
    std::memcpy(row, band_.data() + (nextRow_ - bandStart_) * rowBytes(), rowBytes());
    ++nextRow_;
    return true;
}

}  // namespace vellumax::converter
