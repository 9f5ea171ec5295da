// Writes the fuzzers' seed documents: small files of every page kind the reader and the converter
// know, in strips and tiles, several pages to a file, with thumbnails in SubIFDs, in both byte
// orders, as BigTIFF and with the document-imaging header. A fuzzer mutates these, so each
// starts out valid and reaches deep before a mutation breaks it.
//
//   make_fuzz_seeds FOLDER

#include <tiffio.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct Page {
    std::uint16_t photometric = PHOTOMETRIC_MINISBLACK;
    std::uint16_t bits = 8;
    std::uint16_t samples = 1;
    std::uint16_t compression = COMPRESSION_NONE;
    std::uint16_t planar = PLANARCONFIG_CONTIG;
    std::uint16_t extraSample = 0;  // EXTRASAMPLE_* of one extra sample, or 0 for none
    std::uint16_t sampleFormat = SAMPLEFORMAT_UINT;
    std::uint16_t orientation = ORIENTATION_TOPLEFT;
    std::uint16_t predictor = 0;
    std::uint32_t width = 27;
    std::uint32_t height = 19;
    std::uint32_t rowsPerStrip = 8;  // 0: one strip
    std::uint32_t tile = 0;          // 0: strips; else the tile's side, a multiple of 16
    std::uint32_t subfileType = FILETYPE_PAGE;
    bool thumbnail = false;  // a JPEG thumbnail in a SubIFD, as document-imaging files carry
};

bool Fail(const std::string& what) {
    std::fprintf(stderr, "make_fuzz_seeds: %s\n", what.c_str());
    return false;
}

// A gradient with a dark block, so every sample value and bit position occurs.
std::uint8_t Sample(std::uint32_t x, std::uint32_t y, std::uint16_t sample) {
    if (x < 8 && y < 6) {
        return static_cast<std::uint8_t>(20 * sample);
    }
    return static_cast<std::uint8_t>((x * 9 + y * 13 + sample * 60) & 0xff);
}

// One stored row (or, for separate planes, one row of one plane) of `samples` samples a pixel.
std::vector<std::uint8_t> StoredRow(const Page& page, std::uint32_t y, std::uint16_t plane,
                                    std::uint16_t samples, std::uint32_t x0, std::uint32_t pixels) {
    const std::size_t bitsPerRow = std::size_t{pixels} * samples * page.bits;
    std::vector<std::uint8_t> row((bitsPerRow + 7) / 8);
    std::size_t bit = 0;
    for (std::uint32_t x = x0; x < x0 + pixels; ++x) {
        for (std::uint16_t s = 0; s < samples; ++s, bit += page.bits) {
            const std::uint8_t value = Sample(x, y, static_cast<std::uint16_t>(plane + s));
            if (page.bits == 8) {
                row[bit / 8] = value;
            } else if (page.bits == 16) {
                const std::uint16_t wide = static_cast<std::uint16_t>(value * 257);
                std::memcpy(&row[bit / 8], &wide, sizeof wide);
            } else if (page.bits == 32) {
                const float level = value / 255.0f;
                std::memcpy(&row[bit / 8], &level, sizeof level);
            } else {
                const unsigned level = value >> (8 - page.bits);
                row[bit / 8] |= static_cast<std::uint8_t>(level << (8 - page.bits - bit % 8));
            }
        }
    }
    return row;
}

bool WriteTags(TIFF* tiff, const Page& page) {
    bool ok = TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, page.subfileType) &&
              TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, page.width) &&
              TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, page.height) &&
              TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, page.bits) &&
              TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, page.samples) &&
              TIFFSetField(tiff, TIFFTAG_SAMPLEFORMAT, page.sampleFormat) &&
              TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, page.planar) &&
              TIFFSetField(tiff, TIFFTAG_COMPRESSION, page.compression) &&
              TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, page.photometric) &&
              TIFFSetField(tiff, TIFFTAG_ORIENTATION, page.orientation) &&
              TIFFSetField(tiff, TIFFTAG_XRESOLUTION, 200.0) &&
              TIFFSetField(tiff, TIFFTAG_YRESOLUTION, 100.0) &&
              TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    if (page.predictor != 0) {
        ok = ok && TIFFSetField(tiff, TIFFTAG_PREDICTOR, page.predictor);
    }
    if (page.extraSample != 0) {
        const std::uint16_t kinds[] = {page.extraSample};
        ok = ok && TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, kinds);
    }
    if (page.photometric == PHOTOMETRIC_PALETTE) {
        const std::size_t entries = std::size_t{1} << page.bits;
        std::vector<std::uint16_t> red(entries), green(entries), blue(entries);
        for (std::size_t i = 0; i < entries; ++i) {
            red[i] = static_cast<std::uint16_t>(i * 65535 / (entries - 1));
            green[i] = static_cast<std::uint16_t>(65535 - red[i]);
            blue[i] = static_cast<std::uint16_t>((i * 7919) & 0xffff);
        }
        ok = ok && TIFFSetField(tiff, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
    }
    if (page.compression == COMPRESSION_JPEG) {
        ok = ok && TIFFSetField(tiff, TIFFTAG_JPEGQUALITY, 60);
        if (page.photometric == PHOTOMETRIC_YCBCR) {
            ok = ok && TIFFSetField(tiff, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
        }
    }
    if (page.tile != 0) {
        return ok && TIFFSetField(tiff, TIFFTAG_TILEWIDTH, page.tile) &&
               TIFFSetField(tiff, TIFFTAG_TILELENGTH, page.tile);
    }
    return ok && TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP,
                              page.rowsPerStrip == 0 ? page.height : page.rowsPerStrip);
}

