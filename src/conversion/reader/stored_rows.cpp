#include "conversion/reader/stored_rows.h"

#include <algorithm>
#include <cstring>

namespace vellumax::reader {

namespace {

// A sample of a stored row: 1, 2 and 4-bit samples are packed from the high bit on; 16-bit
// ones come in the machine's byte order from libtiff.
std::uint32_t StoredSample(const std::uint8_t* row, std::uint64_t index, std::uint16_t bits) {
    if (bits == 8) {
        return row[index];
    }
    if (bits == 16) {
        std::uint16_t value = 0;
        std::memcpy(&value, row + 2 * index, sizeof value);
        return value;
    }
    const std::uint64_t bit = index * bits;
    return (row[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
}

std::uint8_t ToByte(std::uint32_t sample, std::uint16_t bits) {
    if (bits == 8) {
        return static_cast<std::uint8_t>(sample);
    }
    const std::uint32_t maximum = bits == 16 ? 65535 : (1u << bits) - 1;
    return static_cast<std::uint8_t>((sample * 255 + maximum / 2) / maximum);
}

// The colour map as 8-bit colours. Some writers store 8-bit values in the 16-bit map; like
// libtiff's own reader, a map with no value above 255 is taken as such.
std::vector<Rgb> PaletteColours(TIFF* tiff, std::uint16_t bits) {
    std::vector<Rgb> colours(std::size_t{1} << bits);
    std::uint16_t* maps[3] = {};
    if (!TIFFGetField(tiff, TIFFTAG_COLORMAP, &maps[0], &maps[1], &maps[2])) {
        return colours;
    }
    bool eightBit = true;
    for (const std::uint16_t* map : maps) {
        eightBit = eightBit && std::all_of(map, map + colours.size(),
                                           [](std::uint16_t value) { return value < 256; });
    }
    for (std::size_t index = 0; index < colours.size(); ++index) {
        for (std::size_t channel = 0; channel < 3; ++channel) {
            const std::uint16_t value = maps[channel][index];
            colours[index][channel] =
                static_cast<std::uint8_t>(eightBit ? value : (value * 255u + 32767) / 65535);
        }
    }
    return colours;
}

}  // namespace

StoredRows::StoredRows(TIFF* tiff, const PageLayout& layout)
    : tiff_(tiff), layout_(layout), rowBytes_(static_cast<std::size_t>(TIFFScanlineSize64(tiff))) {
    if (layout_.tiled) {
        tile_.resize(static_cast<std::size_t>(TIFFTileSize64(tiff)));
        band_.resize(rowBytes_ * layout_.blockRows);
    } else {
        band_.resize(rowBytes_);
    }
}

const std::uint8_t* StoredRows::Row(std::uint32_t row) {
    if (!layout_.tiled) {
        return TIFFReadScanline(tiff_, band_.data(), row, 0) < 0 ? nullptr : band_.data();
    }
    if (row % layout_.blockRows == 0 && !LoadTileRow(row)) {
        return nullptr;
    }
    return band_.data() + std::size_t{row % layout_.blockRows} * rowBytes_;
}

bool StoredRows::LoadTileRow(std::uint32_t top) {
    const std::uint64_t bitsPerPixel =
        std::uint64_t{layout_.bitsPerSample} * layout_.samplesPerPixel;
    const std::size_t tileRowBytes = static_cast<std::size_t>(TIFFTileRowSize64(tiff_));
    const std::uint32_t rows = std::min(layout_.blockRows, layout_.height - top);
    for (std::uint32_t x = 0; x < layout_.width; x += layout_.tileWidth) {
        if (TIFFReadTile(tiff_, tile_.data(), x, top, 0, 0) < 0) {
            return false;
        }
        const std::size_t start = static_cast<std::size_t>(x * bitsPerPixel / 8);
        const std::size_t bytes = std::min(tileRowBytes, rowBytes_ - start);
        for (std::uint32_t row = 0; row < rows; ++row) {
            std::memcpy(band_.data() + row * rowBytes_ + start, tile_.data() + row * tileRowBytes,
                        bytes);
        }
    }
    return true;
}

RowConverter::RowConverter(TIFF* tiff, const PageLayout& layout) : layout_(layout) {
    if (layout.kind == PageKind::Palette) {
        colours_ = PaletteColours(tiff, layout.bitsPerSample);
    }
}

void RowConverter::Convert(const std::uint8_t* stored, std::uint8_t* written) const {
    const std::uint16_t bits = layout_.bitsPerSample;
    const std::uint32_t width = layout_.width;
    switch (layout_.kind) {
        case PageKind::Bilevel:
            std::memcpy(written, stored, layout_.outputRowBytes());
            break;
        case PageKind::Grey: {
            const bool invert = layout_.photometric == PHOTOMETRIC_MINISWHITE;
            for (std::uint32_t x = 0; x < width; ++x) {
                const std::uint8_t value = ToByte(StoredSample(stored, x, bits), bits);
                written[x] = invert ? 255 - value : value;
            }
            break;
        }
        case PageKind::Palette:
            for (std::uint32_t x = 0; x < width; ++x) {
                const Rgb& colour = colours_[StoredSample(stored, x, bits)];
                std::memcpy(written + 3 * std::size_t{x}, colour.data(), 3);
            }
            break;
        case PageKind::Rgb: {
            // A JPEG page's samples come decoded to RGB, three to a pixel.
            const std::uint64_t samples = IsJpegYCbCr(layout_) ? 3 : layout_.samplesPerPixel;
            for (std::uint32_t x = 0; x < width; ++x) {
                for (std::uint64_t channel = 0; channel < 3; ++channel) {
                    written[3 * std::size_t{x} + channel] =
                        ToByte(StoredSample(stored, x * samples + channel, bits), bits);
                }
            }
            break;
        }
        case PageKind::Rendered:
            break;
    }
}

RenderedRows::RenderedRows(TIFF* tiff, const PageLayout& layout)
    : layout_(layout), bandRows_(RenderBandRows(layout)) {
    std::array<char, 1024> reason{};
    begun_ = TIFFRGBAImageBegin(&image_, tiff, 0, reason.data()) != 0;
    // Rows as stored: the orientation tag goes to the written page unchanged.
    image_.req_orientation = layout.orientation;
    pixels_.resize(std::size_t{layout.width} * bandRows_);
}

RenderedRows::~RenderedRows() {
    if (begun_) {
        TIFFRGBAImageEnd(&image_);
    }
}

bool RenderedRows::Row(std::uint32_t row, std::uint8_t* written) {
    if (!begun_) {
        return false;
    }
    if (row % bandRows_ == 0) {
        image_.row_offset = static_cast<int>(row);
        image_.col_offset = 0;
        const std::uint32_t rows = std::min(bandRows_, layout_.height - row);
        if (!TIFFRGBAImageGet(&image_, pixels_.data(), layout_.width, rows)) {
            return false;
        }
    }
    const std::uint32_t* pixel = pixels_.data() + std::size_t{row % bandRows_} * layout_.width;
    for (std::uint32_t x = 0; x < layout_.width; ++x, ++pixel) {
        const std::uint32_t paper = 255 - TIFFGetA(*pixel);
        written[3 * std::size_t{x}] = static_cast<std::uint8_t>(TIFFGetR(*pixel) + paper);
        written[3 * std::size_t{x} + 1] = static_cast<std::uint8_t>(TIFFGetG(*pixel) + paper);
        written[3 * std::size_t{x} + 2] = static_cast<std::uint8_t>(TIFFGetB(*pixel) + paper);
    }
    return true;
}

}  // namespace vellumax::reader
