#include <tiffio.h>

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "test_support.h"

namespace vellumax {
namespace {

enum class Kind { Bilevel, Grey, Colour };

struct SampleCase {
    const char* fileName;
    std::vector<Kind> pages;
};
void PrintTo(const SampleCase& sample, std::ostream* out) {
    *out << sample.fileName;
}

const SampleCase kSamples[] = {{"Sample Letter.mdi", {Kind::Bilevel, Kind::Grey}},
                               {"Sample Invoice.mdi", {Kind::Bilevel, Kind::Grey, Kind::Colour}}};

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// libtiff reads the document from memory, so the file on disk keeps its own mark.
struct MemoryFile {
    QByteArray bytes;
    toff_t position = 0;
};

tmsize_t ReadMemory(thandle_t handle, void* buffer, tmsize_t size) {
    auto* file = static_cast<MemoryFile*>(handle);
    const toff_t available =
        toff_t(file->bytes.size()) - std::min(file->position, toff_t(file->bytes.size()));
    const toff_t count = std::min(toff_t(size), available);
    std::memcpy(buffer, file->bytes.constData() + file->position, count);
    file->position += count;
    return tmsize_t(count);
}
tmsize_t WriteMemory(thandle_t, void*, tmsize_t) {
    return 0;
}
toff_t SeekMemory(thandle_t handle, toff_t offset, int whence) {
    auto* file = static_cast<MemoryFile*>(handle);
    const toff_t base = whence == SEEK_CUR   ? file->position
                        : whence == SEEK_END ? toff_t(file->bytes.size())
                                             : 0;
    file->position = base + offset;
    return file->position;
}
int CloseMemory(thandle_t) {
    return 0;
}
toff_t SizeOfMemory(thandle_t handle) {
    return toff_t(static_cast<MemoryFile*>(handle)->bytes.size());
}
int MapMemory(thandle_t, void**, toff_t*) {
    return 0;
}
void UnmapMemory(thandle_t, void*, toff_t) {}

using TiffHandle = std::unique_ptr<TIFF, decltype(&TIFFClose)>;

TiffHandle OpenAsTiff(MemoryFile& file) {
    file.bytes.replace(0, 2, "II");
    return TiffHandle(TIFFClientOpen("sample", "rm", &file, ReadMemory, WriteMemory, SeekMemory,
                                     CloseMemory, SizeOfMemory, MapMemory, UnmapMemory),
                      &TIFFClose);
}

template <typename T>
T Field(TIFF* tiff, ttag_t tag) {
    T value{};
    TIFFGetFieldDefaulted(tiff, tag, &value);
    return value;
}

void ExpectPageOfKind(TIFF* tiff, Kind kind) {
    const auto compression = Field<uint16_t>(tiff, TIFFTAG_COMPRESSION);
    const bool lossless = compression == COMPRESSION_LZW ||
                          compression == COMPRESSION_ADOBE_DEFLATE ||
                          compression == COMPRESSION_DEFLATE;
    const auto samples = Field<uint16_t>(tiff, TIFFTAG_SAMPLESPERPIXEL);
    const auto bits = Field<uint16_t>(tiff, TIFFTAG_BITSPERSAMPLE);
    const auto photometric = Field<uint16_t>(tiff, TIFFTAG_PHOTOMETRIC);
    switch (kind) {
        case Kind::Bilevel:
            EXPECT_EQ(compression, COMPRESSION_CCITTFAX4);
            EXPECT_EQ(bits, 1);
            EXPECT_EQ(samples, 1);
            EXPECT_EQ(photometric, PHOTOMETRIC_MINISWHITE);
            break;
        case Kind::Grey:
            EXPECT_TRUE(lossless) << "compression " << compression;
            EXPECT_EQ(bits, 8);
            EXPECT_EQ(samples, 1);
            EXPECT_EQ(photometric, PHOTOMETRIC_MINISBLACK);
            break;
        case Kind::Colour:
            EXPECT_TRUE(lossless) << "compression " << compression;
            EXPECT_EQ(bits, 8);
            EXPECT_EQ(samples, 3);
            EXPECT_EQ(photometric, PHOTOMETRIC_RGB);
            break;
    }
}

void ExpectA4WithinBounds(TIFF* tiff) {
    ASSERT_EQ(Field<uint16_t>(tiff, TIFFTAG_RESOLUTIONUNIT), RESUNIT_INCH);
    const auto dpi = Field<float>(tiff, TIFFTAG_XRESOLUTION);
    EXPECT_EQ(Field<float>(tiff, TIFFTAG_YRESOLUTION), dpi);
    EXPECT_TRUE(dpi >= 200 && dpi <= 300) << dpi << " dpi";
    EXPECT_NEAR(Field<uint32_t>(tiff, TIFFTAG_IMAGEWIDTH), std::round(210 / 25.4 * dpi), 1);
    EXPECT_NEAR(Field<uint32_t>(tiff, TIFFTAG_IMAGELENGTH), std::round(297 / 25.4 * dpi), 1);
    EXPECT_LE(Field<uint32_t>(tiff, TIFFTAG_ROWSPERSTRIP) * TIFFScanlineSize(tiff), 64 * 1024);
    std::vector<char> strip(TIFFStripSize(tiff));
    for (uint32_t index = 0; index < TIFFNumberOfStrips(tiff); ++index) {
        ASSERT_GE(TIFFReadEncodedStrip(tiff, index, strip.data(), -1), 0) << "strip " << index;
    }
}

class SampleDocumentTest : public ::testing::TestWithParam<SampleCase> {
protected:
    QByteArray Document() const {
        return ReadFile(QStringLiteral(VELLUMAX_SAMPLES_DIR "/") + GetParam().fileName);
    }
};

TEST_P(SampleDocumentTest, StartsWithTheDocumentImagingMark) {
    EXPECT_EQ(Document().left(4), QByteArray("EP*\0", 4));
}

TEST_P(SampleDocumentTest, HoldsA4PagesOfTheExpectedKinds) {
    MemoryFile file{Document()};
    const TiffHandle tiff = OpenAsTiff(file);
    ASSERT_TRUE(tiff) << GetParam().fileName;
    ASSERT_EQ(TIFFNumberOfDirectories(tiff.get()), GetParam().pages.size());
    for (std::size_t page = 0; page < GetParam().pages.size(); ++page) {
        SCOPED_TRACE(::testing::Message() << "page " << page + 1);
        ASSERT_TRUE(TIFFSetDirectory(tiff.get(), tdir_t(page)));
        ExpectPageOfKind(tiff.get(), GetParam().pages[page]);
        ExpectA4WithinBounds(tiff.get());
    }
}

INSTANTIATE_TEST_SUITE_P(Samples, SampleDocumentTest, ::testing::ValuesIn(kSamples),
                         [](const auto& info) {
                             QString name = QString::fromUtf8(info.param.fileName);
                             return name.remove(' ').section('.', 0, 0).toStdString();
                         });

int RunGenerator(const QString& folder) {
    QProcess generator;
    generator.start(QStringLiteral(VELLUMAX_MAKE_SAMPLES), {folder});
    generator.waitForFinished(-1);
    return generator.exitStatus() == QProcess::NormalExit ? generator.exitCode() : -1;
}

TEST(MakeSamplesTest, DrawsTheSameBytesOnEveryRunAndNothingElse) {
    QTemporaryDir folder;
    ASSERT_EQ(RunGenerator(folder.path()), 0);
    QStringList expected;
    for (const SampleCase& sample : kSamples) {
        expected << sample.fileName;
        EXPECT_EQ(ReadFile(folder.filePath(sample.fileName)),
                  ReadFile(QStringLiteral(VELLUMAX_SAMPLES_DIR "/") + sample.fileName))
            << sample.fileName;
    }
    expected.sort();
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files, QDir::Name), expected);
}

TEST(MakeSamplesTest, FailsWhenTheFolderCannotBeMade) {
    QTemporaryDir folder;
    testing::MakeFile(folder.filePath("occupied"));
    EXPECT_NE(RunGenerator(folder.filePath("occupied/Samples")), 0);
}

}  // namespace
}  // namespace vellumax
