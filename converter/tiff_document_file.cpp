#include "tiff_document_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include <tiffio.h>
#include <unistd.h>

#include "folder_page_files.h"
#include "png_page_writer.h"
#include "tiff_page_reader.h"

namespace vellumax::converter {

namespace {

constexpr std::size_t kChunkBytes = 256 * 1024;
// Strips of about this many decoded bytes: small enough that no reader needs much memory for
// one, large enough that the strip tables stay short.
constexpr std::uint64_t kStripBytes = 512 * 1024;

std::string WithReason(const std::string& what, const TiffErrorLog& log) {
    return log.reason().empty() ? what : what + ": " + log.reason();
}

void SetResolution(TIFF* out, const Resolution& resolution) {
    if (resolution.known()) {
        TIFFSetField(out, TIFFTAG_XRESOLUTION, resolution.x);
        TIFFSetField(out, TIFFTAG_YRESOLUTION, resolution.y);
        TIFFSetField(out, TIFFTAG_RESOLUTIONUNIT, resolution.unit);
    }
}

}  // namespace

bool StoredAsG4Strips(TIFF* tiff) {
    Layout layout;
    std::string error;
    return ReadLayout(tiff, layout, error) && IsBilevel(layout) && !layout.tiled &&
           layout.compression == COMPRESSION_CCITTFAX4;
}

std::string CopyFileRange(int descriptor, std::uint64_t offset, std::uint64_t length,
                          const std::function<std::string(std::uint8_t*, std::size_t)>& sink) {
    std::vector<std::uint8_t> chunk(
        static_cast<std::size_t>(std::min<std::uint64_t>(length, kChunkBytes)));
    while (length > 0) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(length, chunk.size()));
        const ssize_t got = ::pread(descriptor, chunk.data(), want, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return got < 0 ? std::string("cannot read: ") + std::strerror(errno)
                           : "cannot read: the file ends early";
        }
        const std::string error = sink(chunk.data(), static_cast<std::size_t>(got));
        if (!error.empty()) {
            return error;
        }
        offset += static_cast<std::uint64_t>(got);
        length -= static_cast<std::uint64_t>(got);
    }
    return {};
}

std::string DecodeWholePage(PageReader& reader) {
    std::vector<std::uint8_t> row(std::size_t{reader.page().width} * reader.page().components);
    for (std::uint32_t y = 0; y < reader.page().height; ++y) {
        if (!reader.ReadRow(row.data())) {
            return reader.error();
        }
    }
    return {};
}

