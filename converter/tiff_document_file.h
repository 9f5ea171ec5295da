#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "page_converter.h"
#include "page_layout.h"
#include "temporary_file.h"

namespace vellumax::converter {

// Whether the current page is bi-level and stored as G4 in strips, whose coded data can then be
// copied as it is.
bool StoredAsG4Strips(TIFF* tiff);

// Hands `length` bytes of the file open on `descriptor`, from `offset` on, to `sink` a chunk
// at a time; the reason when that fails (the sink's own, or a short read), else "".
std::string CopyFileRange(int descriptor, std::uint64_t offset, std::uint64_t length,
                          const std::function<std::string(std::uint8_t*, std::size_t)>& sink);

// Decodes every row of the page `reader` reads and throws them away: coded data that is
// copied as it is gets decoded once all the same, so that damage to it is found (in the
// document's log) before it is copied. The reason when a row cannot be decoded, else "".
std::string DecodeWholePage(PageReader& reader);

// Writes the page `reader` reads into the current directory of `out` (width, height, samples,
// resolution and the pixels): bi-level pages as G4 with white as 0, grey and colour 8-bit with
// Deflate and the horizontal predictor. `rowsPerStrip` 0 picks strips of a bounded size.
std::string WriteReaderPage(PageReader& reader, TIFF* out, TiffErrorLog& log,
                            std::uint32_t rowsPerStrip = 0);

// "<stem>-all.tif" beside the input: every page in one TIFF, published only when every page
// converted.
class TiffDocumentFile : public DocumentFile {
public:
    explicit TiffDocumentFile(std::string inputPath);
    ~TiffDocumentFile() override;
    TiffDocumentFile(const TiffDocumentFile&) = delete;
    TiffDocumentFile& operator=(const TiffDocumentFile&) = delete;

    std::string Start() override;
    std::string AddPage(const TiffDocument& document) override;
    std::string Finish() override;

private:
    std::string CopyG4Strips(const TiffDocument& document, const Resolution& resolution);

    std::string inputPath_;
    TemporaryFile file_;
    TiffErrorLog log_;
    TIFF* out_ = nullptr;
};

}  // namespace vellumax::converter
