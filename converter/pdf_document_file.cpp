#include "pdf_document_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <map>
#include <stdexcept>
#include <tuple>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <tiffio.h>
#include <unistd.h>
#include <qpdf/Pipeline.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include "folder_page_files.h"
#include "tiff_document_file.h"
#include "tiff_page_reader.h"

namespace vellumax::converter {

// Serves each image's coded bytes from the data file, a chunk at a time.
class PageDataProvider : public QPDFObjectHandle::StreamDataProvider {
public:
    explicit PageDataProvider(int descriptor) : descriptor_(descriptor) {}

    void Add(QPDFObjGen image, std::uint64_t offset, std::uint64_t length) {
        ranges_[image] = {offset, length};
    }

    void provideStreamData(QPDFObjGen const& image, Pipeline* pipeline) override {
        const auto range = ranges_.find(image);
        if (range == ranges_.end()) {
            throw std::logic_error("an image without data");
        }
        const std::string error =
            CopyFileRange(descriptor_, range->second.first, range->second.second,
                          [pipeline](std::uint8_t* data, std::size_t size) -> std::string {
                              pipeline->write(data, size);
                              return {};
                          });
        if (!error.empty()) {
            throw std::runtime_error("the page data: " + error);
        }
        pipeline->finish();
    }

private:
    int descriptor_;
    std::map<QPDFObjGen, std::pair<std::uint64_t, std::uint64_t>> ranges_;
};

namespace {

constexpr double kDefaultDpi = 200;

std::string Number(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.6f", value);
    return text;
}

QPDFObjectHandle Real(double value) {
    return QPDFObjectHandle::newReal(Number(value));
}

// Whether a reader of PDF files takes the page's G4 data as it is stored: one strip of it,
// most significant bit first or turned so, without uncompressed runs, which PDF's fax filter
// need not read.
bool PdfTakesAsStored(TIFF* tiff) {
    std::uint32_t options = 0;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_GROUP4OPTIONS, &options);
    return StoredAsG4Strips(tiff) && TIFFNumberOfStrips(tiff) == 1 &&
           (options & GROUP4OPT_UNCOMPRESSED) == 0;
}

}  // namespace

PdfDocumentFile::PdfDocumentFile(std::string inputPath, int quality)
    : inputPath_(std::move(inputPath)), quality_(quality), pdf_(std::make_unique<QPDF>()) {}

PdfDocumentFile::~PdfDocumentFile() = default;

std::string PdfDocumentFile::Start() {
    std::string error;
    const auto folder = OutputFolder(inputPath_);
    if (!data_.Create(folder, "data", error) || !output_.Create(folder, "all", error)) {
        return error;
    }
    try {
        pdf_->emptyPDF();
        pdf_->setSuppressWarnings(true);
    } catch (const std::exception& exception) {
        return std::string("cannot start the PDF: ") + exception.what();
    }
    provider_ = std::make_shared<PageDataProvider>(fileno(data_.stream()));
    return {};
}

std::string PdfDocumentFile::Append(const std::uint8_t* data, std::size_t size) {
    if (std::fwrite(data, 1, size, data_.stream()) != size) {
        return std::string("cannot write the page data: ") + std::strerror(errno);
    }
    return {};
}

std::string PdfDocumentFile::AppendStoredG4(const TiffDocument& document) {
    TIFF* tiff = document.handle();
    std::uint16_t fillOrder = FILLORDER_MSB2LSB;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_FILLORDER, &fillOrder);
    const bool reverse = fillOrder == FILLORDER_LSB2MSB;
    const std::uint64_t bytes = TIFFGetStrileByteCount(tiff, 0);
    if (bytes == 0) {
        return "strip 1 holds no data";
    }
    return CopyFileRange(TIFFFileno(tiff), TIFFGetStrileOffset(tiff, 0), bytes,
                         [this, reverse](std::uint8_t* data, std::size_t size) {
                             if (reverse) {
                                 TIFFReverseBits(data, static_cast<tmsize_t>(size));
                             }
                             return Append(data, size);
                         });
}

// libtiff's fax encoder is the one at hand: the page goes as a single G4 strip into a TIFF of
// its own beside the input, and the strip is then appended to the data file.
std::string PdfDocumentFile::AppendEncodedG4(PageReader& reader) {
    TemporaryFile encoded;
    std::string error;
    if (!encoded.Create(OutputFolder(inputPath_), "g4", error)) {
        return error;
    }
    TiffErrorLog log;
    const int descriptor = encoded.ReleaseDescriptor();
    TIFF* tiff = descriptor < 0 ? nullptr : OpenTiffForWriting(descriptor, encoded.path(), log);
    if (tiff == nullptr) {
        if (descriptor >= 0) {
            ::close(descriptor);
        }
        return "cannot encode the page as G4" + (log.reason().empty() ? "" : ": " + log.reason());
    }
    error = WriteReaderPage(reader, tiff, log, reader.page().height);
    // Ends the coded data (and flushes what is left of it) so the strip's place is known.
    if (error.empty() && !TIFFFlushData(tiff)) {
        error = "cannot encode the page as G4" + (log.reason().empty() ? "" : ": " + log.reason());
    }
    const std::uint64_t offset = error.empty() ? TIFFGetStrileOffset(tiff, 0) : 0;
    const std::uint64_t bytes = error.empty() ? TIFFGetStrileByteCount(tiff, 0) : 0;
    TIFFClose(tiff);
    if (!error.empty()) {
        return error;
    }
    const int in = ::open(encoded.path().c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        return "cannot read the page encoded as G4: " + std::string(std::strerror(errno));
    }
    error = CopyFileRange(in, offset, bytes, [this](std::uint8_t* data, std::size_t size) {
        return Append(data, size);
    });
    ::close(in);
    return error;
}