bool WriteStrips(TIFF* tiff, const Page& page) {
    const bool separate = page.planar == PLANARCONFIG_SEPARATE;
    const std::uint16_t planes = separate ? page.samples : 1;
    for (std::uint16_t plane = 0; plane < planes; ++plane) {
        for (std::uint32_t y = 0; y < page.height; ++y) {
            auto row = StoredRow(page, y, plane, separate ? 1 : page.samples, 0, page.width);
            if (TIFFWriteScanline(tiff, row.data(), y, plane) < 0) {
                return false;
            }
        }
    }
    return true;
}

bool WriteTiles(TIFF* tiff, const Page& page) {
    const bool separate = page.planar == PLANARCONFIG_SEPARATE;
    const std::uint16_t planes = separate ? page.samples : 1;
    const std::uint16_t samples = separate ? 1 : page.samples;
    std::vector<std::uint8_t> tile(static_cast<std::size_t>(TIFFTileSize(tiff)));
    const std::size_t tileRowBytes = static_cast<std::size_t>(TIFFTileRowSize(tiff));
    for (std::uint16_t plane = 0; plane < planes; ++plane) {
        for (std::uint32_t ty = 0; ty < page.height; ty += page.tile) {
            for (std::uint32_t tx = 0; tx < page.width; tx += page.tile) {
                std::fill(tile.begin(), tile.end(), 0);
                for (std::uint32_t y = ty; y < ty + page.tile && y < page.height; ++y) {
                    const auto row = StoredRow(page, y, plane, samples, tx, page.tile);
                    std::memcpy(&tile[(y - ty) * tileRowBytes], row.data(),
                                std::min(row.size(), tileRowBytes));
                }
                if (TIFFWriteTile(tiff, tile.data(), tx, ty, 0, plane) < 0) {
                    return false;
                }
            }
        }
    }
    return true;
}

bool WriteImage(TIFF* tiff, const Page& page) {
    if (!WriteTags(tiff, page)) {
        return false;
    }
    return page.tile != 0 ? WriteTiles(tiff, page) : WriteStrips(tiff, page);
}

// A small JPEG-compressed thumbnail, reached only through the page's SubIFD tag.
bool WriteThumbnail(TIFF* tiff) {
    Page thumbnail;
    thumbnail.photometric = PHOTOMETRIC_YCBCR;
    thumbnail.samples = 3;
    thumbnail.compression = COMPRESSION_JPEG;
    thumbnail.width = 16;
    thumbnail.height = 16;
    thumbnail.rowsPerStrip = 16;
    thumbnail.subfileType = FILETYPE_REDUCEDIMAGE;
    return WriteImage(tiff, thumbnail) && TIFFWriteDirectory(tiff);
}

bool WritePage(TIFF* tiff, const Page& page) {
    if (page.thumbnail) {
        toff_t offsets[1] = {0};
        if (!TIFFSetField(tiff, TIFFTAG_SUBIFD, 1, offsets)) {
            return false;
        }
    }
    if (!WriteImage(tiff, page) || !TIFFWriteDirectory(tiff)) {
        return false;
    }
    return !page.thumbnail || WriteThumbnail(tiff);
}

// Overwrites the first two bytes with "EP", as document-imaging files have them.
bool MarkAsImagingFile(const std::filesystem::path& path) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.write("EP", 2);
    return static_cast<bool>(file);
}

