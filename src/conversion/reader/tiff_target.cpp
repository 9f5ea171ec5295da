#include "conversion/reader/tiff_target.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "conversion/reader/reader_failures.h"

namespace vellumax::reader {

namespace {

// Decoded bytes in one written strip, so that no reader of the result needs a page in memory.
constexpr std::uint64_t kStripBytes = 256 * 1024;

// The compressions the page converter reads itself, so that their strips can go over as stored.
// Uncompressed strips are written compressed instead: a page that declares a gibibyte of them
// may be a hole in a sparse file, or one block that every strip points at.
constexpr std::array kCopiedCompressions = {
    COMPRESSION_CCITTRLE, COMPRESSION_CCITTFAX3,     COMPRESSION_CCITTFAX4, COMPRESSION_LZW,
    COMPRESSION_PACKBITS, COMPRESSION_ADOBE_DEFLATE, COMPRESSION_DEFLATE};

// Classic TIFF addresses its file with 32-bit offsets.
constexpr std::uint64_t kClassicTiffBytes = std::uint64_t{1} << 32;

// Resolutions go over only when a rational can carry them; a wild value is dropped.
void CopyResolution(TIFF* in, TIFF* out) {
    for (const ttag_t tag : {TIFFTAG_XRESOLUTION, TIFFTAG_YRESOLUTION}) {
        float value = 0;
        if (TIFFGetField(in, tag, &value) && std::isfinite(value) && value > 0 && value < 1e7f) {
            TIFFSetField(out, tag, static_cast<double>(value));
        }
    }
    std::uint16_t unit = 0;
    if (TIFFGetField(in, TIFFTAG_RESOLUTIONUNIT, &unit)) {
        TIFFSetField(out, TIFFTAG_RESOLUTIONUNIT, unit);
    }
}

void CopyTag16(TIFF* in, TIFF* out, ttag_t tag) {
    std::uint16_t value = 0;
    if (TIFFGetField(in, tag, &value)) {
        TIFFSetField(out, tag, value);
    }
}

void CopyTag32(TIFF* in, TIFF* out, ttag_t tag) {
    std::uint32_t value = 0;
    if (TIFFGetField(in, tag, &value)) {
        TIFFSetField(out, tag, value);
    }
}

bool WriteCopiedPageTags(TIFF* in, TIFF* out, const PageLayout& layout, int page, int pageCount) {
    const bool written = TIFFSetField(out, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE) &&
                         TIFFSetField(out, TIFFTAG_IMAGEWIDTH, layout.width) &&
                         TIFFSetField(out, TIFFTAG_IMAGELENGTH, layout.height) &&
                         TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, layout.bitsPerSample) &&
                         TIFFSetField(out, TIFFTAG_SAMPLESPERPIXEL, layout.samplesPerPixel) &&
                         TIFFSetField(out, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
                         TIFFSetField(out, TIFFTAG_PHOTOMETRIC, layout.photometric) &&
                         TIFFSetField(out, TIFFTAG_COMPRESSION, layout.compression) &&
                         TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, layout.blockRows) &&
                         TIFFSetField(out, TIFFTAG_ORIENTATION, layout.orientation) &&
                         TIFFSetField(out, TIFFTAG_PAGENUMBER, page - 1, pageCount);
    CopyTag16(in, out, TIFFTAG_FILLORDER);
    CopyTag16(in, out, TIFFTAG_PREDICTOR);
    CopyTag32(in, out, TIFFTAG_T4OPTIONS);
    CopyTag32(in, out, TIFFTAG_T6OPTIONS);
    CopyResolution(in, out);
    return written;
}

}  // namespace

TargetWriting::TargetWriting(int descriptor, const std::string& name, std::uint64_t plainBytes,
                             std::uint64_t limit, std::uint64_t sourceBytesOnDisk)
    : stream_{descriptor, 0, true, false, 0, 0, limit},
      messages_(name),
      plainBytes_(plainBytes),
      sourceBytesOnDisk_(sourceBytesOnDisk),
      tiff_(OpenTiff(name, limit >= kClassicTiffBytes ? "wl8" : "wl", stream_, messages_),
            &TIFFClose) {}

bool TargetWriting::Compresses(const PageLayout& layout) const {
    // Each page's directory is written before the next page starts: the end of the file is
    // where the data written so far ends.
    const std::uint64_t decoded = layout.outputRowBytes() * layout.height;
    return stream_.end > plainBytes_ || decoded > plainBytes_ - stream_.end;
}

bool TargetWriting::Finish() {
    tiff_.reset();  // writes whatever libtiff still holds
    return stream_.systemError == 0 && !stream_.overLimit && !messages_.hasError();
}

