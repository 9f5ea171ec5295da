#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include <tiffio.h>

#include "jpeg_page_writer.h"
#include "sample_converter.h"

namespace vellumax::converter {

// What one page declares about itself, read before any pixel is decoded.
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

bool ReadLayout(TIFF* tiff, Layout& layout, std::string& error);

// Each check gives "" when the page passes, else the reason to refuse it.
std::string CheckSize(const std::string& what, std::uint64_t bytes);
std::string CheckDimensions(const Layout& layout);
// Also gives the largest strip or tile's compressed length, which libtiff reads whole.
std::string CheckStriles(TIFF* tiff, std::uint64_t fileSize, std::uint64_t& largest);
std::string CheckPageSize(TIFF* tiff, const Layout& layout, int components);

Density ReadDensity(TIFF* tiff);

// The resolution as stored, for formats that carry it more finely than JFIF.
struct Resolution {
    float x = 0;
    float y = 0;
    std::uint16_t unit = RESUNIT_NONE;
    bool known() const { return x > 0 && y > 0; }
    // Pixels per inch across and down, or nothing without a known unit.
    std::optional<std::pair<double, double>> PerInch() const;
};

Resolution ReadResolution(TIFF* tiff);

// One sample of one bit, black and white: the pages fax codes and 1-bit outputs are for.
bool IsBilevel(const Layout& layout);

// The converter for the kinds decoded from libtiff's own rows; nothing for the rest, which
// go through libtiff's RGBA reader.
std::optional<SampleConverter> NativeConverter(TIFF* tiff, const Layout& layout);

}  // namespace vellumax::converter