bool WriteDocument(const std::filesystem::path& folder, const std::string& name,
                   const std::vector<Page>& pages, const char* mode = "wl",
                   bool imagingHeader = false) {
    const std::filesystem::path path = folder / name;
    TIFF* tiff = TIFFOpen(path.c_str(), mode);
    if (tiff == nullptr) {
        return Fail("cannot create " + path.string());
    }
    bool ok = true;
    for (std::size_t i = 0; ok && i < pages.size(); ++i) {
        ok = (pages.size() == 1 ||
              TIFFSetField(tiff, TIFFTAG_PAGENUMBER, static_cast<std::uint16_t>(i),
                           static_cast<std::uint16_t>(pages.size()))) &&
             WritePage(tiff, pages[i]);
    }
    TIFFClose(tiff);
    if (!ok) {
        return Fail("cannot write " + path.string());
    }
    return !imagingHeader || MarkAsImagingFile(path);
}

Page Kind(std::uint16_t photometric, std::uint16_t bits, std::uint16_t samples,
          std::uint16_t compression) {
    Page page;
    page.photometric = photometric;
    page.bits = bits;
    page.samples = samples;
    page.compression = compression;
    return page;
}

Page Tiled(Page page, std::uint32_t side = 16) {
    page.tile = side;
    page.width = 37;
    page.height = 21;
    return page;
}

Page Separate(Page page) {
    page.planar = PLANARCONFIG_SEPARATE;
    return page;
}

Page WithExtra(Page page, std::uint16_t kind) {
    page.samples = static_cast<std::uint16_t>(page.samples + 1);
    page.extraSample = kind;
    return page;
}

