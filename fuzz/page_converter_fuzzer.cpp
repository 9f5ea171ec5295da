// The page converter's decoding and encoding on arbitrary bytes, saved as a file and converted
// as the program converts it. Beyond not crashing, it must keep its word: one JPEG file per
// page written, each complete; a one-line reason for any failure; no other file left behind.

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <tiffio.h>

#include "fuzz_support.h"
#include "page_converter.h"

namespace {

using vellumax::fuzz::Expect;

const char kInput[] = "input.tif";

struct JpegErrors {
    jpeg_error_mgr manager;
    std::jmp_buf escape;
    int warnings = 0;
};

void OnJpegError(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->escape, 1);
}

void OnJpegMessage(j_common_ptr info, int level) {
    if (level < 0) {
        ++reinterpret_cast<JpegErrors*>(info->err)->warnings;
    }
}

// Decodes the whole file; libjpeg's warnings (a file cut short, for one) count as failures.
// Kept free of C++ objects, as longjmp skips their destructors.
bool DecodesCompletely(std::FILE* file, JSAMPLE* row, std::size_t rowBytes) {
    jpeg_decompress_struct info{};
    JpegErrors errors{};
    info.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = &OnJpegError;
    errors.manager.emit_message = &OnJpegMessage;
    bool complete = false;
    if (setjmp(errors.escape) == 0) {
        jpeg_create_decompress(&info);
        jpeg_stdio_src(&info, file);
        jpeg_read_header(&info, TRUE);
        jpeg_start_decompress(&info);
        if (std::size_t{info.output_width} * info.output_components <= rowBytes) {
            while (info.output_scanline < info.output_height) {
                jpeg_read_scanlines(&info, &row, 1);
            }
            jpeg_finish_decompress(&info);
            complete = errors.warnings == 0;
        }
    }
    jpeg_destroy_decompress(&info);
    return complete;
}

void CheckPage(const std::filesystem::path& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    Expect(file != nullptr, "a written page can be opened");
    // Pages are at most 65500 pixels wide, three bytes a pixel.
    static std::vector<JSAMPLE> row(65500 * 3);
    const bool complete = DecodesCompletely(file, row.data(), row.size());
    std::fclose(file);
    Expect(complete, "a written page is a complete JPEG: " + path.filename().string());
}

std::string PageName(int number) {
    char name[32];
    std::snprintf(name, sizeof name, "input-%04d.jpg", number);
    return name;
}

// A few bytes of G4 or LZW can declare a page of a gigapixel, and converting it is honest
// work that takes seconds; such inputs would slow the search to a crawl. The damaged-file tests
// cover pages that large, so the search skips documents with a page over a megapixel.
bool HasHugePage(const std::filesystem::path& path) {
    constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 20;
    std::unique_ptr<TIFF, decltype(&TIFFClose)> tiff(TIFFOpen(path.c_str(), "r"), &TIFFClose);
    if (!tiff) {
        return false;
    }
    do {
        std::uint32_t width = 0, height = 0;
        TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &width);
        TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &height);
        if (std::uint64_t{width} * height > kMaxPixels) {
            return true;
        }
    } while (TIFFReadDirectory(tiff.get()) == 1);
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // As the program does: messages go to each document's own log, none to the terminal.
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const vellumax::fuzz::WorkFolder folder;
    const auto input = folder.Write(kInput, data, size);
    if (HasHugePage(input)) {
        folder.Clear(kInput);
        return -1;  // keeps the input out of the corpus
    }

    const auto report = vellumax::converter::ConvertFile(input.string(), 75);

    Expect(report.Succeeded() == (report.pagesFailed == 0 && report.pagesWritten > 0),
           "success means every page was written: " + report.firstError);
    Expect(report.Succeeded() || vellumax::fuzz::IsOneLine(report.Summary()),
           "a failure is told in one line");
    int pagesFound = 0;
    for (const std::string& name : folder.Names()) {
        if (name == kInput) {
            continue;
        }
        bool numbered = false;
        for (int number = 1; number <= report.pagesWritten + report.pagesFailed; ++number) {
            numbered = numbered || name == PageName(number);
        }
        Expect(numbered, "nothing but numbered pages is written, not " + name);
        CheckPage(folder.path() / name);
        ++pagesFound;
    }
    Expect(pagesFound == report.pagesWritten, "every page reported written is there");
    folder.Clear(kInput);
    return 0;
}
