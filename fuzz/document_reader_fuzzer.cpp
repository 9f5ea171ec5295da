// The document reader on arbitrary bytes, saved as a file. Beyond not crashing, it must keep
// its word: a failure is "Out of memory" or "Invalid file format" with nothing left at the
// target, and a success is a complete TIFF of the promised page forms and nothing else.
// Whether the converter can decode what was saved is the page converter target's concern.

#include <tiffio.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <set>
#include <string>

#include "conversion/reader/document_reader.h"
#include "fuzz_support.h"

namespace {

using vellumax::fuzz::Expect;

const char kInput[] = "input.mdi";
const char kTarget[] = "output.tif";

// Pages are decoded into these forms, or copied with their compressed strips as they are.
bool IsPromisedForm(TIFF* tiff) {
    std::uint16_t bits = 0, samples = 0, photometric = 0, compression = 0, planar = 0;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
    if (!TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric) || TIFFIsTiled(tiff) ||
        planar != PLANARCONFIG_CONTIG) {
        return false;
    }
    if (bits == 1) {
        return samples == 1 && compression == COMPRESSION_CCITTFAX4 &&
               (photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK);
    }
    const bool grey = samples == 1 && photometric == PHOTOMETRIC_MINISBLACK;
    const bool rgb = samples == 3 && photometric == PHOTOMETRIC_RGB;
    // Written plain, or compressed past the first 256 MiB (Zstandard, or Deflate), or copied.
    const std::set<std::uint16_t> copied = {
        COMPRESSION_NONE,          COMPRESSION_CCITTRLE, COMPRESSION_CCITTFAX3,
        COMPRESSION_CCITTFAX4,     COMPRESSION_LZW,      COMPRESSION_PACKBITS,
        COMPRESSION_ADOBE_DEFLATE, COMPRESSION_DEFLATE,  COMPRESSION_ZSTD};
    return bits == 8 && (grey || rgb) && copied.count(compression) == 1;
}

// Every strip of every page was written whole, and the pages are numbered 1 of n to n of n.
// Copied strips are not decoded: the reader hands them on as the source had them.
void CheckWrittenDocument(const std::string& path) {
    std::unique_ptr<TIFF, decltype(&TIFFClose)> tiff(TIFFOpen(path.c_str(), "r"), &TIFFClose);
    Expect(tiff != nullptr, "a saved document opens");
    const std::uint64_t fileSize = std::filesystem::file_size(path);
    std::uint16_t pageCount = 0;
    for (std::uint16_t page = 0;; ++page) {
        Expect(IsPromisedForm(tiff.get()), "a saved page has one of the promised forms");
        std::uint16_t number = 0, count = 0;
        Expect(TIFFGetField(tiff.get(), TIFFTAG_PAGENUMBER, &number, &count) && number == page,
               "saved pages are numbered in order");
        Expect(page == 0 || count == pageCount, "every saved page gives the same page count");
        pageCount = count;
        for (std::uint32_t index = 0; index < TIFFNumberOfStrips(tiff.get()); ++index) {
            const std::uint64_t offset = TIFFGetStrileOffset(tiff.get(), index);
            const std::uint64_t bytes = TIFFGetStrileByteCount(tiff.get(), index);
            Expect(offset + bytes <= fileSize, "every strip of a saved page is there");
        }
        if (TIFFLastDirectory(tiff.get())) {
            Expect(page + 1 == pageCount, "the page count matches the pages saved");
            return;
        }
        Expect(TIFFReadDirectory(tiff.get()) == 1, "the saved page chain is unbroken");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The reader routes its own handles' messages; the check above needs no words either.
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const vellumax::fuzz::WorkFolder folder;
    const auto source = folder.Write(kInput, data, size);
    const auto target = folder.path() / kTarget;

    const auto failure = vellumax::SaveDocumentAsTiff(source.string(), target.string());
    if (failure) {
        Expect(failure->number == 321 || failure->number == 7,
               "a damaged document fails with 321 or 7, not " + std::to_string(failure->number) +
                   " (" + failure->description + ")");
        Expect(vellumax::fuzz::IsOneLine(failure->description),
               "the failure is described in one line");
        Expect(folder.Names() == std::set<std::string>{kInput},
               "a failed save leaves nothing behind");
        return 0;
    }
    Expect(folder.Names() == std::set<std::string>{kInput, kTarget},
           "a save writes the target and nothing else");
    CheckWrittenDocument(target.string());
    folder.Clear(kInput);
    return 0;
}
