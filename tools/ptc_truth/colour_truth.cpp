#include "ptc_truth/colour_truth.h"

#include <jpeglib.h>
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>

#include "common/colour_stream.h"
#include "conversion/ptc/ptc_decoder.h"

namespace vellumax::tools {
namespace {

// Every macroblock is four blocks of four samples across; down, four blocks of the layout's
// rows. Chroma samples cover 2 × 2 pixels.
constexpr std::uint32_t kMacroblockColumns = 16;
constexpr std::uint32_t kChromaScale = 2;

struct JpegReader {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    std::jmp_buf failed;

    JpegReader() {
        info.err = jpeg_std_error(&errors);
        errors.error_exit = [](j_common_ptr common) {
            std::longjmp(static_cast<JpegReader*>(common->client_data)->failed, 1);
        };
        jpeg_create_decompress(&info);
        info.client_data = this;
    }
    ~JpegReader() { jpeg_destroy_decompress(&info); }
    JpegReader(const JpegReader&) = delete;
    JpegReader& operator=(const JpegReader&) = delete;
};

std::optional<RgbPicture> ReadJpeg(const std::vector<std::uint8_t>& file, std::string& problem) {
    JpegReader reader;
    RgbPicture picture;
    // The jump back from a libjpeg error passes no destructor: whatever has one was made before
    // this point.
    if (setjmp(reader.failed) != 0) {
        problem = "is a damaged JPEG";
        return std::nullopt;
    }
    jpeg_mem_src(&reader.info, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_read_header(&reader.info, TRUE);
    reader.info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&reader.info);
    picture.width = reader.info.output_width;
    picture.height = reader.info.output_height;
    picture.rgb.resize(3 * std::size_t{picture.width} * picture.height);
    while (reader.info.output_scanline < picture.height) {
        JSAMPROW row =
            picture.rgb.data() + 3 * std::size_t{reader.info.output_scanline} * picture.width;
        jpeg_read_scanlines(&reader.info, &row, 1);
    }
    jpeg_finish_decompress(&reader.info);
    return picture;
}

std::optional<RgbPicture> ReadTiff(const std::string& path, std::string& problem) {
    const std::unique_ptr<TIFF, decltype(&TIFFClose)> tiff(TIFFOpen(path.c_str(), "r"), &TIFFClose);
    if (!tiff) {
        problem = "cannot be read as TIFF";
        return std::nullopt;
    }
    RgbPicture picture;
    std::uint16_t bits = 0, samples = 0, planar = 0, photometric = 0;
    TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &picture.width);
    TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &picture.height);
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetField(tiff.get(), TIFFTAG_PHOTOMETRIC, &photometric);
    if (bits != 8 || samples < 3 || planar != PLANARCONFIG_CONTIG ||
        photometric != PHOTOMETRIC_RGB || TIFFIsTiled(tiff.get())) {
        problem = "is not an 8-bit RGB TIFF in strips";
        return std::nullopt;
    }
    picture.rgb.resize(3 * std::size_t{picture.width} * picture.height);
    std::vector<std::uint8_t> line(static_cast<std::size_t>(TIFFScanlineSize64(tiff.get())));
    for (std::uint32_t y = 0; y < picture.height; ++y) {
        if (TIFFReadScanline(tiff.get(), line.data(), y, 0) < 0) {
            problem = "has an unreadable row";
            return std::nullopt;
        }
        std::uint8_t* out = picture.rgb.data() + 3 * std::size_t{y} * picture.width;
        for (std::uint32_t x = 0; x < picture.width; ++x) {
            std::copy_n(line.data() + std::size_t{samples} * x, 3, out + 3 * std::size_t{x});
        }
    }
    return picture;
}

double Psnr(double squares, double count) {
    return squares > 0 ? 10 * std::log10(255.0 * 255.0 * count / squares) : 99.99;
}

