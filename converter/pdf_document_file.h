#pragma once

#include <memory>
#include <string>

#include "page_converter.h"
#include "temporary_file.h"

class QPDF;

namespace vellumax::converter {

class PageDataProvider;

// "<stem>-all.pdf" beside the input: one PDF page a page, each an image of the page's size at
// its resolution (200 dpi when it has none). Colour and grey pages go in as JPEG, bi-level ones
// as G4, both as coded here and never recoded by the PDF library. Each page's coded image goes
// to a data file beside the input as it is made; the library reads it from there when the
// PDF is written, so no page stays in memory. Published only when every page converted.
class PdfDocumentFile : public DocumentFile {
public:
    PdfDocumentFile(std::string inputPath, int quality);
    ~PdfDocumentFile() override;
    PdfDocumentFile(const PdfDocumentFile&) = delete;
    PdfDocumentFile& operator=(const PdfDocumentFile&) = delete;

    std::string Start() override;
    std::string AddPage(const TiffDocument& document) override;
    std::string Finish() override;

private:
    std::string AppendStoredG4(const TiffDocument& document);
    std::string AppendEncodedG4(PageReader& reader);
    std::string Append(const std::uint8_t* data, std::size_t size);

    std::string inputPath_;
    int quality_;
    TemporaryFile data_;
    TemporaryFile output_;
    std::unique_ptr<QPDF> pdf_;
    std::shared_ptr<PageDataProvider> provider_;
};

}  // namespace vellumax::converter
