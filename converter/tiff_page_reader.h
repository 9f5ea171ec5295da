#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "jpeg_page_writer.h"
#include "page_layout.h"

typedef struct tiff TIFF;

namespace vellumax::converter {

class TiffDocument;

// Reads the current page of a document top-down as 8-bit grey or RGB rows, holding one band
// of rows at a time (a strip, a row of tiles, or a single scanline) rather than the page.
class PageReader {
public:
    // The reader for the current page, or nullptr with the reason in `error`. Refuses pages
    // whose declared sizes do not fit the limits or the file before anything is allocated.
    // From its opening on, the document's log keeps what libtiff says of damage to the page's
    // data, and the damage the document reader noted in the page.
    static std::unique_ptr<PageReader> Open(const TiffDocument& document, std::string& error);

    virtual ~PageReader() = default;

    // Size, colour type and resolution; the quality is left to the caller.
    const JpegPage& page() const { return page_; }
    // One bit a pixel, black and white: its rows hold only 0 and 255.
    bool bilevel() const { return bilevel_; }
    const Resolution& resolution() const { return resolution_; }
    // Fills `row` (width * components bytes) with the next row, or says why it cannot.
    bool ReadRow(std::uint8_t* row);
    const std::string& error() const { return error_; }

protected:
    PageReader(const TiffDocument& document, const JpegPage& page, std::uint32_t bandHeight);
    // Decodes `rows` rows from `firstRow` on into `band`, width * components bytes a row.
    virtual bool LoadBand(std::uint32_t firstRow, std::uint32_t rows, std::uint8_t* band) = 0;
    // Records the failure, with libtiff's own reason when it gave one; returns false.
    bool Fail(const std::string& what);
    TIFF* tiff() const;
    std::size_t rowBytes() const { return std::size_t{page_.width} * page_.components; }

private:
    const TiffDocument& document_;
    JpegPage page_;
    std::uint32_t bandHeight_;
    std::vector<std::uint8_t> band_;
    std::uint32_t bandStart_ = 0;
    std::uint32_t bandEnd_ = 0;
    std::uint32_t nextRow_ = 0;
    std::string error_;
    bool bilevel_ = false;
    Resolution resolution_;
};

}  // namespace vellumax::converter