// A page in the imaging component's own codec: raw bytes libtiff stores but cannot decode.
bool WriteImagingCodecDocument(const std::filesystem::path& folder) {
    const std::filesystem::path path = folder / "imaging-codec.mdi";
    TIFF* tiff = TIFFOpen(path.c_str(), "wl");
    if (tiff == nullptr) {
        return Fail("cannot create " + path.string());
    }
    Page page = Kind(PHOTOMETRIC_RGB, 8, 3, 34720);
    page.rowsPerStrip = 0;
    page.thumbnail = true;
    toff_t offsets[1] = {0};
    const char payload[] = "progressive transform payload";
    const bool ok = TIFFSetField(tiff, TIFFTAG_SUBIFD, 1, offsets) && WriteTags(tiff, page) &&
                    TIFFWriteRawStrip(tiff, 0, const_cast<char*>(payload), sizeof payload) >= 0 &&
                    TIFFWriteDirectory(tiff) && WriteThumbnail(tiff);
    TIFFClose(tiff);
    return ok ? MarkAsImagingFile(path) : Fail("cannot write " + path.string());
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_fuzz_seeds FOLDER\n");
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        Fail("cannot create " + folder.string() + ": " + error.message());
        return 1;
    }
    TIFFSetWarningHandler(nullptr);

    const Page bilevelG4 = Kind(PHOTOMETRIC_MINISWHITE, 1, 1, COMPRESSION_CCITTFAX4);
    const Page grey8 = Kind(PHOTOMETRIC_MINISBLACK, 8, 1, COMPRESSION_NONE);
    const Page palette8 = Kind(PHOTOMETRIC_PALETTE, 8, 1, COMPRESSION_LZW);
    const Page rgb8 = Kind(PHOTOMETRIC_RGB, 8, 3, COMPRESSION_NONE);
    const Page cmyk = Kind(PHOTOMETRIC_SEPARATED, 8, 4, COMPRESSION_NONE);
    Page jpegYCbCr = Kind(PHOTOMETRIC_YCBCR, 8, 3, COMPRESSION_JPEG);
    jpegYCbCr.rowsPerStrip = 16;  // whole blocks of the subsampled chroma
    Page rgbPredictor = Kind(PHOTOMETRIC_RGB, 8, 3, COMPRESSION_LZW);
    rgbPredictor.predictor = PREDICTOR_HORIZONTAL;
    Page floatGrey = Kind(PHOTOMETRIC_MINISBLACK, 32, 1, COMPRESSION_NONE);
    floatGrey.sampleFormat = SAMPLEFORMAT_IEEEFP;
    Page rotated = Kind(PHOTOMETRIC_RGB, 8, 4, COMPRESSION_PACKBITS);
    rotated.extraSample = EXTRASAMPLE_ASSOCALPHA;
    rotated.orientation = ORIENTATION_BOTRIGHT;
    Page reduced = grey8;
    reduced.subfileType = FILETYPE_REDUCEDIMAGE;
    reduced.width = 9;
    reduced.height = 7;
    Page withThumbnail = rgb8;
    withThumbnail.thumbnail = true;
    Page oneStrip = Kind(PHOTOMETRIC_MINISWHITE, 1, 1, COMPRESSION_CCITTFAX3);
    oneStrip.rowsPerStrip = 0;

    struct Seed {
        const char* name;
        std::vector<Page> pages;
    };
    const std::vector<Seed> seeds = {
        {"bilevel-g4.tif", {bilevelG4}},
        {"bilevel-g3-one-strip.tif", {oneStrip}},
        {"bilevel-packbits.tif", {Kind(PHOTOMETRIC_MINISBLACK, 1, 1, COMPRESSION_PACKBITS)}},
        {"bilevel-tiled.tif", {Tiled(Kind(PHOTOMETRIC_MINISWHITE, 1, 1, COMPRESSION_NONE))}},
        {"grey2.tif", {Kind(PHOTOMETRIC_MINISBLACK, 2, 1, COMPRESSION_NONE)}},
        {"grey4-miniswhite.tif", {Kind(PHOTOMETRIC_MINISWHITE, 4, 1, COMPRESSION_NONE)}},
        {"grey8-lzw.tif", {Kind(PHOTOMETRIC_MINISBLACK, 8, 1, COMPRESSION_LZW)}},
        {"grey16-deflate.tif", {Kind(PHOTOMETRIC_MINISBLACK, 16, 1, COMPRESSION_ADOBE_DEFLATE)}},
        {"grey8-alpha.tif", {WithExtra(grey8, EXTRASAMPLE_UNASSALPHA)}},
        {"grey8-tiled.tif", {Tiled(grey8)}},
        {"grey-float.tif", {floatGrey}},
        {"grey-jpeg.tif", {Kind(PHOTOMETRIC_MINISBLACK, 8, 1, COMPRESSION_JPEG)}},
        {"palette1.tif", {Kind(PHOTOMETRIC_PALETTE, 1, 1, COMPRESSION_NONE)}},
        {"palette2.tif", {Kind(PHOTOMETRIC_PALETTE, 2, 1, COMPRESSION_NONE)}},
        {"palette4.tif", {Kind(PHOTOMETRIC_PALETTE, 4, 1, COMPRESSION_PACKBITS)}},
        {"palette8-lzw.tif", {palette8}},
        {"palette8-tiled.tif", {Tiled(palette8)}},
        {"rgb8.tif", {rgb8}},
        {"rgb8-lzw-predictor.tif", {rgbPredictor}},
        {"rgb16-deflate.tif", {Kind(PHOTOMETRIC_RGB, 16, 3, COMPRESSION_ADOBE_DEFLATE)}},
        {"rgb8-planes.tif", {Separate(rgb8)}},
        {"rgb8-planes-tiled.tif", {Tiled(Separate(rgb8))}},
        {"rgb8-tiled-32.tif", {Tiled(rgb8, 32)}},
        {"rgba-unassociated.tif", {WithExtra(rgb8, EXTRASAMPLE_UNASSALPHA)}},
        {"rgba-associated-rotated.tif", {rotated}},
        {"rgb-extra-sample.tif", {WithExtra(rgb8, EXTRASAMPLE_UNSPECIFIED)}},
        {"cmyk.tif", {cmyk}},
        {"cmyk-planes.tif", {Separate(cmyk)}},
        {"jpeg-ycbcr.tif", {jpegYCbCr}},
        {"jpeg-rgb.tif", {Kind(PHOTOMETRIC_RGB, 8, 3, COMPRESSION_JPEG)}},
        {"jpeg-ycbcr-tiled.tif", {Tiled(jpegYCbCr)}},
        {"thumbnail-subifd.tif", {withThumbnail}},
        {"pages-mixed.tif", {bilevelG4, grey8, palette8, Tiled(rgb8), cmyk}},
        {"pages-reduced-between.tif", {grey8, reduced, bilevelG4}},
        {"pages-thumbnails.tif", {withThumbnail, withThumbnail}},
    };
    bool ok = true;
    for (const Seed& seed : seeds) {
        ok = WriteDocument(folder, seed.name, seed.pages) && ok;
    }
    ok = WriteDocument(folder, "big-endian.tif", {grey8, Tiled(rgb8)}, "wb") && ok;
    ok = WriteDocument(folder, "bigtiff.tif", {bilevelG4, Separate(rgb8)}, "w8") && ok;
    ok = WriteDocument(folder, "imaging-header.mdi", {bilevelG4, withThumbnail}, "wl", true) && ok;
    ok = WriteImagingCodecDocument(folder) && ok;
    return ok ? 0 : 1;
}