std::array<double, 3> YCoCg(const std::uint8_t* pixel) {
    const double red = pixel[0], green = pixel[1], blue = pixel[2];
    return {(red + 2 * green + blue) / 4, red - blue, green - (red + blue) / 2};
}

void AddToGroup(BrightnessGroups& groups, double level, double offset) {
    const auto bound =
        std::upper_bound(kBrightnessBounds.begin() + 1, kBrightnessBounds.end() - 1, level);
    BrightnessGroup& group = groups[bound - kBrightnessBounds.begin() - 1];
    group.offset += offset;
    ++group.blocks;
}

void AverageGroups(BrightnessGroups& groups) {
    for (BrightnessGroup& group : groups) {
        group.offset = group.blocks ? group.offset / double(group.blocks) : 0;
    }
}

// The lower median of a histogram of `count` values.
int Median(const std::array<std::uint64_t, 256>& histogram, std::uint64_t count) {
    std::uint64_t seen = 0;
    for (int value = 0; value < 256; ++value) {
        seen += histogram[value];
        if (2 * seen >= count) {
            return value;
        }
    }
    return 0;
}

class TruthMeter {
public:
    explicit TruthMeter(const RgbPicture& source)
        : source_(source),
          blocksAcross_((source.width + kMacroblockColumns - 1) / kMacroblockColumns),
          blocks_(std::size_t{blocksAcross_} *
                  ((source.height + kMacroblockColumns - 1) / kMacroblockColumns)) {}

    void AddRow(std::uint32_t y, const std::uint8_t* decoded) {
        const std::uint8_t* source = source_.Row(y);
        // Rows of the coding grid count from the bottom of the page.
        const std::uint32_t gridRow = source_.height - 1 - y;
        for (std::uint32_t x = 0; x < source_.width; ++x) {
            const std::uint8_t* want = source + 3 * x;
            const std::uint8_t* got = decoded + 3 * x;
            const bool flat = Flat(x, y);
            for (int c = 0; c < 3; ++c) {
                const double error = double(got[c]) - want[c];
                squares_[c] += error * error;
                offsets_[c] += error;
                flatOffsets_[c] += flat ? error : 0;
            }
            flatPixels_ += flat;
            if (want[0] == 0 && want[1] == 0 && want[2] == 0) {
                ++blackPixels_;
                for (int c = 0; c < 3; ++c) {
                    ++black_[c][got[c]];
                }
            }
            const auto wanted = YCoCg(want);
            const auto decodedChannels = YCoCg(got);
            figures_.luma.Add(gridRow, x, decodedChannels[0] - wanted[0]);
            AddToBlock(gridRow, x, wanted[0], decodedChannels[0]);
            figures_.co.Add(gridRow / kChromaScale, x / kChromaScale,
                            decodedChannels[1] - wanted[1]);
            figures_.cg.Add(gridRow / kChromaScale, x / kChromaScale,
                            decodedChannels[2] - wanted[2]);
        }
    }

    TruthFigures Figures() {
        const double pixels = double(source_.width) * source_.height;
        std::array<std::uint64_t, 256> allBlack{};
        for (int c = 0; c < 3; ++c) {
            figures_.psnr[c] = Psnr(squares_[c], pixels);
            figures_.offset[c] = offsets_[c] / pixels;
            figures_.flatOffset[c] = flatPixels_ ? flatOffsets_[c] / double(flatPixels_) : 0;
            figures_.blackMedian[c] = Median(black_[c], blackPixels_);
            for (int value = 0; value < 256; ++value) {
                allBlack[value] += black_[c][value];
            }
        }
        figures_.rgbPsnr = Psnr(squares_[0] + squares_[1] + squares_[2], 3 * pixels);
        figures_.flatPixels = flatPixels_;
        figures_.blackPixels = blackPixels_;
        figures_.blackMedianAll = Median(allBlack, 3 * blackPixels_);
        GroupBlocksByBrightness();
        return figures_;
    }

private:
    struct BlockSums {
        double source = 0;
        double decoded = 0;
        std::uint32_t pixels = 0;
    };