std::string PdfDocumentFile::AddPage(const TiffDocument& document) {
    std::string error;
    const auto reader = PageReader::Open(document, error);
    if (!reader) {
        return error;
    }
    const JpegPage& page = reader->page();
    std::FILE* data = data_.stream();
    const long start = std::ftell(data);
    QPDFObjectHandle filter;
    QPDFObjectHandle parameters = QPDFObjectHandle::newNull();
    QPDFObjectHandle image = QPDFObjectHandle::newStream(pdf_.get());
    QPDFObjectHandle dictionary = image.getDict();
    dictionary.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
    dictionary.replaceKey("/Subtype", QPDFObjectHandle::newName("/Image"));
    dictionary.replaceKey("/Width", QPDFObjectHandle::newInteger(page.width));
    dictionary.replaceKey("/Height", QPDFObjectHandle::newInteger(page.height));
    dictionary.replaceKey("/ColorSpace", QPDFObjectHandle::newName(
                                             page.components == 1 ? "/DeviceGray" : "/DeviceRGB"));
    if (reader->bilevel()) {
        TIFF* tiff = document.handle();
        std::uint16_t photometric = PHOTOMETRIC_MINISWHITE;
        bool blackIsOne = false;  // as written by our own encoder
        if (PdfTakesAsStored(tiff)) {
            TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
            // The fax codes name black and white runs; a page whose 1 bits are white shows its
            // "black" runs as white.
            blackIsOne = photometric == PHOTOMETRIC_MINISBLACK;
            error = DecodeWholePage(*reader);
            if (error.empty()) {
                error = AppendStoredG4(document);
            }
        } else {
            error = AppendEncodedG4(*reader);
        }
        dictionary.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(1));
        filter = QPDFObjectHandle::newName("/CCITTFaxDecode");
        parameters = QPDFObjectHandle::newDictionary();
        parameters.replaceKey("/K", QPDFObjectHandle::newInteger(-1));
        parameters.replaceKey("/Columns", QPDFObjectHandle::newInteger(page.width));
        parameters.replaceKey("/Rows", QPDFObjectHandle::newInteger(page.height));
        parameters.replaceKey("/BlackIs1", QPDFObjectHandle::newBool(blackIsOne));
    } else {
        // The same bytes the page would have as a JPEG file of its own.
        error = EncodeJpeg(*reader, quality_, data);
        dictionary.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(8));
        filter = QPDFObjectHandle::newName("/DCTDecode");
    }
    if (!error.empty()) {
        return error;
    }
    const long end = std::ftell(data);
    if (start < 0 || end < start || std::ferror(data)) {
        return std::string("cannot write the page data: ") + std::strerror(errno);
    }
    image.replaceStreamData(provider_, filter, parameters);
    provider_->Add(image.getObjGen(), static_cast<std::uint64_t>(start),
                   static_cast<std::uint64_t>(end - start));

    double dpiX = kDefaultDpi;
    double dpiY = kDefaultDpi;
    if (const auto perInch = reader->resolution().PerInch()) {
        std::tie(dpiX, dpiY) = *perInch;
    }
    const double width = page.width * 72.0 / dpiX;
    const double height = page.height * 72.0 / dpiY;
    const QPDFObjectHandle contents = QPDFObjectHandle::newStream(
        pdf_.get(), "q " + Number(width) + " 0 0 " + Number(height) + " 0 0 cm /Im0 Do Q\n");
    QPDFObjectHandle images = QPDFObjectHandle::newDictionary();
    images.replaceKey("/Im0", image);
    QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
    resources.replaceKey("/XObject", images);
    QPDFObjectHandle pageObject = QPDFObjectHandle::newDictionary();
    pageObject.replaceKey("/Type", QPDFObjectHandle::newName("/Page"));
    pageObject.replaceKey("/MediaBox", QPDFObjectHandle::newArray(std::vector<QPDFObjectHandle>{
                                           Real(0), Real(0), Real(width), Real(height)}));
    pageObject.replaceKey("/Resources", resources);
    pageObject.replaceKey("/Contents", contents);
    QPDFPageDocumentHelper(*pdf_).addPage(pdf_->makeIndirectObject(pageObject), false);
    return {};
}

std::string PdfDocumentFile::Finish() {
    const std::string target = OutputPath(inputPath_, "-all.pdf").string();
    if (std::fflush(data_.stream()) != 0 || std::ferror(data_.stream())) {
        return std::string("cannot write the page data: ") + std::strerror(errno);
    }
    try {
        QPDFWriter writer(*pdf_);
        writer.setOutputFile(target.c_str(), output_.stream(), false);
        // Images go out exactly as coded; only the small page contents are compressed.
        writer.setDecodeLevel(qpdf_dl_none);
        writer.setCompressStreams(true);
        writer.write();
    } catch (const std::exception& exception) {
        return "cannot write " + target + ": " + exception.what();
    }
    data_.Discard();
    return output_.Publish(target);
}

}  // namespace vellumax::converter
