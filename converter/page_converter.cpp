#include "page_converter.h"

#include <algorithm>
#include <cstdarg>
#include <filesystem>
#include <utility>

#include <tiffio.h>

#include "data_damage.h"
#include "folder_page_files.h"
#include "jpeg_page_writer.h"
#include "pdf_document_file.h"
#include "png_page_writer.h"
#include "tiff_document_file.h"
#include "tiff_page_reader.h"

namespace vellumax::converter {

namespace {

bool IsQuality(const std::string& text) {
    if (text.empty() || text.size() > 3 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    const int value = std::stoi(text);
    return value >= 1 && value <= 100;
}

int OnTiffError(TIFF*, void* log, const char*, const char* format, va_list arguments) {
    char message[1024];
    std::vsnprintf(message, sizeof message, format, arguments);
    static_cast<TiffErrorLog*>(log)->Record(message);
    return 1;
}

int OnTiffWarning(TIFF*, void* log, const char*, const char* format, va_list arguments) {
    char message[1024];
    std::vsnprintf(message, sizeof message, format, arguments);
    static_cast<TiffErrorLog*>(log)->RecordWarning(message);
    return 1;
}

struct OptionsFree {
    void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

}  // namespace

std::optional<CommandLine> ParseCommandLine(const std::vector<std::string>& arguments) {
    static const std::pair<const char*, OutputFormat> kFormats[] = {{"jpeg", OutputFormat::Jpeg},
                                                                    {"png", OutputFormat::Png},
                                                                    {"tiff", OutputFormat::Tiff},
                                                                    {"pdf", OutputFormat::Pdf}};
    if (arguments.size() != 6 || arguments[0] != "-xall" || arguments[1] != "-q" ||
        !IsQuality(arguments[2]) || arguments[3] != "-out" || arguments[5].empty()) {
        return std::nullopt;
    }
    for (const auto& [name, format] : kFormats) {
        if (arguments[4] == name) {
            return CommandLine{std::stoi(arguments[2]), format, arguments[5]};
        }
    }
    return std::nullopt;
}

std::string UsageLine(const std::string& programName) {
    return "usage: " + programName +
           " -xall -q QUALITY -out jpeg|png|tiff|pdf FILE (QUALITY from 1 to 100)";
}

namespace {

// libtiff reports a tag it does not know how to read as an error, yet reads on without it:
// such a tag is never why a page fails, so the real error that may follow is kept.
bool IsUnknownTag(const std::string& message) {
    return message.find("TIFF_SETGET_UNDEFINED") != std::string::npos ||
           message.starts_with("Unknown field with tag");
}

}  // namespace

void TiffErrorLog::Record(const std::string& message) {
    if (first_.empty() && !IsUnknownTag(message)) {
        first_ = OneLine(message);
    }
    if (decoding_ && damage_.empty() && IsDataDamage(message, true)) {
        damage_ = OneLine(message);
    }
}

void TiffErrorLog::RecordWarning(const std::string& message) {
    if (!IsUnknownTag(message)) {
        lastWarning_ = OneLine(message);
    }
    if (decoding_ && damage_.empty() && IsDataDamage(message, false)) {
        damage_ = OneLine(message);
    }
}

void TiffErrorLog::NoteDamage(const std::string& reason) {
    if (damage_.empty()) {
        damage_ = OneLine(reason);
    }
}

std::string TiffErrorLog::OneLine(const std::string& message) const {
    // libtiff starts many messages with the file's name, which the report already shows.
    const std::string named = fileName_ + ": ";
    std::string line =
        !fileName_.empty() && message.starts_with(named) ? message.substr(named.size()) : message;
    // The report is a single line.
    std::replace(line.begin(), line.end(), '\n', ' ');
    return line;
}

std::optional<TiffDocument> TiffDocument::Open(const std::string& path, std::string& error) {
    std::error_code status;
    // Opening a pipe or device would wait forever for data.
    if (!std::filesystem::is_regular_file(path, status)) {
        error = std::filesystem::exists(path, status) ? "not a file" : "no such file";
        return std::nullopt;
    }
    auto log = std::make_unique<TiffErrorLog>(path);
    const std::unique_ptr<TIFFOpenOptions, OptionsFree> options(TIFFOpenOptionsAlloc());
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), &OnTiffError, log.get());
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), &OnTiffWarning, log.get());
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), static_cast<tmsize_t>(kMaxDecodedBytes));
    // "m": no memory mapping, so a file cut short by someone else cannot crash us with SIGBUS.
    TIFF* tiff = TIFFOpenExt(path.c_str(), "rm", options.get());
    if (tiff == nullptr) {
        error = "not a readable TIFF file";
        if (!log->reason().empty()) {
            error += ": " + log->reason();
        }
        return std::nullopt;
    }
    return TiffDocument(tiff, std::move(log));
}

