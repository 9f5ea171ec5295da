// Writes the benchmark's documents: A4 pages at 300 dpi, alternately bi-level (CCITT G4, with
// lines of "text") and colour (LZW, a photo-like gradient with noise), in document-imaging
// files. Deterministic, so that runs compare.
//
//   make_bench_documents FOLDER DOCUMENTS PAGES
#include <tiffio.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kWidth = 2480;
constexpr uint32_t kHeight = 3508;
constexpr uint32_t kRowsPerStrip = 64;

uint32_t Noise(uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    return state >> 24;
}

void Describe(TIFF* tiff, uint16_t bits, uint16_t samples, uint16_t photometric,
              uint16_t compression) {
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, kWidth);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, kHeight);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, photometric);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, compression);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, kRowsPerStrip);
    TIFFSetField(tiff, TIFFTAG_XRESOLUTION, 300.0);
    TIFFSetField(tiff, TIFFTAG_YRESOLUTION, 300.0);
    TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
}

bool WriteTextPage(TIFF* tiff, uint32_t seed) {
    Describe(tiff, 1, 1, PHOTOMETRIC_MINISWHITE, COMPRESSION_CCITTFAX4);
    std::vector<uint8_t> row((kWidth + 7) / 8);
    for (uint32_t y = 0; y < kHeight; ++y) {
        std::fill(row.begin(), row.end(), 0);
        const bool inLine = y > 300 && y < kHeight - 300 && (y % 60) < 30;
        uint32_t state = seed + y / 60;  // the same "words" on every row of a line
        for (uint32_t x = 250; inLine && x < kWidth - 250; x += 24) {
            const bool ink = Noise(state) % 5 != 0 && ((x / 24 + y) % 3 != 0);
            if (ink) {
                row[x / 8] |= static_cast<uint8_t>(0xF0 >> (x % 8 < 4 ? 0 : 4));
            }
        }
        if (TIFFWriteScanline(tiff, row.data(), y, 0) != 1) {
            return false;
        }
    }
    return TIFFWriteDirectory(tiff) == 1;
}

bool WriteColourPage(TIFF* tiff, uint32_t seed) {
    Describe(tiff, 8, 3, PHOTOMETRIC_RGB, COMPRESSION_LZW);
    TIFFSetField(tiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    std::vector<uint8_t> row(kWidth * 3);
    uint32_t state = seed;
    for (uint32_t y = 0; y < kHeight; ++y) {
        for (uint32_t x = 0; x < kWidth; ++x) {
            const uint32_t grain = Noise(state) % 12;
            row[3 * x] = static_cast<uint8_t>((x * 200 / kWidth) + grain);
            row[3 * x + 1] = static_cast<uint8_t>((y * 200 / kHeight) + grain);
            row[3 * x + 2] =
                static_cast<uint8_t>(((x + y) * 100 / (kWidth + kHeight)) + 100 + grain);
        }
        if (TIFFWriteScanline(tiff, row.data(), y, 0) != 1) {
            return false;
        }
    }
    return TIFFWriteDirectory(tiff) == 1;
}

bool MarkAsImagingDocument(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "r+b");
    if (file == nullptr) {
        return false;
    }
    const bool marked = std::fwrite("EP", 1, 2, file) == 2;
    return std::fclose(file) == 0 && marked;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: make_bench_documents FOLDER DOCUMENTS PAGES\n");
        return 2;
    }
    const std::string folder = argv[1];
    const int documents = std::atoi(argv[2]);
    const int pages = std::atoi(argv[3]);
    for (int document = 1; document <= documents; ++document) {
        char name[32];
        std::snprintf(name, sizeof name, "/bench-%02d.mdi", document);
        const std::string path = folder + name;
        TIFF* tiff = TIFFOpen(path.c_str(), "w");
        if (tiff == nullptr) {
            return 1;
        }
        for (int page = 0; page < pages; ++page) {
            const uint32_t seed = static_cast<uint32_t>(document * 100 + page);
            const bool written =
                page % 2 == 0 ? WriteTextPage(tiff, seed) : WriteColourPage(tiff, seed);
            if (!written) {
                TIFFClose(tiff);
                return 1;
            }
        }
        TIFFClose(tiff);
        if (!MarkAsImagingDocument(path)) {
            return 1;
        }
    }
    return 0;
}