ReaderFailure TargetWriting::Failure() const {
    if (stream_.overLimit) {
        return TooLarge(Text("page ", page_, " would take the converted document past ",
                             SizeText(stream_.limit), ", the most a document of ",
                             SizeText(sourceBytesOnDisk_), " on disk may take"));
    }
    if (stream_.systemError != 0) {
        return AccessError(SystemReason(stream_.systemError, FileAccess::Write));
    }
    return AccessError(messages_.Reason("the converted document cannot be written"));
}

bool WritePageTags(TIFF* in, TIFF* out, const PageLayout& layout, int page, int pageCount,
                   bool compressed) {
    const bool bilevel = layout.kind == PageKind::Bilevel;
    const std::uint16_t photometric = bilevel                         ? layout.photometric
                                      : layout.kind == PageKind::Grey ? PHOTOMETRIC_MINISBLACK
                                                                      : PHOTOMETRIC_RGB;
    const auto rowsPerStrip = static_cast<std::uint32_t>(
        std::clamp<std::uint64_t>(kStripBytes / layout.outputRowBytes(), 1, layout.height));
    const std::uint16_t compression = bilevel      ? COMPRESSION_CCITTFAX4
                                      : compressed ? WrittenCompression()
                                                   : COMPRESSION_NONE;
    bool written = TIFFSetField(out, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE) &&
                   TIFFSetField(out, TIFFTAG_IMAGEWIDTH, layout.width) &&
                   TIFFSetField(out, TIFFTAG_IMAGELENGTH, layout.height) &&
                   TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, layout.outputBits()) &&
                   TIFFSetField(out, TIFFTAG_SAMPLESPERPIXEL, layout.outputSamples()) &&
                   TIFFSetField(out, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
                   TIFFSetField(out, TIFFTAG_PHOTOMETRIC, photometric) &&
                   TIFFSetField(out, TIFFTAG_COMPRESSION, compression) &&
                   TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, rowsPerStrip) &&
                   TIFFSetField(out, TIFFTAG_ORIENTATION, layout.orientation) &&
                   TIFFSetField(out, TIFFTAG_PAGENUMBER, page - 1, pageCount);
    if (compression == COMPRESSION_ZSTD) {
        written = written && TIFFSetField(out, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL) &&
                  TIFFSetField(out, TIFFTAG_ZSTD_LEVEL, 1);
    } else if (compression == COMPRESSION_ADOBE_DEFLATE) {
        written = written && TIFFSetField(out, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL) &&
                  TIFFSetField(out, TIFFTAG_ZIPQUALITY, 1);
    }
    CopyResolution(in, out);
    return written;
}

std::uint16_t WrittenCompression() {
    static const std::uint16_t compression =
        TIFFIsCODECConfigured(COMPRESSION_ZSTD) ? COMPRESSION_ZSTD : COMPRESSION_ADOBE_DEFLATE;
    return compression;
}

bool CanCopyStrips(const PageLayout& layout) {
    // Bi-level pages are handed on in G4 and grey ones as black-is-zero, whatever they were.
    const bool plainKind =
        (layout.kind == PageKind::Bilevel && layout.compression == COMPRESSION_CCITTFAX4) ||
        (layout.kind == PageKind::Grey && layout.bitsPerSample == 8 &&
         layout.photometric == PHOTOMETRIC_MINISBLACK) ||
        (layout.kind == PageKind::Rgb && layout.bitsPerSample == 8 && layout.samplesPerPixel == 3);
    const bool copiedCompression = std::find(kCopiedCompressions.begin(), kCopiedCompressions.end(),
                                             layout.compression) != kCopiedCompressions.end();
    const std::uint64_t stripBytes = layout.outputRowBytes() * layout.blockRows;
    return plainKind && copiedCompression && !layout.tiled && stripBytes <= 4 * kStripBytes;
}

std::optional<ReaderFailure> CopyStrips(TIFF* in, const SourceReading& reading,
                                        TargetWriting& target, const PageLayout& layout, int page,
                                        int pageCount) {
    TIFF* const out = target.tiff();
    if (!WriteCopiedPageTags(in, out, layout, page, pageCount)) {
        return target.Failure();
    }
    std::vector<std::uint8_t> strip;
    const std::uint32_t strips = TIFFNumberOfStrips(in);
    for (std::uint32_t index = 0; index < strips; ++index) {
        // Each count was held against the file's length before anything was read.
        const auto size = static_cast<tmsize_t>(TIFFGetStrileByteCount(in, index));
        strip.resize(static_cast<std::size_t>(size));
        if (TIFFReadRawStrip(in, index, strip.data(), size) != size) {
            return reading.Failure(Text("page ", page, " cannot be decoded"));
        }
        if (TIFFWriteRawStrip(out, index, strip.data(), size) != size) {
            return target.Failure();
        }
    }
    if (!TIFFWriteDirectory(out)) {
        return target.Failure();
    }
    return std::nullopt;
}

}  // namespace vellumax::reader
