// The shared samples against the pictures they were coded from (tools/ptc_truth). The figures
// are the current decoder's, both ways: a decoder change that moves a page nearer its source
// or further from it shows here, and its new figures come with it.

#include <gtest/gtest.h>
#include <QFile>
#include <QFileInfo>

#include "test_support.h"

#include <string>

#include "ptc_truth/colour_truth.h"

namespace vellumax::tools {
namespace {

struct TruthRow {
    const char* folder;  // mdi (source .jpg) or mdi-art (source .tif)
    const char* stem;
    double rgbPsnr;
    // Of the decoded page where the source is pure black; -1 where the source has no black area
    // (a few single pixels at most, whose median means nothing).
    int blackMedian;
    // The Y offset of the macroblocks darker than 32: six JPEG sources are brighter there than
    // what their streams code, a tone no decoder can take from the stream.
    double shadowOffset;
};

void PrintTo(const TruthRow& row, std::ostream* out) {
    *out << row.stem;
}

class SourceFidelity : public ::testing::TestWithParam<TruthRow> {};

TEST_P(SourceFidelity, HoldsTheMeasuredFigures) {
    const TruthRow& row = GetParam();
    const QString testdata = testing::SharedTestData();
    const QString document = testdata + "/" + row.folder + "/" + row.stem + ".mdi";
    const QString source =
        testdata + "/sources/" + row.stem + (std::string(row.folder) == "mdi" ? ".jpg" : ".tif");
    if (!QFileInfo::exists(document) || !QFileInfo::exists(source)) {
        GTEST_SKIP() << "the shared sample " << row.stem << " or its source is not there";
    }
    std::string problem;
    const auto picture = ReadPicture(QFile::encodeName(source).toStdString(), problem);
    ASSERT_TRUE(picture.has_value()) << problem;
    const auto figures =
        MeasureAgainstSource(QFile::encodeName(document).toStdString(), *picture, problem);
    ASSERT_TRUE(figures.has_value()) << problem;

    EXPECT_NEAR(figures->rgbPsnr, row.rgbPsnr, 0.05);
    if (row.blackMedian >= 0) {
        EXPECT_EQ(figures->blackMedianAll, row.blackMedian);
    }
    EXPECT_NEAR(Shadows(*figures).offset, row.shadowOffset, 0.05);
}

INSTANTIATE_TEST_SUITE_P(
    Shared, SourceFidelity,
    ::testing::Values(TruthRow{"mdi", "annie-spratt-OWq8w3BYMFY-unsplash", 32.75, -1, 0.17},
                      TruthRow{"mdi", "cecelia-chang-noPK6HYqUog-unsplash", 31.32, 1, 0.13},
                      TruthRow{"mdi", "christoph-nolte-Fz9lwCFtzfo-unsplash", 36.58, -1, 0.10},
                      TruthRow{"mdi", "eren-yildiz-7L0Hq0jGI6Q-unsplash", 37.25, -1, 0.00},
                      TruthRow{"mdi", "esra-korkmaz-d4G0U-PPhI8-unsplash", 38.65, 0, -1.70},
                      TruthRow{"mdi", "hombre-pYAbtWwJslg-unsplash", 36.98, 0, -1.31},
                      TruthRow{"mdi", "isabela-kronemberger-hxOg4o5oNFA-unsplash", 37.63, -1,
                               -1.35},
                      TruthRow{"mdi", "joshua-kettle-DUMmX4a7m4o-unsplash", 39.15, 0, -1.49},
                      TruthRow{"mdi", "kasia-01Nt1Ub6oA8-unsplash", 40.33, 0, -1.32},
                      TruthRow{"mdi", "minh-GjFGaumWkjM-unsplash", 29.67, -1, -1.11},
                      TruthRow{"mdi-art", "C_futoshi_stand", 33.56, 0, 0.38},
                      TruthRow{"mdi-art", "C_goro_stand", 32.43, 0, 0.72},
                      TruthRow{"mdi-art", "C_hiro_stand", 32.81, 0, 0.51},
                      TruthRow{"mdi-art", "C_ichigo_stand", 31.65, 0, 0.88},
                      TruthRow{"mdi-art", "C_ikuno_stand", 32.71, 0, 0.54}),
    [](const auto& info) {
        const std::string stem = info.param.stem;
        return stem.substr(0, stem.find('-'));
    });

}  // namespace
}  // namespace vellumax::tools
