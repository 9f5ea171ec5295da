// The document reader on arbitrary bytes, saved as a file. Beyond not crashing, it must keep
// its word: a failure is "Out of memory" or "Invalid file format" with nothing left at the
// target, and a success is a complete TIFF of the promised page forms and nothing else.

#include <QString>
#include <tiffio.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "conversion/document_reader.h"
#include "fuzz_support.h"

namespace {

using vellumax::fuzz::Expect;

const char kInput[] = "input.mdi";
const char kTarget[] = "output.tif";

bool IsPromisedForm(TIFF* tiff) {
    std::uint16_t bits = 0, samples = 0, photometric = 0, compression = 0;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
    if (!TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric) || TIFFIsTiled(tiff)) {
        return false;
    }
    if (bits == 1) {
        return samples == 1 && compression == COMPRESSION_CCITTFAX4 &&
               (photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK);
    }
    const bool grey = samples == 1 && photometric == PHOTOMETRIC_MINISBLACK;
    const bool rgb = samples == 3 && photometric == PHOTOMETRIC_RGB;
    return bits == 8 && compression == COMPRESSION_NONE && (grey || rgb);
}

// Every page of the written file decodes, and the pages are numbered 1 of n to n of n.
void CheckWrittenDocument(const std::string& path) {
    std::unique_ptr<TIFF, decltype(&TIFFClose)> tiff(TIFFOpen(path.c_str(), "r"), &TIFFClose);
    Expect(tiff != nullptr, "a saved document opens");
    std::vector<std::uint8_t> strip;
    std::uint16_t pageCount = 0;
    for (std::uint16_t page = 0;; ++page) {
        Expect(IsPromisedForm(tiff.get()), "a saved page is 1-bit G4, 8-bit grey or 8-bit RGB");
        std::uint16_t number = 0, count = 0;
        Expect(TIFFGetField(tiff.get(), TIFFTAG_PAGENUMBER, &number, &count) && number == page,
               "saved pages are numbered in order");
        Expect(page == 0 || count == pageCount, "every saved page gives the same page count");
        pageCount = count;
        strip.resize(static_cast<std::size_t>(TIFFStripSize64(tiff.get())));
        for (std::uint32_t index = 0; index < TIFFNumberOfStrips(tiff.get()); ++index) {
            Expect(TIFFReadEncodedStrip(tiff.get(), index, strip.data(),
                                        static_cast<tmsize_t>(strip.size())) > 0,
                   "every strip of a saved page decodes");
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

    const auto failure =
        vellumax::SaveDocumentAsTiff(QString::fromStdString(source.string()),
                                     QString::fromStdString(target.string()));
    if (failure) {
        Expect(failure->number == 321 || failure->number == 7,
               "a damaged document fails with 321 or 7, not " + std::to_string(failure->number) +
                   " (" + failure->description.toStdString() + ")");
        Expect(vellumax::fuzz::IsOneLine(failure->description.toStdString()),
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
