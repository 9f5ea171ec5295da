#pragma once

#include <tiffio.h>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "conversion/reader/page_limits.h"

namespace vellumax::reader {

using Rgb = std::array<std::uint8_t, 3>;

// Hands out the stored rows of a page top to bottom: a scanline at a time from strips, which
// keeps memory to libtiff's strip buffer, or a band of one tile row from tiles.
class StoredRows {
public:
    StoredRows(TIFF* tiff, const PageLayout& layout);

    // The row, or nullptr when libtiff could not decode it. Rows are asked for in order.
    const std::uint8_t* Row(std::uint32_t row);

private:
    bool LoadTileRow(std::uint32_t top);

    TIFF* tiff_;
    PageLayout layout_;
    std::size_t rowBytes_;
    std::vector<std::uint8_t> tile_;
    std::vector<std::uint8_t> band_;
};

// Turns stored rows into written rows for the kinds read directly.
class RowConverter {
public:
    RowConverter(TIFF* tiff, const PageLayout& layout);

    void Convert(const std::uint8_t* stored, std::uint8_t* written) const;

private:
    PageLayout layout_;
    std::vector<Rgb> colours_;
};

// The unusual pixel forms through libtiff's RGBA reader, a band of rows at a time, as RGB over
// white paper. libtiff's RGBA pixels carry premultiplied alpha. The reader decodes every strip
// or tile a band touches, so bands hold whole ones: a page in one strip is decoded once, not
// once a band.
class RenderedRows {
public:
    RenderedRows(TIFF* tiff, const PageLayout& layout);
    RenderedRows(const RenderedRows&) = delete;
    RenderedRows& operator=(const RenderedRows&) = delete;
    ~RenderedRows();

    bool Row(std::uint32_t row, std::uint8_t* written);

private:
    PageLayout layout_;
    std::uint32_t bandRows_;
    TIFFRGBAImage image_{};
    bool begun_ = false;
    std::vector<std::uint32_t> pixels_;
};

}  // namespace vellumax::reader