    void AddToBlock(std::uint32_t gridRow, std::uint32_t x, double source, double decoded) {
        BlockSums& block = blocks_[std::size_t{gridRow / kMacroblockColumns} * blocksAcross_ +
                                   x / kMacroblockColumns];
        block.source += source;
        block.decoded += decoded;
        ++block.pixels;
    }

    // Only whole macroblocks: a cut one at the top or right is averaged over too few pixels.
    void GroupBlocksByBrightness() {
        constexpr std::uint32_t kWhole = kMacroblockColumns * kMacroblockColumns;
        for (const BlockSums& block : blocks_) {
            if (block.pixels != kWhole) {
                continue;
            }
            AddToGroup(figures_.byBrightness, block.source / kWhole,
                       (block.decoded - block.source) / kWhole);
        }
        AverageGroups(figures_.byBrightness);
    }

    bool Flat(std::uint32_t x, std::uint32_t y) const {
        std::array<int, 3> low{255, 255, 255};
        std::array<int, 3> high{0, 0, 0};
        for (std::uint32_t row = y ? y - 1 : 0; row <= std::min(y + 1, source_.height - 1); ++row) {
            for (std::uint32_t column = x ? x - 1 : 0; column <= std::min(x + 1, source_.width - 1);
                 ++column) {
                const std::uint8_t* pixel = source_.Row(row) + 3 * column;
                for (int c = 0; c < 3; ++c) {
                    low[c] = std::min<int>(low[c], pixel[c]);
                    high[c] = std::max<int>(high[c], pixel[c]);
                }
            }
        }
        for (int c = 0; c < 3; ++c) {
            if (high[c] - low[c] > kFlatLevels) {
                return false;
            }
        }
        return true;
    }

    const RgbPicture& source_;
    std::array<double, 3> squares_{};
    std::array<double, 3> offsets_{};
    std::array<double, 3> flatOffsets_{};
    std::uint64_t flatPixels_ = 0;
    std::uint64_t blackPixels_ = 0;
    std::array<std::array<std::uint64_t, 256>, 3> black_{};
    std::uint32_t blocksAcross_;
    std::vector<BlockSums> blocks_;
    TruthFigures figures_;
};

}  // namespace

std::optional<RgbPicture> ReadPicture(const std::string& path, std::string& problem) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<std::uint8_t> file{std::istreambuf_iterator<char>(in), {}};
    if (file.size() >= 2 && file[0] == 0xFF && file[1] == 0xD8) {
        return ReadJpeg(file, problem);
    }
    return ReadTiff(path, problem);
}

PositionEnergy::PositionEnergy(const ptc::ChannelLayout& layout)
    : rows(4 * static_cast<std::uint32_t>(layout.blockRows)),
      columns(kMacroblockColumns),
      squares(std::size_t{rows} * columns),
      counts(std::size_t{rows} * columns) {}

void PositionEnergy::Add(std::uint32_t row, std::uint32_t column, double error) {
    const std::size_t at = std::size_t{row % rows} * columns + column % columns;
    squares[at] += error * error;
    counts[at] += 1;
}

double PositionEnergy::At(std::uint32_t row, std::uint32_t column) const {
    const std::size_t at = std::size_t{row} * columns + column;
    return counts[at] > 0 ? squares[at] / counts[at] : 0;
}

double PositionEnergy::Mean() const {
    double sum = 0, count = 0;
    for (std::size_t at = 0; at < squares.size(); ++at) {
        sum += squares[at];
        count += counts[at];
    }
    return count > 0 ? sum / count : 0;
}

