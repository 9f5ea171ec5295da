// The transform codec on whole pages: a small stream made here, and the shared sample
// documents, through the decoder and through the document reader.

#include <gtest/gtest.h>
#include <jpeglib.h>
#include <tiffio.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "test_support.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <csetjmp>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "../../tools/common/colour_stream.h"
#include "../../tools/edge_ratio/edge_ratio_meter.h"
#include "conversion/ptc/ptc_decoder.h"
#include "conversion/ptc/ptc_stream.h"
#include "conversion/reader/document_reader.h"

namespace vellumax::ptc {
namespace {

using testing::Native;

using Bytes = std::vector<std::uint8_t>;

void Put16(Bytes& bytes, std::size_t at, std::uint32_t value) {
    bytes[at] = static_cast<std::uint8_t>(value);
    bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void Put32(Bytes& bytes, std::size_t at, std::uint32_t value) {
    Put16(bytes, at, value & 0xFFFF);
    Put16(bytes, at + 2, value >> 16);
}

void Append16(Bytes& bytes, std::uint32_t value) {
    bytes.resize(bytes.size() + 2);
    Put16(bytes, bytes.size() - 2, value);
}

// A 64 × 40 page in four 16-row tiles of one chunk each. Only tile 0, the bottom stripe, codes
// anything: luma DC +1 in each of its four macroblocks (1 0 0 0 0, then three zero flags).
Bytes SmallStream() {
    constexpr std::uint32_t kTiles = 4;
    std::vector<Bytes> tiles;
    for (std::uint32_t tile = 0; tile < kTiles; ++tile) {
        Bytes chunk;
        const bool coded = tile == 0;
        Append16(chunk, coded ? 15 : 14);
        Append16(chunk, coded ? 5 : 4);
        Append16(chunk, coded ? 4 : 0);
        if (coded) {
            chunk.push_back(0x80);
        }
        for (int chroma = 0; chroma < 2; ++chroma) {
            Append16(chunk, 4);
            Append16(chunk, 0);
        }
        tiles.push_back(chunk);
    }
    Bytes stream(86);
    std::memcpy(stream.data(), "PTC+MSHM", 8);
    Put16(stream, 8, 20);
    Put32(stream, 24, 1);
    Put16(stream, 44, 2);
    Put16(stream, 46, 1);
    Put32(stream, 48, 314678);
    Put32(stream, 52, 314678);
    Put32(stream, 60, 40);
    Put32(stream, 64, 64);
    Put32(stream, 76, 8);
    Put16(stream, 80, 3);
    Put16(stream, 82, 3);
    Put16(stream, 84, 64);
    std::uint32_t offset = 0;
    for (const Bytes& tile : tiles) {
        stream.resize(stream.size() + 4);
        Put32(stream, stream.size() - 4, offset);
        offset += static_cast<std::uint32_t>(tile.size());
    }
    for (const Bytes& tile : tiles) {
        stream.insert(stream.end(), tile.begin(), tile.end());
    }
    Put32(stream, 20, static_cast<std::uint32_t>(stream.size() - 86));
    Put32(stream, 40, static_cast<std::uint32_t>(stream.size() - 86));
    return stream;
}

// Wraps a stream as the one strip of a colour page of a document-imaging file.
void WriteDocument(const QString& path, const Bytes& stream, std::uint32_t width,
                   std::uint32_t height) {
    {
        std::unique_ptr<TIFF, decltype(&TIFFClose)> tiff(
            TIFFOpen(QFile::encodeName(path).constData(), "wl"), &TIFFClose);
        ASSERT_NE(tiff, nullptr);
        TIFFSetField(tiff.get(), TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
        TIFFSetField(tiff.get(), TIFFTAG_IMAGEWIDTH, width);
        TIFFSetField(tiff.get(), TIFFTAG_IMAGELENGTH, height);
        TIFFSetField(tiff.get(), TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tiff.get(), TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFSetField(tiff.get(), TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(tiff.get(), TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tiff.get(), TIFFTAG_COMPRESSION, 34720);
        TIFFSetField(tiff.get(), TIFFTAG_ROWSPERSTRIP, height);
        ASSERT_EQ(TIFFWriteRawStrip(tiff.get(), 0, const_cast<std::uint8_t*>(stream.data()),
                                    static_cast<tmsize_t>(stream.size())),
                  static_cast<tmsize_t>(stream.size()));
    }
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    file.write("EP", 2);
}

// The rows of the first page of a written TIFF file, 3 bytes a pixel.
std::vector<Bytes> ReadRgbRows(const QString& path) {
    std::unique_ptr<TIFF, decltype(&TIFFClose)> tiff(
        TIFFOpen(QFile::encodeName(path).constData(), "r"), &TIFFClose);
    std::vector<Bytes> rows;
    if (!tiff) {
        return rows;
    }
    std::uint32_t height = 0;
    TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &height);
    for (std::uint32_t row = 0; row < height; ++row) {
        Bytes bytes(static_cast<std::size_t>(TIFFScanlineSize64(tiff.get())));
        if (TIFFReadScanline(tiff.get(), bytes.data(), row, 0) < 0) {
            return {};
        }
        rows.push_back(bytes);
    }
    return rows;
}

TEST(SmallPage, ConvertsWithTilesFromTheBottomAndPaddingAbove) {
    QTemporaryDir folder;
    const QString source = folder.filePath("page.mdi");
    const QString target = folder.filePath("page.tif");
    WriteDocument(source, SmallStream(), 64, 40);

    ASSERT_EQ(SaveDocumentAsTiff(Native(source), Native(target)), std::nullopt);
    const std::vector<Bytes> rows = ReadRgbRows(target);
    ASSERT_EQ(rows.size(), 40u);
    // The coded area is 64 rows with 24 of padding on top; tile 0 covers page rows 24 to 39.
    // Far from the filtered edge between the tiles, a DC of 1 at step 480 is 480 / 16 = 30
    // on every sample, 30 >> 3 = 3 above mid-grey; the rest stays mid-grey.
    for (std::size_t row = 0; row < 40; ++row) {
        if (row >= 14 && row < 34) {
            continue;
        }
        const std::uint8_t grey = row >= 34 ? 131 : 128;
        EXPECT_EQ(rows[row], Bytes(64 * 3, grey)) << row;
    }
}

TEST(SmallPage, DecoderHoldsNoDamage) {
    std::string problem;
    const auto decoder = PageDecoder::Open(SmallStream(), problem);
    ASSERT_NE(decoder, nullptr) << problem;
    const RecordCount count = CountRecords(decoder->stream());
    EXPECT_EQ(count.damaged, 0u);
    EXPECT_EQ(count.total, 12u);
}

struct DamageRow {
    const char* name;
    std::size_t at;
    std::uint32_t value;
    int width;  // 1, 2 or 4 bytes
};

void PrintTo(const DamageRow& row, std::ostream* out) {
    *out << row.name;
}

class DamagedStream : public ::testing::TestWithParam<DamageRow> {};

// The bytes of the tiles start at 86 + 16; tile 0's chunk is 15 bytes, luma record first.
TEST_P(DamagedStream, FailsTheDocumentAndWritesNothing) {
    const DamageRow& row = GetParam();
    Bytes stream = SmallStream();
    if (row.width == 1) {
        stream[row.at] = static_cast<std::uint8_t>(row.value);
    } else if (row.width == 2) {
        Put16(stream, row.at, row.value);
    } else {
        Put32(stream, row.at, row.value);
    }
    QTemporaryDir folder;
    const QString source = folder.filePath("page.mdi");
    const QString target = folder.filePath("page.tif");
    WriteDocument(source, stream, 64, 40);

    const auto failure = SaveDocumentAsTiff(Native(source), Native(target));
    ASSERT_NE(failure, std::nullopt);
    EXPECT_EQ(failure->number, 321);
    EXPECT_TRUE(failure->description.starts_with("Invalid file format: page 1 cannot be decoded: "))
        << failure->description;
    EXPECT_FALSE(QFileInfo::exists(target));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DamagedStream,
    ::testing::Values(DamageRow{"magic", 0, 'Q', 1}, DamageRow{"version", 8, 430, 2},
                      DamageRow{"data length past the end", 20, 100000, 4},
                      DamageRow{"page height other than the page's", 60, 41, 4},
                      DamageRow{"chunk width not a multiple of 32", 84, 48, 2},
                      DamageRow{"tile offsets going back", 86 + 8, 1, 4},
                      DamageRow{"chunk longer than its tile", 102, 16, 2},
                      DamageRow{"record longer than its chunk", 104, 9, 2},
                      DamageRow{"too many coefficients", 106, 64 * 16 + 1, 2},
                      DamageRow{"coefficient count past the coded values", 106, 5, 2},
                      DamageRow{"padding bit set", 108, 0x81, 1}));

TEST(DamagedStream, ReportsHowManyRecordsFailed) {
    Bytes stream = SmallStream();
    stream[108] = 0x81;  // tile 0's luma record: the padding after its four values
    QTemporaryDir folder;
    const QString source = folder.filePath("page.mdi");
    WriteDocument(source, stream, 64, 40);

    const auto failure = SaveDocumentAsTiff(Native(source), Native(folder.filePath("page.tif")));
    ASSERT_NE(failure, std::nullopt);
    EXPECT_EQ(failure->description,
              "Invalid file format: page 1 cannot be decoded: 1 of its 12 colour records are "
              "damaged");
}

TEST(DamagedStream, TruncatedOrFlippedStreamsNeverCrash) {
    const Bytes intact = SmallStream();
    QTemporaryDir folder;
    const QString source = folder.filePath("page.mdi");
    const QString target = folder.filePath("page.tif");
    for (std::size_t length = 1; length < intact.size(); ++length) {
        WriteDocument(source, Bytes(intact.begin(), intact.begin() + length), 64, 40);
        const auto failure = SaveDocumentAsTiff(Native(source), Native(target));
        ASSERT_NE(failure, std::nullopt) << length;
        EXPECT_EQ(failure->number, 321) << length;
        EXPECT_FALSE(QFileInfo::exists(target)) << length;
    }
    for (std::size_t bit = 0; bit < 8 * intact.size(); ++bit) {
        Bytes flipped = intact;
        flipped[bit / 8] ^= static_cast<std::uint8_t>(0x80 >> bit % 8);
        WriteDocument(source, flipped, 64, 40);
        // Some flips leave a stream that still decodes (a reserved field, another value).
        const auto failure = SaveDocumentAsTiff(Native(source), Native(target));
        if (failure) {
            EXPECT_EQ(failure->number, 321) << bit;
            EXPECT_FALSE(QFileInfo::exists(target)) << bit;
        }
        QFile::remove(target);
    }
}

// ---- The shared samples

QString SamplePath(const QString& name) {
    const QString path = testing::SharedTestData() + "/mdi/" + name;
    return QFileInfo::exists(path) ? path : QString();
}

struct Sample {
    Bytes file;
    Bytes stream;
    Bytes thumbnail;  // a baseline JPEG
};

using tools::FirstStrip;
using tools::FirstThumbnail;
using tools::ReadLittle;
using tools::Slice;
using tools::TagValue;

std::optional<Sample> LoadSample(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    const QByteArray all = file.readAll();
    Sample sample;
    sample.file.assign(all.begin(), all.end());
    sample.stream = FirstStrip(sample.file);
    sample.thumbnail = FirstThumbnail(sample.file);
    return sample;
}

struct Picture {
    int width = 0;
    int height = 0;
    Bytes rgb;
};

struct JpegErrorExit {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

jpeg_error_mgr* JumpOnError(JpegErrorExit& error) {
    jpeg_std_error(&error.manager);
    error.manager.error_exit = [](j_common_ptr common) {
        std::longjmp(reinterpret_cast<JpegErrorExit*>(common->err)->jump, 1);
    };
    return &error.manager;
}

// How the thumbnail was coded: its quantisation tables and each component's sampling.
struct JpegCoding {
    std::array<std::array<unsigned, DCTSIZE2>, NUM_QUANT_TBLS> tables{};
    std::array<bool, NUM_QUANT_TBLS> present{};
    struct Component {
        int horizontal;
        int vertical;
        int table;
    };
    std::vector<Component> components;
};

void ReadCoding(const jpeg_decompress_struct& info, JpegCoding& coding) {
    for (int table = 0; table < NUM_QUANT_TBLS; ++table) {
        if (const JQUANT_TBL* quant = info.quant_tbl_ptrs[table]) {
            coding.present[table] = true;
            std::copy_n(quant->quantval, DCTSIZE2, coding.tables[table].begin());
        }
    }
    for (int component = 0; component < info.num_components; ++component) {
        const jpeg_component_info& one = info.comp_info[component];
        coding.components.push_back({one.h_samp_factor, one.v_samp_factor, one.quant_tbl_no});
    }
}

// Decodes a JPEG to RGB; `coding`, when given, receives how it was coded.
Picture DecodeJpeg(const Bytes& jpeg, JpegCoding* coding = nullptr) {
    Picture picture;
    jpeg_decompress_struct info{};
    JpegErrorExit error{};
    info.err = JumpOnError(error);
    jpeg_create_decompress(&info);
    if (setjmp(error.jump) != 0) {
        jpeg_destroy_decompress(&info);
        return {};
    }
    jpeg_mem_src(&info, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&info, TRUE);
    if (coding != nullptr) {
        ReadCoding(info, *coding);
    }
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    picture.width = static_cast<int>(info.output_width);
    picture.height = static_cast<int>(info.output_height);
    picture.rgb.resize(std::size_t(picture.width) * picture.height * 3);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = picture.rgb.data() + std::size_t(info.output_scanline) * picture.width * 3;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return picture;
}

// Codes a picture as the thumbnail was coded and decodes it again, so that it carries the
// same losses as the thumbnail: its colour at half resolution and its quantisation.
Picture ThroughJpeg(const std::vector<double>& rgb, int width, int height,
                    const JpegCoding& coding) {
    Bytes pixels(rgb.size());
    std::transform(rgb.begin(), rgb.end(), pixels.begin(), [](double value) {
        return static_cast<std::uint8_t>(std::clamp(std::lround(value), 0L, 255L));
    });
    jpeg_compress_struct info{};
    jpeg_error_mgr manager{};
    info.err = jpeg_std_error(&manager);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    for (int table = 0; table < NUM_QUANT_TBLS; ++table) {
        if (coding.present[table]) {
            jpeg_add_quant_table(&info, table, coding.tables[table].data(), 100, FALSE);
        }
    }
    for (std::size_t component = 0;
         component < coding.components.size() && component < std::size_t(info.num_components);
         ++component) {
        info.comp_info[component].h_samp_factor = coding.components[component].horizontal;
        info.comp_info[component].v_samp_factor = coding.components[component].vertical;
        info.comp_info[component].quant_tbl_no = coding.components[component].table;
    }
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = pixels.data() + std::size_t(info.next_scanline) * width * 3;
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    const Picture picture = DecodeJpeg(Bytes(buffer, buffer + size));
    std::free(buffer);
    return picture;
}

// The page shrunk to the thumbnail's size by averaging: each thumbnail pixel covers an equal
// part of the page, and a page pixel on the border of two such parts counts toward both by
// the share it has in each.
struct Shrunk {
    std::vector<double> rgb;
};

// The cells that page pixel `index` of `count` falls in when `count` pixels are shrunk to
// `cells`, with its weight in each (at most two, as there are fewer cells than pixels).
struct CellShare {
    std::size_t first;
    double firstWeight;
    double secondWeight;  // in cell first + 1
};

CellShare ShareOf(std::uint32_t index, std::uint32_t count, int cells) {
    const double begin = double(index) * cells / count;
    const double end = double(index + 1) * cells / count;
    const double boundary = std::floor(begin) + 1;
    const auto first = static_cast<std::size_t>(begin);
    if (end <= boundary || first + 1 >= std::size_t(cells)) {
        return {first, end - begin, 0};
    }
    return {first, boundary - begin, end - boundary};
}

Shrunk ShrinkPage(PageDecoder& decoder, int width, int height) {
    const StreamFrame& frame = decoder.frame();
    std::vector<double> sums(std::size_t(width) * height * 3);
    std::vector<double> weights(std::size_t(width) * height);
    Bytes row(std::size_t{frame.width} * 3);
    std::vector<double> rowSums(std::size_t(width) * 3);
    std::vector<double> rowWeights(static_cast<std::size_t>(width));
    for (std::uint32_t y = 0; y < frame.height; ++y) {
        if (!decoder.ReadRow(row)) {
            ADD_FAILURE() << decoder.problem();
            return {};
        }
        std::fill(rowSums.begin(), rowSums.end(), 0);
        std::fill(rowWeights.begin(), rowWeights.end(), 0);
        for (std::uint32_t x = 0; x < frame.width; ++x) {
            const CellShare share = ShareOf(x, frame.width, width);
            for (int channel = 0; channel < 3; ++channel) {
                rowSums[share.first * 3 + channel] += share.firstWeight * row[x * 3 + channel];
                if (share.secondWeight > 0) {
                    rowSums[(share.first + 1) * 3 + channel] +=
                        share.secondWeight * row[x * 3 + channel];
                }
            }
            rowWeights[share.first] += share.firstWeight;
            if (share.secondWeight > 0) {
                rowWeights[share.first + 1] += share.secondWeight;
            }
        }
        const CellShare rows = ShareOf(y, frame.height, height);
        for (const auto& [cellRow, weight] : {std::pair{rows.first, rows.firstWeight},
                                              std::pair{rows.first + 1, rows.secondWeight}}) {
            if (weight <= 0) {
                continue;
            }
            for (std::size_t column = 0; column < std::size_t(width); ++column) {
                const std::size_t cell = cellRow * width + column;
                for (int channel = 0; channel < 3; ++channel) {
                    sums[cell * 3 + channel] += weight * rowSums[column * 3 + channel];
                }
                weights[cell] += weight * rowWeights[column];
            }
        }
    }
    for (std::size_t sample = 0; sample < sums.size(); ++sample) {
        sums[sample] /= std::max(weights[sample / 3], 1e-9);
    }
    return {sums};
}

template <typename Samples1, typename Samples2>
double Psnr(const Samples1& samples, const Samples2& expected) {
    double squares = 0;
    for (std::size_t at = 0; at < samples.size() && at < expected.size(); ++at) {
        const double difference = samples[at] - expected[at];
        squares += difference * difference;
    }
    return samples.empty() ? 0 : 10 * std::log10(255.0 * 255.0 * double(samples.size()) / squares);
}

class Samples : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        const QString path = SamplePath(GetParam());
        if (path.isEmpty()) {
            GTEST_SKIP() << "the shared sample " << GetParam() << " is not there";
        }
        path_ = path;
        auto sample = LoadSample(path);
        ASSERT_TRUE(sample.has_value());
        sample_ = std::move(*sample);
    }

    std::unique_ptr<PageDecoder> Decoder(Damage damage) const {
        std::string problem;
        auto decoder = PageDecoder::Open(sample_.stream, problem, damage);
        EXPECT_NE(decoder, nullptr) << problem;
        return decoder;
    }

    QString path_;
    Sample sample_;
};

TEST_P(Samples, EveryRecordDecodesExactly) {
    const auto decoder = Decoder(Damage::Fail);
    ASSERT_NE(decoder, nullptr);
    EXPECT_EQ(CountRecords(decoder->stream()).damaged, 0u);
}

// The thumbnail is a JPEG of quality 75 with its colour at half resolution, and on detailed
// photographs its own losses come to about 30 dB: a page decoded without fault would miss
// 30 dB against it on several samples. So the page, shrunk to the thumbnail's size, goes
// through the thumbnail's own coding before the comparison, which leaves what the decoder
// got wrong. "psnrPlain" is the figure without that step, "psnrThumbnailLoss" what the coding
// alone costs the shrunk page.
TEST_P(Samples, MatchesItsThumbnail) {
    JpegCoding coding;
    const Picture thumbnail = DecodeJpeg(sample_.thumbnail, &coding);
    ASSERT_GT(thumbnail.width, 0);
    const auto decoder = Decoder(Damage::Fail);
    ASSERT_NE(decoder, nullptr);
    const Shrunk shrunk = ShrinkPage(*decoder, thumbnail.width, thumbnail.height);
    const Picture coded = ThroughJpeg(shrunk.rgb, thumbnail.width, thumbnail.height, coding);
    ASSERT_EQ(coded.rgb.size(), thumbnail.rgb.size());
    RecordProperty("psnrPlain", std::to_string(Psnr(shrunk.rgb, thumbnail.rgb)));
    RecordProperty("psnrThumbnailLoss", std::to_string(Psnr(coded.rgb, shrunk.rgb)));
    const double psnr = Psnr(coded.rgb, thumbnail.rgb);
    RecordProperty("psnr", std::to_string(psnr));
    EXPECT_GE(psnr, 30.0);
}

// Mean absolute step between neighbouring pixels, across and down: of luma, and of the two
// colour differences (R − B and G − (R + B) / 2) together.
struct Roughness {
    double luma = 0;
    double colour = 0;
};

Roughness MeasureRoughness(PageDecoder& decoder) {
    const StreamFrame& frame = decoder.frame();
    const std::size_t width = frame.width;
    std::vector<std::array<double, 3>> above(width);  // luma, R − B, G − (R + B) / 2
    Bytes row(width * 3);
    Roughness sums;
    for (std::uint32_t y = 0; y < frame.height; ++y) {
        if (!decoder.ReadRow(row)) {
            ADD_FAILURE() << decoder.problem();
            return {};
        }
        std::array<double, 3> left{};
        for (std::size_t x = 0; x < width; ++x) {
            const double red = row[3 * x], green = row[3 * x + 1], blue = row[3 * x + 2];
            const std::array<double, 3> here{0.299 * red + 0.587 * green + 0.114 * blue, red - blue,
                                             green - (red + blue) / 2};
            for (const auto* neighbour : {x > 0 ? &left : nullptr, y > 0 ? &above[x] : nullptr}) {
                if (neighbour != nullptr) {
                    sums.luma += std::abs(here[0] - (*neighbour)[0]);
                    sums.colour +=
                        std::abs(here[1] - (*neighbour)[1]) + std::abs(here[2] - (*neighbour)[2]);
                }
            }
            left = here;
            above[x] = here;
        }
    }
    const double pixels = double(width) * frame.height;
    return {sums.luma / pixels, sums.colour / pixels};
}

// A coefficient put in the wrong place or with the wrong sign adds a pattern the thumbnails are
// too small to show: a page decoded so is rougher. These are the figures of the current
// decoder (the measured transform weights lowered every one); a change may lower them, not
// raise them.
TEST_P(Samples, IsNoRougherThanMeasured) {
    const std::map<std::string, Roughness> measured = {
        {"annie", {4.1368, 2.6982}},     {"cecelia", {5.9462, 2.7336}},
        {"christoph", {3.0328, 0.9093}}, {"eren", {1.9506, 1.9405}},
        {"esra", {1.0401, 0.8430}},      {"hombre", {3.0837, 1.7071}},
        {"isabela", {1.6372, 1.9338}},   {"joshua", {0.7715, 0.8511}},
        {"kasia", {0.4891, 0.7998}},     {"minh", {8.5146, 2.8200}}};
    const std::string name = std::string(GetParam()).substr(0, std::string(GetParam()).find('-'));
    ASSERT_EQ(measured.count(name), 1u) << name;
    const auto decoder = Decoder(Damage::Fail);
    ASSERT_NE(decoder, nullptr);
    const Roughness roughness = MeasureRoughness(*decoder);
    EXPECT_LE(roughness.luma, measured.at(name).luma + 0.001);
    EXPECT_LE(roughness.colour, measured.at(name).colour + 0.001);
}

// How strongly the coding grid shows in each channel (tools/edge_ratio_meter.h): a chroma
// coefficient at the wrong scale or a missing overlap filter steps the colour at every block
// or macroblock edge. These are the figures of the current decoder (Y, Co, Cg). They rose with
// the measured transform weights, whose overlap filters smooth less than the old ones did (the
// coefficients, not this measure, settled them; see the notes on the format); a change may
// lower them, not raise them.
struct GridRow {
    const char* folder;
    const char* name;
    std::array<double, 3> figures;
};

void PrintTo(const GridRow& row, std::ostream* out) {
    *out << row.name;
}

class SampleGrid : public ::testing::TestWithParam<GridRow> {};

TEST_P(SampleGrid, ShowsNoMoreThanMeasured) {
    const GridRow& row = GetParam();
    const QDir folder(testing::SharedTestData() + "/" + row.folder);
    const QStringList files = folder.entryList({QString(row.name) + "*.mdi"}, QDir::Files);
    if (files.isEmpty()) {
        GTEST_SKIP() << "the shared sample " << row.name << " is not there";
    }
    const auto sample = LoadSample(folder.filePath(files.front()));
    ASSERT_TRUE(sample.has_value());
    std::string problem;
    const auto decoder = PageDecoder::Open(sample->stream, problem);
    ASSERT_NE(decoder, nullptr) << problem;
    EdgeRatioMeter meter(decoder->frame().width, decoder->frame().height);
    Bytes rgb(3 * std::size_t{decoder->frame().width});
    for (std::uint32_t y = 0; y < decoder->frame().height; ++y) {
        ASSERT_TRUE(decoder->ReadRow(rgb)) << decoder->problem();
        meter.AddRow(rgb);
    }
    for (int channel = 0; channel < EdgeRatioMeter::kChannels; ++channel) {
        EXPECT_LE(meter.Figure(channel), row.figures[channel] + 0.005) << channel;
    }
}

INSTANTIATE_TEST_SUITE_P(Shared, SampleGrid,
                         ::testing::Values(GridRow{"mdi", "annie", {1.73, 1.78, 1.45}},
                                           GridRow{"mdi", "cecelia", {1.58, 1.78, 1.48}},
                                           GridRow{"mdi", "christoph", {1.37, 1.86, 1.79}},
                                           GridRow{"mdi", "eren", {1.93, 2.03, 1.90}},
                                           GridRow{"mdi", "esra", {2.09, 1.75, 1.56}},
                                           GridRow{"mdi", "hombre", {1.95, 1.64, 1.74}},
                                           GridRow{"mdi", "isabela", {2.05, 1.97, 1.67}},
                                           GridRow{"mdi", "joshua", {2.17, 1.77, 1.64}},
                                           GridRow{"mdi", "kasia", {2.64, 1.98, 1.78}},
                                           GridRow{"mdi", "minh", {1.38, 1.72, 1.40}},
                                           GridRow{"mdi-art", "C_futoshi", {1.78, 1.45, 1.44}},
                                           GridRow{"mdi-art", "C_goro", {1.79, 1.63, 1.43}},
                                           GridRow{"mdi-art", "C_hiro", {1.62, 1.71, 1.52}},
                                           GridRow{"mdi-art", "C_ichigo", {1.83, 2.23, 1.71}},
                                           GridRow{"mdi-art", "C_ikuno", {1.86, 1.74, 1.45}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(Samples, ConvertsToAPageOfItsSize) {
    QTemporaryDir folder;
    const QString target = folder.filePath("page.tif");
    const auto decoder = Decoder(Damage::Fail);
    ASSERT_NE(decoder, nullptr);

    ASSERT_EQ(SaveDocumentAsTiff(Native(path_), Native(target)), std::nullopt);
    EXPECT_EQ(ReadRgbRows(target).size(), decoder->frame().height);
}

// Cut short, a sample fails whole. A flipped bit may still leave a valid stream (a reserved
// field, a sign bit): then the page is written whole; otherwise nothing is written.
TEST_P(Samples, TruncatedOrFlippedStreamsFailWithoutCrashing) {
    QTemporaryDir folder;
    const QString source = folder.filePath("page.mdi");
    const QString target = folder.filePath("page.tif");
    const std::uint32_t strip = TagValue(sample_.file, ReadLittle(sample_.file, 4, 4), 273);
    const auto convert = [&](const Bytes& bytes) {
        QFile file(source);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
        file.close();
        QFile::remove(target);
        return SaveDocumentAsTiff(Native(source), Native(target));
    };
    for (const std::size_t keep :
         {std::size_t{90}, sample_.stream.size() / 3, sample_.stream.size() * 2 / 3}) {
        Bytes bytes = sample_.file;
        // Cutting the strip short keeps the file's directories after it. (The last bytes may
        // be zero already: the last record is often an empty one.)
        std::fill(bytes.begin() + strip + keep, bytes.begin() + strip + sample_.stream.size(), 0);
        const auto failure = convert(bytes);
        ASSERT_NE(failure, std::nullopt) << keep;
        EXPECT_EQ(failure->number, 321) << keep;
        EXPECT_FALSE(QFileInfo::exists(target)) << keep;
    }
    const auto decoder = Decoder(Damage::Fail);
    ASSERT_NE(decoder, nullptr);
    for (const std::size_t at : {std::size_t{30}, std::size_t{100}, sample_.stream.size() / 2,
                                 sample_.stream.size() - 2}) {
        Bytes bytes = sample_.file;
        bytes[strip + at] ^= 0x10;
        const auto failure = convert(bytes);
        if (failure) {
            EXPECT_EQ(failure->number, 321) << at;
            EXPECT_FALSE(QFileInfo::exists(target)) << at;
        } else {
            EXPECT_EQ(ReadRgbRows(target).size(), decoder->frame().height) << at;
        }
    }
}

// The drawn figures have flat areas and hard edges the photographs lack; the damage checks
// must pass their records too.
TEST(DrawnSamples, EveryRecordDecodesExactly) {
    const QDir folder(testing::SharedTestData() + "/mdi-art");
    const QFileInfoList files = folder.entryInfoList({"*.mdi"}, QDir::Files);
    if (files.isEmpty()) {
        GTEST_SKIP() << "the shared drawn samples are not there";
    }
    for (const QFileInfo& file : files) {
        const auto sample = LoadSample(file.filePath());
        ASSERT_TRUE(sample.has_value());
        std::string problem;
        const auto decoder = PageDecoder::Open(sample->stream, problem);
        ASSERT_NE(decoder, nullptr) << problem;
        EXPECT_EQ(CountRecords(decoder->stream()).damaged, 0u) << file.fileName().toStdString();
    }
}

// The colour streams of every page of a document, first page first.
std::vector<Bytes> PageStreams(const Bytes& file) {
    std::vector<Bytes> streams;
    // A damaged chain of directories could loop; no sample comes near this many pages.
    constexpr int kMaxPages = 64;
    std::uint32_t page = ReadLittle(file, 4, 4);
    for (int count = 0; page != 0 && count < kMaxPages; ++count) {
        if (TagValue(file, page, 259) == 34720) {
            streams.push_back(Slice(file, TagValue(file, page, 273), TagValue(file, page, 279)));
        }
        page = ReadLittle(file, page + 2 + 12 * std::size_t{ReadLittle(file, page, 2)}, 4);
    }
    return streams;
}

// FNV-1a over every row a page decodes to.
std::uint64_t DecodedHash(PageDecoder& decoder) {
    std::uint64_t hash = 0xcbf29ce484222325;
    Bytes row(3 * std::size_t{decoder.frame().width});
    for (std::uint32_t y = 0; y < decoder.frame().height; ++y) {
        if (!decoder.ReadRow(row)) {
            ADD_FAILURE() << decoder.problem();
            return 0;
        }
        for (const std::uint8_t byte : row) {
            hash = (hash ^ byte) * 0x100000001b3;
        }
    }
    return hash;
}

// Work on the decoder's speed must leave every pixel as it was: these are the hashes of the
// pages as the separable transforms with the measured weights decode them (full transforms on
// every block, no shortcut for blocks that code only their DC). A change meant to alter the
// picture takes new hashes from such a decoder.
TEST(SharedSamples, DecodeToTheSameBytes) {
    const std::map<std::string, std::vector<std::uint64_t>> expected = {
        {"mdi-art/C_futoshi_stand.mdi", {0xc80f2a45a32bc0b2}},
        {"mdi-art/C_goro_stand.mdi", {0x832beb6d49236a19}},
        {"mdi-art/C_hiro_stand.mdi", {0x29bd93eec26beb47}},
        {"mdi-art/C_ichigo_stand.mdi", {0x5d64358774bdef2b}},
        {"mdi-art/C_ikuno_stand.mdi", {0xa4abb0b04a6bf721}},
        {"mdi/annie-spratt-OWq8w3BYMFY-unsplash.mdi", {0xf62483a535000def}},
        {"mdi/cecelia-chang-noPK6HYqUog-unsplash.mdi", {0x6cafd8b2e6465fa7}},
        {"mdi/christoph-nolte-Fz9lwCFtzfo-unsplash.mdi", {0xf27ead9436e38210}},
        {"mdi/eren-yildiz-7L0Hq0jGI6Q-unsplash.mdi", {0xe05f936f84fc8ba7}},
        {"mdi/esra-korkmaz-d4G0U-PPhI8-unsplash.mdi", {0x54497ca1a1d6bcbc}},
        {"mdi/hombre-pYAbtWwJslg-unsplash.mdi", {0x9d596426b8c6108e}},
        {"mdi/isabela-kronemberger-hxOg4o5oNFA-unsplash.mdi", {0x2c7e252494380c11}},
        {"mdi/joshua-kettle-DUMmX4a7m4o-unsplash.mdi", {0xb512d1384e4cd016}},
        {"mdi/kasia-01Nt1Ub6oA8-unsplash.mdi", {0x14e7b12a39d96835}},
        {"mdi/minh-GjFGaumWkjM-unsplash.mdi", {0x38e8f4839794411d}},
    };
    QStringList absent;
    for (const auto& [name, hashes] : expected) {
        const QString path = testing::SharedTestData() + "/" + QString::fromStdString(name);
        if (!QFileInfo::exists(path)) {
            absent << QString::fromStdString(name);
            continue;
        }
        const auto sample = LoadSample(path);
        ASSERT_TRUE(sample.has_value()) << name;
        std::vector<std::uint64_t> decoded;
        for (const Bytes& stream : PageStreams(sample->file)) {
            std::string problem;
            const auto decoder = PageDecoder::Open(stream, problem);
            ASSERT_NE(decoder, nullptr) << name << ": " << problem;
            decoded.push_back(DecodedHash(*decoder));
        }
        EXPECT_EQ(decoded, hashes) << name;
    }
    if (!absent.isEmpty()) {
        GTEST_SKIP() << "the shared samples " << absent.join(", ").toStdString()
                     << " are not there";
    }
}

INSTANTIATE_TEST_SUITE_P(Shared, Samples,
                         ::testing::Values("annie-spratt-OWq8w3BYMFY-unsplash.mdi",
                                           "cecelia-chang-noPK6HYqUog-unsplash.mdi",
                                           "christoph-nolte-Fz9lwCFtzfo-unsplash.mdi",
                                           "eren-yildiz-7L0Hq0jGI6Q-unsplash.mdi",
                                           "esra-korkmaz-d4G0U-PPhI8-unsplash.mdi",
                                           "hombre-pYAbtWwJslg-unsplash.mdi",
                                           "isabela-kronemberger-hxOg4o5oNFA-unsplash.mdi",
                                           "joshua-kettle-DUMmX4a7m4o-unsplash.mdi",
                                           "kasia-01Nt1Ub6oA8-unsplash.mdi",
                                           "minh-GjFGaumWkjM-unsplash.mdi"),
                         [](const auto& info) {
                             std::string name = info.param;
                             name = name.substr(0, name.find('-'));
                             return name;
                         });

}  // namespace
}  // namespace vellumax::ptc
