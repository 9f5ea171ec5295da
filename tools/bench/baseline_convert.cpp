// The benchmark's yardstick: the same pages decoded with libtiff and encoded with libjpeg-turbo
// in one process, as plainly as it can be done, with nothing around it.
//
//   baseline_convert QUALITY OUTPUT_FOLDER DOCUMENT...
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <jpeglib.h>  // after <cstdio>: it uses FILE and size_t without including them
#include <tiffio.h>

namespace {

bool EncodePage(TIFF* tiff, const std::string& target, int quality) {
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t bits = 0;
    uint16_t samples = 0;
    uint16_t photometric = 0;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
    if (!(bits == 1 && samples == 1) && !(bits == 8 && (samples == 1 || samples == 3))) {
        return false;
    }
    FILE* file = std::fopen(target.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    jpeg_compress_struct jpeg{};
    jpeg_error_mgr errors{};
    jpeg.err = jpeg_std_error(&errors);
    jpeg_create_compress(&jpeg);
    jpeg_stdio_dest(&jpeg, file);
    jpeg.image_width = width;
    jpeg.image_height = height;
    jpeg.input_components = samples;
    jpeg.in_color_space = samples == 3 ? JCS_RGB : JCS_GRAYSCALE;
    jpeg_set_defaults(&jpeg);
    jpeg_set_quality(&jpeg, quality, TRUE);
    jpeg_start_compress(&jpeg, TRUE);

    std::vector<uint8_t> stored(TIFFScanlineSize(tiff));
    std::vector<uint8_t> row(static_cast<size_t>(width) * samples);
    const uint8_t ink = photometric == PHOTOMETRIC_MINISWHITE ? 0 : 255;
    for (uint32_t y = 0; y < height; ++y) {
        if (TIFFReadScanline(tiff, stored.data(), y, 0) != 1) {
            break;
        }
        if (bits == 1) {
            for (uint32_t x = 0; x < width; ++x) {
                const bool set = (stored[x / 8] >> (7 - x % 8)) & 1;
                row[x] = set ? ink : static_cast<uint8_t>(255 - ink);
            }
        } else {
            row.assign(stored.begin(), stored.begin() + static_cast<long>(row.size()));
        }
        JSAMPROW rows[] = {row.data()};
        jpeg_write_scanlines(&jpeg, rows, 1);
    }
    jpeg_finish_compress(&jpeg);
    jpeg_destroy_compress(&jpeg);
    return std::fclose(file) == 0;
}

std::string Stem(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: baseline_convert QUALITY OUTPUT_FOLDER DOCUMENT...\n");
        return 2;
    }
    const int quality = std::atoi(argv[1]);
    const std::string folder = argv[2];
    int pages = 0;
    for (int index = 3; index < argc; ++index) {
        TIFF* tiff = TIFFOpen(argv[index], "r");
        if (tiff == nullptr) {
            return 1;
        }
        int page = 1;
        do {
            const std::string target =
                folder + "/" + Stem(argv[index]) + "_" + std::to_string(page++) + ".jpg";
            if (!EncodePage(tiff, target, quality)) {
                TIFFClose(tiff);
                return 1;
            }
            ++pages;
        } while (TIFFReadDirectory(tiff) == 1);
        TIFFClose(tiff);
    }
    std::printf("%d\n", pages);
    return 0;
}
