#include "conversion/reader/document_reader.h"

#include <tiffio.h>
#include <algorithm>
#include <cstdint>
#include <optional>
#include <set>
#include <vector>

#include "conversion/reader/colour_pages.h"
#include "conversion/reader/page_limits.h"
#include "conversion/reader/pending_target.h"
#include "conversion/reader/reader_failures.h"
#include "conversion/reader/source_document.h"
#include "conversion/reader/stored_rows.h"
#include "conversion/reader/tiff_target.h"
#include "data_damage.h"

namespace vellumax {

namespace {

using namespace reader;

// When libtiff cannot open a file it is the first directory that could not be read.
const char kFirstPageUnreadable[] = "the first page cannot be read";

// What libtiff calls the file in its messages, which the failure line strips.
std::string FileNameOf(const std::string& path) {
    const std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsReducedImage(TIFF* tiff) {
    std::uint32_t subfileType = 0;
    return TIFFGetField(tiff, TIFFTAG_SUBFILETYPE, &subfileType) &&
           (subfileType & FILETYPE_REDUCEDIMAGE) != 0;
}

// Calls `visit(tiff, page number)` for each page of the main directory chain, in order.
// Reduced-resolution images in the chain are no pages, and SubIFDs (thumbnails) are never
// entered.
template <typename Visit>
std::optional<ReaderFailure> ForEachPage(SourceReading& reading, Visit visit) {
    TIFF* const tiff = reading.tiff();
    std::set<std::uint64_t> seen;
    int page = 0;
    for (;;) {
        if (!seen.insert(TIFFCurrentDirOffset(tiff)).second) {
            return InvalidFormat("the page chain loops back to an earlier page");
        }
        if (!IsReducedImage(tiff)) {
            if (auto failure = visit(tiff, ++page)) {
                return failure;
            }
        }
        if (TIFFLastDirectory(tiff)) {
            break;
        }
        if (!TIFFReadDirectory(tiff)) {
            return reading.Failure(Text("the page chain breaks off after page ", page));
        }
    }
    if (page == 0) {
        return InvalidFormat("the document holds no page");
    }
    return std::nullopt;
}

std::optional<ReaderFailure> CopyPage(TIFF* in, SourceReading& reading, TargetWriting& target,
                                      int page, int pageCount) {
    target.StartPage(page);
    PageLayout layout;
    // Checked again, as the file may have changed since the survey.
    auto failure = ReadLayout(in, page, layout);
    if (!failure) {
        failure = CheckLimits(in, page, layout, reading.fileSize());
    }
    if (failure) {
        return failure;
    }
    if (CanCopyStrips(layout)) {
        return CopyStrips(in, reading, target, layout, page, pageCount);
    }
    if (layout.compression == kTransformCodec) {
        return CopyTransformCodedPage(in, reading, target, layout, page, pageCount);
    }
    if (IsJpegYCbCr(layout)) {
        TIFFSetField(in, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    }
    TIFF* const out = target.tiff();
    if (!WritePageTags(in, out, layout, page, pageCount, target.Compresses(layout))) {
        return target.Failure();
    }
    std::vector<std::uint8_t> written(static_cast<std::size_t>(layout.outputRowBytes()));
    const bool rendered = layout.kind == PageKind::Rendered;
    std::optional<RenderedRows> renderedRows;
    std::optional<StoredRows> storedRows;
    if (rendered) {
        renderedRows.emplace(in, layout);
    } else {
        storedRows.emplace(in, layout);
    }
    const RowConverter converter(in, layout);
    const std::string broken = Text("page ", page, " cannot be decoded");
    reading.StartDecoding();

    for (std::uint32_t row = 0; row < layout.height; ++row) {
        if (rendered) {
            if (!renderedRows->Row(row, written.data())) {
                return reading.Failure(broken);
            }
        } else {
            const std::uint8_t* stored = storedRows->Row(row);
            if (stored == nullptr) {
                return reading.Failure(broken);
            }
            converter.Convert(stored, written.data());
        }
        // The encoder may change the buffer it is given, which is refilled for every row.
        if (TIFFWriteScanline(out, written.data(), row, 0) < 0) {
            return target.Failure();
        }
    }
    // libtiff decoded past damage: the page is kept, and the note tells the page converter,
    // which reports it.
    if (!reading.damage().empty()) {
        const std::string note = std::string(converter::kDamageNote) + reading.damage();
        if (!TIFFSetField(out, TIFFTAG_IMAGEDESCRIPTION, note.c_str())) {
            return target.Failure();
        }
    }
    if (!TIFFWriteDirectory(out)) {
        return target.Failure();
    }
    return std::nullopt;
}

}  // namespace

std::optional<ReaderFailure> SaveDocumentAsTiff(const std::string& source,
                                                const std::string& target) {
    return SaveDocumentAsTiff(source, target, WrittenFileBounds{});
}

std::optional<ReaderFailure> SaveDocumentAsTiff(const std::string& source,
                                                const std::string& target,
                                                const WrittenFileBounds& bounds) {
    SourceFile file;
    if (auto failure = OpenSource(source, file)) {
        return failure;
    }
    if (auto failure = RefuseSourceAsTarget(file, target)) {
        return failure;
    }
    const std::string sourceName = FileNameOf(source);

    // Every page is checked before anything is decoded or written, so that a document with
    // a page this reader cannot take fails at once, whichever page it is.
    int pageCount = 0;
    {
        SourceReading survey(file, sourceName);
        if (survey.tiff() == nullptr) {
            return survey.Failure(kFirstPageUnreadable);
        }
        auto failure = ForEachPage(survey, [&](TIFF* tiff, int page) {
            pageCount = page;
            return CheckPage(tiff, page, survey.fileSize());
        });
        if (failure) {
            return failure;
        }
    }

    PendingTarget pending;
    if (auto failure = pending.Create(target)) {
        return failure;
    }
    SourceReading reading(file, sourceName);
    TargetWriting writing(pending.descriptor(), FileNameOf(target), bounds.plainBytes,
                          bounds.limit.value_or(WrittenFileLimit(file.bytesOnDisk)),
                          file.bytesOnDisk);
    if (reading.tiff() == nullptr) {
        return reading.Failure(kFirstPageUnreadable);
    }
    if (writing.tiff() == nullptr) {
        return writing.Failure();
    }
    auto failure = ForEachPage(reading, [&](TIFF* tiff, int page) {
        return CopyPage(tiff, reading, writing, page, pageCount);
    });
    if (failure) {
        return failure;
    }
    if (!writing.Finish()) {
        return writing.Failure();
    }
    return pending.Commit(target);
}

std::uint64_t WrittenFileLimit(std::uint64_t sourceBytesOnDisk) {
    constexpr std::uint64_t kFloor = std::uint64_t{1} << 30;
    constexpr std::uint64_t kPerSourceByte = 256;
    // Far beyond any disk before it could wrap.
    const std::uint64_t scaled =
        std::min<std::uint64_t>(sourceBytesOnDisk, UINT64_MAX / 512) * kPerSourceByte;
    return kFloor + scaled;
}

}  // namespace vellumax
