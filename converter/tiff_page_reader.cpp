#include "tiff_page_reader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <string_view>

#include <tiffio.h>

#include "data_damage.h"
#include "page_converter.h"
#include "page_layout.h"
#include "sample_converter.h"

namespace vellumax::converter {

namespace {

// Contiguous strips, decoded one scanline at a time: libtiff keeps only the compressed strip.
class ScanlineReader : public PageReader {
public:
    ScanlineReader(const TiffDocument& document, const JpegPage& page, SampleConverter converter,
                   std::size_t scanlineBytes)
        : PageReader(document, page, 1),
          converter_(std::move(converter)),
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
    StripPlanesReader(const TiffDocument& document, const JpegPage& page, SampleConverter converter,
                      std::uint32_t rowsPerStrip, std::size_t planeRowBytes)
        : PageReader(document, page, rowsPerStrip),
          converter_(std::move(converter)),
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
          converter_(std::move(converter)),
          tileWidth_(layout.tileWidth),
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
                converter_.Convert(
                    planes.data(), pixels,
                    band + row * rowBytes() + std::size_t{column} * page().components);
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
        out[0] =
            static_cast<std::uint8_t>(std::min(255, static_cast<int>(TIFFGetR(pixel)) + paper));
        out[1] =
            static_cast<std::uint8_t>(std::min(255, static_cast<int>(TIFFGetG(pixel)) + paper));
        out[2] =
            static_cast<std::uint8_t>(std::min(255, static_cast<int>(TIFFGetB(pixel)) + paper));
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
          tileWidth_(layout.tileWidth),
          tileHeight_(layout.tileHeight),
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

// Each reader's buffers are held to the limit together with the compressed strip or tile
// libtiff reads whole beside them.
std::unique_ptr<PageReader> OpenNative(const TiffDocument& document, const JpegPage& page,
                                       const Layout& layout, SampleConverter converter,
                                       std::uint64_t compressed, std::string& error) {
    TIFF* tiff = document.handle();
    const std::uint64_t bandBytes = std::uint64_t{page.width} * page.components *
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
        error = CheckSize("one row of tiles", compressed + std::max(planes * tileBytes, bandBytes));
        if (!error.empty()) {
            return nullptr;
        }
        return std::make_unique<TileReader>(document, page, std::move(converter), layout, tileBytes,
                                            tileRowBytes);
    }
    const std::uint64_t scanlineBytes = TIFFScanlineSize64(tiff);
    if (scanlineBytes == 0) {
        error = "the page's row size is invalid";
        return nullptr;
    }
    if (layout.planar != PLANARCONFIG_SEPARATE) {
        error = CheckSize("one strip", compressed + std::max(scanlineBytes, bandBytes));
        if (!error.empty()) {
            return nullptr;
        }
        return std::make_unique<ScanlineReader>(document, page, std::move(converter),
                                                scanlineBytes);
    }
    const std::uint32_t rows = std::min(layout.rowsPerStrip, layout.height);
    const std::uint64_t planes = converter.planesNeeded();
    error = CheckSize("one strip", compressed + std::max(planes * scanlineBytes * rows, bandBytes));
    if (!error.empty()) {
        return nullptr;
    }
    return std::make_unique<StripPlanesReader>(document, page, std::move(converter), rows,
                                               scanlineBytes);
}

std::unique_ptr<PageReader> OpenRgba(const TiffDocument& document, JpegPage page,
                                     const Layout& layout, std::uint64_t compressed,
                                     std::string& error) {
    char reason[1024] = "";
    if (!TIFFRGBAImageOK(document.handle(), reason)) {
        error = std::string("this kind of page cannot be converted: ") + reason;
        return nullptr;
    }
    page.components = 3;
    const std::uint64_t rasterBytes =
        layout.tiled
            ? std::uint64_t{layout.tileWidth} * layout.tileHeight * 4
            : std::uint64_t{layout.width} * std::min(layout.rowsPerStrip, layout.height) * 4;
    // libtiff decodes the whole strip or tile before it is turned into the raster.
    const std::uint64_t decodedBytes =
        layout.tiled ? TIFFTileSize64(document.handle()) : TIFFStripSize64(document.handle());
    error =
        CheckSize(layout.tiled ? "one tile" : "one strip", compressed + decodedBytes + rasterBytes);
    if (!error.empty()) {
        return nullptr;
    }
    if (layout.tiled) {
        return std::make_unique<RgbaTileReader>(document, page, layout);
    }
    return std::make_unique<RgbaStripReader>(document, page,
                                             std::min(layout.rowsPerStrip, layout.height));
}

}  // namespace

std::unique_ptr<PageReader> PageReader::Open(const TiffDocument& document, std::string& error) {
    document.log().Clear();  // what libtiff said of earlier pages is no reason for this one
    TIFF* tiff = document.handle();
    Layout layout;
    if (!ReadLayout(tiff, layout, error)) {
        return nullptr;
    }
    error = CheckDimensions(layout);
    std::uint64_t compressed = 0;  // the largest strip or tile as read
    if (error.empty()) {
        error = CheckStriles(tiff, document.size(), compressed);
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
    auto reader = converter
                      ? OpenNative(document, page, layout, std::move(*converter), compressed, error)
                      : OpenRgba(document, page, layout, compressed, error);
    if (reader) {
        reader->bilevel_ = IsBilevel(layout) && page.components == 1;
        reader->resolution_ = ReadResolution(tiff);
        document.log().StartDecoding();
        const char* description = nullptr;
        if (TIFFGetField(tiff, TIFFTAG_IMAGEDESCRIPTION, &description) && description != nullptr &&
            std::string_view(description).starts_with(kDamageNote)) {
            document.log().NoteDamage(description + kDamageNote.size());
        }
    }
    return reader;
}

PageReader::PageReader(const TiffDocument& document, const JpegPage& page, std::uint32_t bandHeight)
    : document_(document), page_(page), bandHeight_(bandHeight) {}

TIFF* PageReader::tiff() const {
    return document_.handle();
}

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