namespace {

// Decodes the page of `stream` row by row, handing each row with its number to `take`, when the
// page has the size of `source`.
bool DecodeAlongside(const Bytes& stream, const RgbPicture& source, std::string& problem,
                     const std::function<void(std::uint32_t, const std::uint8_t*)>& take) {
    const auto decoder = ptc::PageDecoder::Open(stream, problem);
    if (!decoder) {
        return false;
    }
    if (decoder->frame().width != source.width || decoder->frame().height != source.height) {
        problem = "the page is " + std::to_string(decoder->frame().width) + " × " +
                  std::to_string(decoder->frame().height) + ", its source " +
                  std::to_string(source.width) + " × " + std::to_string(source.height);
        return false;
    }
    std::vector<std::uint8_t> row(3 * std::size_t{source.width});
    for (std::uint32_t y = 0; y < source.height; ++y) {
        if (!decoder->ReadRow(row)) {
            problem = decoder->problem();
            return false;
        }
        take(y, row.data());
    }
    return true;
}

// The mean Y of each thumbnail pixel's area of a full-size picture.
class Shrinker {
public:
    Shrinker(std::uint32_t width, std::uint32_t height, const RgbPicture& thumbnail)
        : width_(width),
          height_(height),
          thumbnail_(thumbnail),
          sums_(std::size_t{thumbnail.width} * thumbnail.height),
          counts_(sums_.size()) {}

    void AddRow(std::uint32_t y, const std::uint8_t* rgb) {
        const std::size_t row = std::size_t{y} * thumbnail_.height / height_ * thumbnail_.width;
        for (std::uint32_t x = 0; x < width_; ++x) {
            const std::size_t at = row + std::size_t{x} * thumbnail_.width / width_;
            sums_[at] += YCoCg(rgb + 3 * x)[0];
            ++counts_[at];
        }
    }
    double Mean(std::size_t at) const { return sums_[at] / counts_[at]; }

private:
    std::uint32_t width_;
    std::uint32_t height_;
    const RgbPicture& thumbnail_;
    std::vector<double> sums_;
    std::vector<double> counts_;
};

}  // namespace

std::optional<ThumbnailFigures> MeasureThumbnail(const std::string& document,
                                                 const RgbPicture& source, std::string& problem) {
    const Bytes file = FileBytes(document);
    const auto thumbnail = ReadJpeg(FirstThumbnail(file), problem);
    if (!thumbnail) {
        return std::nullopt;
    }
    Shrinker shrunkSource(source.width, source.height, *thumbnail);
    Shrinker shrunkPage(source.width, source.height, *thumbnail);
    const bool decoded = DecodeAlongside(FirstStrip(file), source, problem,
                                         [&](std::uint32_t y, const std::uint8_t* row) {
                                             shrunkSource.AddRow(y, source.Row(y));
                                             shrunkPage.AddRow(y, row);
                                         });
    if (!decoded) {
        return std::nullopt;
    }
    ThumbnailFigures figures;
    for (std::size_t at = 0; at < thumbnail->rgb.size() / 3; ++at) {
        const double level = shrunkSource.Mean(at);
        const double thumbnailLevel = YCoCg(thumbnail->rgb.data() + 3 * at)[0];
        AddToGroup(figures.againstSource, level, thumbnailLevel - level);
        AddToGroup(figures.againstPage, level, thumbnailLevel - shrunkPage.Mean(at));
    }
    AverageGroups(figures.againstSource);
    AverageGroups(figures.againstPage);
    return figures;
}

BrightnessGroup Shadows(const TruthFigures& figures) {
    BrightnessGroup dark;
    for (const BrightnessGroup& group : {figures.byBrightness[0], figures.byBrightness[1]}) {
        dark.offset += group.offset * double(group.blocks);
        dark.blocks += group.blocks;
    }
    dark.offset = dark.blocks ? dark.offset / double(dark.blocks) : 0;
    return dark;
}

std::optional<TruthFigures> MeasureAgainstSource(const std::string& document,
                                                 const RgbPicture& source, std::string& problem) {
    TruthMeter meter(source);
    const bool decoded = DecodeAlongside(
        ColourStream(document), source, problem,
        [&meter](std::uint32_t y, const std::uint8_t* row) { meter.AddRow(y, row); });
    return decoded ? std::optional(meter.Figures()) : std::nullopt;
}

}  // namespace vellumax::tools