TIFF* OpenTiffForWriting(int descriptor, const std::string& name, TiffErrorLog& log) {
    const std::unique_ptr<TIFFOpenOptions, OptionsFree> options(TIFFOpenOptionsAlloc());
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), &OnTiffError, &log);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), &OnTiffWarning, &log);
    return TIFFFdOpenExt(descriptor, name.c_str(), "w", options.get());
}

TiffDocument::TiffDocument(TIFF* tiff, std::unique_ptr<TiffErrorLog> log)
    : tiff_(tiff), log_(log ? std::move(log) : std::make_unique<TiffErrorLog>()) {}

TiffDocument::TiffDocument(TiffDocument&& other) noexcept
    : tiff_(std::exchange(other.tiff_, nullptr)), log_(std::move(other.log_)) {}

TiffDocument::~TiffDocument() {
    if (tiff_ != nullptr) {
        TIFFClose(tiff_);
    }
}

std::uint64_t TiffDocument::size() const {
    return TIFFGetSizeProc(tiff_)(TIFFClientdata(tiff_));
}

std::string ConversionReport::Summary() const {
    std::string summary = firstError;
    if (pagesFailed > 1) {
        summary += " (" + std::to_string(pagesFailed) + " pages failed)";
    }
    if (Damaged()) {
        std::string pages = damagedPages.size() == 1 ? "page " : "pages ";
        for (std::size_t index = 0; index < damagedPages.size(); ++index) {
            pages += (index > 0 ? ", " : "") + std::to_string(damagedPages[index]);
        }
        summary += (summary.empty() ? "" : "; ") + pages + " kept with damage: " + firstDamage;
    }
    return summary;
}

std::string EncodeJpeg(PageReader& reader, int quality, std::FILE* out) {
    JpegPage page = reader.page();
    page.quality = quality;
    JpegPageWriter writer;
    if (!writer.Start(out, page)) {
        return "cannot start the JPEG: " + writer.error();
    }
    std::vector<std::uint8_t> row(std::size_t{page.width} * page.components);
    for (std::uint32_t y = 0; y < page.height; ++y) {
        if (!reader.ReadRow(row.data())) {
            return reader.error();
        }
        if (!writer.WriteRow(row.data())) {
            return "cannot write the JPEG: " + writer.error();
        }
    }
    if (!writer.Finish()) {
        return "cannot write the JPEG: " + writer.error();
    }
    return {};
}

std::string ConvertPage(const TiffDocument& document, int quality, std::FILE* out) {
    std::string error;
    const auto reader = PageReader::Open(document, error);
    if (!reader) {
        return error;
    }
    return EncodeJpeg(*reader, quality, out);
}

std::string ConvertPageToPng(const TiffDocument& document, std::FILE* out) {
    std::string error;
    const auto reader = PageReader::Open(document, error);
    if (!reader) {
        return error;
    }
    const JpegPage& page = reader->page();
    PngPageWriter writer;
    if (!writer.Start(out, {page.width, page.height, page.components, reader->bilevel(),
                            reader->resolution()})) {
        return "cannot start the PNG: " + writer.error();
    }
    std::vector<std::uint8_t> row(std::size_t{page.width} * page.components);
    for (std::uint32_t y = 0; y < page.height; ++y) {
        if (!reader->ReadRow(row.data())) {
            return reader->error();
        }
        if (!writer.WriteRow(row.data())) {
            return "cannot write the PNG: " + writer.error();
        }
    }
    if (!writer.Finish()) {
        return "cannot write the PNG: " + writer.error();
    }
    return {};
}