std::string WriteReaderPage(PageReader& reader, TIFF* out, TiffErrorLog& log,
                            std::uint32_t rowsPerStrip) {
    const JpegPage& page = reader.page();
    const bool bilevel = reader.bilevel();
    const std::size_t rowBytes = std::size_t{page.width} * page.components;
    const std::size_t storedRowBytes = bilevel ? (std::size_t{page.width} + 7) / 8 : rowBytes;
    if (rowsPerStrip == 0) {
        rowsPerStrip = static_cast<std::uint32_t>(
            std::clamp<std::uint64_t>(kStripBytes / storedRowBytes, 1, page.height));
    }
    TIFFSetField(out, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    TIFFSetField(out, TIFFTAG_IMAGEWIDTH, page.width);
    TIFFSetField(out, TIFFTAG_IMAGELENGTH, page.height);
    TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, bilevel ? 1 : 8);
    TIFFSetField(out, TIFFTAG_SAMPLESPERPIXEL, page.components);
    TIFFSetField(out, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
    TIFFSetField(out, TIFFTAG_PHOTOMETRIC,
                 bilevel                ? PHOTOMETRIC_MINISWHITE
                 : page.components == 1 ? PHOTOMETRIC_MINISBLACK
                                        : PHOTOMETRIC_RGB);
    if (bilevel) {
        TIFFSetField(out, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    } else {
        TIFFSetField(out, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
        TIFFSetField(out, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
        // Three times as fast as zlib's default level on scanned pages and the colour samples,
        // for files 4 % larger at most.
        TIFFSetField(out, TIFFTAG_ZIPQUALITY, 3);
    }
    SetResolution(out, reader.resolution());
    // libtiff would otherwise keep a whole strip's coded data, which for a page written as one
    // strip is as large as the page.
    if (!TIFFWriteBufferSetup(out, nullptr, static_cast<tmsize_t>(kChunkBytes))) {
        return WithReason("cannot start the page", log);
    }
    std::vector<std::uint8_t> row(rowBytes);
    for (std::uint32_t y = 0; y < page.height; ++y) {
        if (!reader.ReadRow(row.data())) {
            return reader.error();
        }
        if (bilevel) {
            PackBilevelRow(row.data(), page.width, row.data(), false);
        }
        if (TIFFWriteScanline(out, row.data(), y, 0) < 0) {
            return WithReason("cannot write row " + std::to_string(y + 1), log);
        }
    }
    return {};
}

TiffDocumentFile::TiffDocumentFile(std::string inputPath) : inputPath_(std::move(inputPath)) {}

TiffDocumentFile::~TiffDocumentFile() {
    if (out_ != nullptr) {
        TIFFClose(out_);
    }
}

std::string TiffDocumentFile::Start() {
    std::string error;
    if (!file_.Create(OutputFolder(inputPath_), "all", error)) {
        return error;
    }
    const int descriptor = file_.ReleaseDescriptor();
    out_ = descriptor < 0 ? nullptr : OpenTiffForWriting(descriptor, file_.path(), log_);
    if (out_ == nullptr) {
        if (descriptor >= 0) {
            ::close(descriptor);
        }
        file_.Discard();
        return WithReason("cannot write " + OutputPath(inputPath_, "-all.tif").string(), log_);
    }
    return {};
}

std::string TiffDocumentFile::CopyG4Strips(const TiffDocument& document,
                                           const Resolution& resolution) {
    TIFF* in = document.handle();
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t rowsPerStrip = 0;
    std::uint16_t photometric = PHOTOMETRIC_MINISWHITE;
    std::uint16_t fillOrder = FILLORDER_MSB2LSB;
    std::uint32_t options = 0;
    TIFFGetField(in, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(in, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetField(in, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetFieldDefaulted(in, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    TIFFGetFieldDefaulted(in, TIFFTAG_FILLORDER, &fillOrder);
    TIFFGetFieldDefaulted(in, TIFFTAG_GROUP4OPTIONS, &options);
    TIFFSetField(out_, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    TIFFSetField(out_, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(out_, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(out_, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(out_, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(out_, TIFFTAG_PHOTOMETRIC, photometric);
    TIFFSetField(out_, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    TIFFSetField(out_, TIFFTAG_GROUP4OPTIONS, options);
    // The coded bytes keep their bit order, so the tag saying which it is goes with them.
    TIFFSetField(out_, TIFFTAG_FILLORDER, fillOrder);
    TIFFSetField(out_, TIFFTAG_ROWSPERSTRIP, std::min(rowsPerStrip, height));
    SetResolution(out_, resolution);
    const std::uint32_t strips = TIFFNumberOfStrips(in);
    for (std::uint32_t strip = 0; strip < strips; ++strip) {
        const std::uint64_t bytes = TIFFGetStrileByteCount(in, strip);
        if (bytes == 0) {
            return "strip " + std::to_string(strip + 1) + " holds no data";
        }
        const std::string error = CopyFileRange(
            TIFFFileno(in), TIFFGetStrileOffset(in, strip), bytes,
            [this, strip](std::uint8_t* data, std::size_t size) -> std::string {
                // A strip written again continues where it stopped.
                if (TIFFWriteRawStrip(out_, strip, data, static_cast<tmsize_t>(size)) < 0) {
                    return WithReason("cannot write strip " + std::to_string(strip + 1), log_);
                }
                return {};
            });
        if (!error.empty()) {
            return error;
        }
    }
    return {};
}

std::string TiffDocumentFile::AddPage(const TiffDocument& document) {
    log_.Clear();
    std::string error;
    // Opened also for pages copied as they are: it checks their sizes against the limits.
    const auto reader = PageReader::Open(document, error);
    if (!reader) {
        return error;
    }
    if (reader->bilevel() && StoredAsG4Strips(document.handle())) {
        error = DecodeWholePage(*reader);
        if (error.empty()) {
            error = CopyG4Strips(document, reader->resolution());
        }
    } else {
        error = WriteReaderPage(*reader, out_, log_);
    }
    if (!error.empty()) {
        return error;
    }
    if (!TIFFWriteDirectory(out_)) {
        return WithReason("cannot write the page", log_);
    }
    return {};
}

std::string TiffDocumentFile::Finish() {
    const std::string target = OutputPath(inputPath_, "-all.tif").string();
    log_.Clear();
    TIFFClose(std::exchange(out_, nullptr));
    if (!log_.first().empty()) {
        file_.Discard();
        return "cannot write " + target + ": " + log_.first();
    }
    return file_.Publish(target);
}

}  // namespace vellumax::converter