namespace {

std::string ConvertOnePage(const TiffDocument& document, const PageEncoder& encode,
                           PageFiles& files, int number) {
    std::string error;
    std::FILE* out = files.Open(number, error);
    if (out == nullptr) {
        return error;
    }
    error = encode(document, out);
    if (!error.empty()) {
        files.Discard(number);
        return error;
    }
    return files.Keep(number);
}

// Runs `convert` on each page of the main directory chain, from the current one on, and counts
// what it says; with `stopAtFailure` the first failure ends the walk.
ConversionReport ForEachPage(const TiffDocument& document,
                             const std::function<std::string(int)>& convert, bool stopAtFailure) {
    ConversionReport report;
    TIFF* tiff = document.handle();
    for (int number = 1;; ++number) {
        if (number > 1) {
            if (TIFFLastDirectory(tiff)) {
                break;
            }
            document.log().Clear();
            // libtiff refuses directory chains that loop back, so this ends.
            if (!TIFFReadDirectory(tiff)) {
                const std::string& reason = document.log().reason();
                ++report.pagesFailed;
                if (report.firstError.empty()) {
                    report.firstError = "page " + std::to_string(number) + ": cannot read it" +
                                        (reason.empty() ? "" : ": " + reason);
                }
                break;
            }
        }
        const std::string error = convert(number);
        if (error.empty()) {
            ++report.pagesWritten;
            // The page is kept, and said to be damaged: nothing is hidden.
            if (const std::string& damage = document.log().damage(); !damage.empty()) {
                report.damagedPages.push_back(number);
                if (report.firstDamage.empty()) {
                    report.firstDamage = damage;
                }
            }
            continue;
        }
        ++report.pagesFailed;
        if (report.firstError.empty()) {
            report.firstError = "page " + std::to_string(number) + ": " + error;
        }
        if (stopAtFailure) {
            break;
        }
    }
    return report;
}

}  // namespace

ConversionReport ConvertPages(const TiffDocument& document, const PageEncoder& encode,
                              PageFiles& files) {
    return ForEachPage(
        document, [&](int number) { return ConvertOnePage(document, encode, files, number); },
        false);
}

ConversionReport ConvertDocument(const TiffDocument& document, DocumentFile& file) {
    std::string error = file.Start();
    if (!error.empty()) {
        return ConversionReport{0, 0, error};
    }
    ConversionReport report = ForEachPage(
        document, [&](int) { return file.AddPage(document); }, true);
    if (!report.Succeeded()) {
        return report;
    }
    error = file.Finish();
    if (!error.empty()) {
        report.firstError = error;
    }
    return report;
}

unsigned WatchdogSeconds(std::uint64_t fileSize) {
    constexpr std::uint64_t kMostSeconds = 7 * 24 * 3600;  // alarm() takes an unsigned count
    return static_cast<unsigned>(std::min<std::uint64_t>(60 + fileSize / 1024, kMostSeconds));
}

ConversionReport ConvertFile(const std::string& path, int quality, OutputFormat format) {
    std::string error;
    const auto document = TiffDocument::Open(path, error);
    if (!document) {
        return ConversionReport{0, 0, error};
    }
    switch (format) {
        case OutputFormat::Png: {
            FolderPageFiles files(path, "png");
            return ConvertPages(*document, &ConvertPageToPng, files);
        }
        case OutputFormat::Tiff: {
            TiffDocumentFile file(path);
            return ConvertDocument(*document, file);
        }
        case OutputFormat::Pdf: {
            PdfDocumentFile file(path, quality);
            return ConvertDocument(*document, file);
        }
        case OutputFormat::Jpeg:
            break;
    }
    FolderPageFiles files(path, "jpg");
    return ConvertPages(
        *document,
        [quality](const TiffDocument& page, std::FILE* out) {
            return ConvertPage(page, quality, out);
        },
        files);
}

}  // namespace vellumax::converter
