// The transform codec's parts on small vectors. Every expected value here was worked out by
// hand from the code's definition (bit strings, lifting steps, coefficient tables).

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "conversion/ptc/ptc_entropy.h"
#include "conversion/ptc/ptc_layout.h"
#include "conversion/ptc/ptc_stream.h"
#include "conversion/ptc/ptc_transform.h"

namespace vellumax::ptc {
namespace {

struct RecordRow {
    const char* name;
    std::vector<std::uint8_t> payload;
    std::uint32_t planeColumns;
    std::uint32_t dcCount;
    std::vector<std::int32_t> expected;  // empty: the record is damaged
    std::size_t damagedCount = 2;        // the count a damaged record is decoded with
};

void PrintTo(const RecordRow& row, std::ostream* out) {
    *out << row.name;
}

class RecordDecoding : public ::testing::TestWithParam<RecordRow> {};

TEST_P(RecordDecoding, GivesTheCodedValuesOrReportsDamage) {
    const RecordRow& row = GetParam();
    const std::size_t count = row.expected.empty() ? row.damagedCount : row.expected.size();
    std::vector<std::int32_t> values(count, 99);
    const bool exact = DecodeRecord(row.payload, row.planeColumns, row.dcCount, values);
    if (row.expected.empty()) {
        EXPECT_FALSE(exact);
        return;
    }
    EXPECT_TRUE(exact);
    EXPECT_EQ(values, row.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RecordDecoding,
    ::testing::Values(
        // 1 (value after a run of none), 0 (no zeros), 1 (negative), 0 (q = 0), 0 (remainder).
        RecordRow{"single negative value", {0xA0}, 16, 16, {-1}},
        // 0: a whole run of 2 zeros; 1 1: one more zero, then a value; 0: positive; 0 1: m = 1.
        RecordRow{"run then value", {0x64}, 16, 16, {0, 0, 0, 2}},
        // Run mode drops to flag mode after the first value: 1 0 0 111110 0 gives +11 and
        // lifts the Rice parameter to 8/8 = 1; 1 1 10 1 gives -4; 0 is one zero.
        RecordRow{"flag mode after a value", {0x9F, 0x3A}, 16, 16, {11, -4, 0}},
        // Three complete runs of 2 zeros lift the run parameter to 19/8 = 2: 1 00 0 0 1 is
        // +2 after no more zeros and drops it to 12/8 = 1; the last run of 2 is cut at the
        // stream's end. 0 0 0 1 0 0 0 0 1 0.
        RecordRow{"run cut at the end", {0x10, 0x80}, 16, 16, {0, 0, 0, 0, 0, 0, 2, 0}},
        // Two columns in the first stream (-1, then a zero flag), then a fresh start for +1.
        RecordRow{"second stream", {0xA0, 0x80}, 2, 1, {-1, 0, 1}},
        RecordRow{"padding not zero", {0xA1}, 16, 16, {}},
        RecordRow{"bytes after the last stream", {0xA0, 0x00}, 16, 16, {}},
        RecordRow{"stream cut short", {0x9F}, 16, 16, {}},
        RecordRow{"empty payload", {}, 16, 16, {}},
        // One zero, cut from a run: the encoder writes no values for a record without any.
        RecordRow{"no non-zero value", {0x00}, 16, 16, {}, 1},
        // -1 then 0 decodes, but a record with values past its DC group ends non-zero.
        RecordRow{"last value zero", {0xA0}, 16, 1, {}},
        // 1 0 0, 21 ones, 0 0 gives +43, lifts the Rice parameter to 24/8 = 3 and leaves flag
        // mode, which now codes sign and |v| without a flag: 1 10 101 is -13; 0 0 000 is 0 and
        // drops the parameter to 2, so 1 1 0 01 is -2 with its flag again.
        RecordRow{"no flag from Rice parameter 3",
                  {0x9F, 0xFF, 0xFF, 0x35, 0x06, 0x40},
                  4,
                  4,
                  {43, -13, 0, -2}},
        // The same with the zero's sign bit set: the encoder writes no minus zero.
        RecordRow{"minus zero", {0x9F, 0xFF, 0xFF, 0x35, 0x86, 0x40}, 4, 4, {}, 4},
        // 25 ones make +51 and the Rice parameter 28/8 = 3. Each unflagged zero (0 0 000) lifts
        // the run state by 2, so only after the fourth (at 8) does run mode return: 1 1 1 0 001
        // is a run of one zero, then -2.
        RecordRow{"unflagged zeros return to run mode",
                  {0x9F, 0xFF, 0xFF, 0xF0, 0x00, 0x00, 0x38, 0x80},
                  7,
                  7,
                  {51, 0, 0, 0, 0, 0, -2}}));

// 17 complete runs (2, 2, 2, 4 ... 512, 512, 1024) cover 2906 zeros; the run state stops at
// 80, so the next run length still has 10 bits: 0100001101 = 269 more zeros, then +1.
TEST(RunLength, StopsGrowingAtTenBits) {
    std::vector<std::int32_t> values(3176, 99);
    ASSERT_TRUE(DecodeRecord(std::vector<std::uint8_t>{0x00, 0x00, 0x50, 0xD0}, 3176, 1, values));
    std::vector<std::int32_t> expected(3176, 0);
    expected.back() = 1;
    EXPECT_EQ(values, expected);
}

// A 4×4 block in a plane of its own.
struct Block {
    std::array<std::array<std::int32_t, 4>, 4> samples{};

    Grid4 grid() {
        return {{samples[0].data(), samples[1].data(), samples[2].data(), samples[3].data()}, 1};
    }
};

using Rows4 = std::array<std::array<std::int32_t, 4>, 4>;

TEST(CoreTransform, SpreadsADcEvenly) {
    Block block;
    block.samples[0][0] = 64;
    InverseCoreTransform(block.grid());
    for (const auto& row : block.samples) {
        EXPECT_EQ(row, (std::array<std::int32_t, 4>{16, 16, 16, 16}));
    }
}

TEST(CoreTransform, TurnsTheFirstHorizontalFrequencyIntoAFallingRow) {
    Block block;
    block.samples[0][1] = 8;
    InverseCoreTransform(block.grid());
    EXPECT_EQ(block.samples,
              (Rows4{{{3, 1, -1, -3}, {3, 1, -1, -3}, {3, 1, -1, -3}, {3, 1, -1, -3}}}));
}

TEST(CoreTransform, WorksOnSpreadSamples) {
    // The second level reads block DCs four samples apart.
    std::array<std::int32_t, 13> row0{}, row1{}, row2{}, row3{};
    row0[0] = 64;
    InverseCoreTransform({{row0.data(), row1.data(), row2.data(), row3.data()}, 4});
    for (const auto* row : {&row0, &row1, &row2, &row3}) {
        for (std::size_t x = 0; x < row->size(); ++x) {
            EXPECT_EQ((*row)[x], x % 4 == 0 ? 16 : 0) << x;
        }
    }
}

TEST(OverlapFilter, LeavesAFlatWindowAlone) {
    Block block;
    for (auto& row : block.samples) {
        row.fill(16);
    }
    InverseOverlapFilter(block.grid());
    for (const auto& row : block.samples) {
        EXPECT_EQ(row, (std::array<std::int32_t, 4>{16, 16, 16, 16}));
    }
}

TEST(OverlapFilter, TurnsAStepIntoARamp) {
    Block block;
    for (auto& row : block.samples) {
        row = {0, 0, 8, 8};
    }
    InverseOverlapFilter(block.grid());
    EXPECT_EQ(block.samples, (Rows4{{{1, 2, 6, 7}, {1, 2, 6, 7}, {1, 2, 6, 7}, {1, 2, 6, 7}}}));
}

// Chroma's first-level overlap filters, on a line of samples across one block edge.
struct EdgeRow {
    const char* name;
    std::vector<std::int32_t> samples;  // four across a column edge, or two across a row edge
    std::vector<std::int32_t> expected;
};

void PrintTo(const EdgeRow& row, std::ostream* out) {
    *out << row.name;
}

class ChromaEdgeFilter : public ::testing::TestWithParam<EdgeRow> {};

TEST_P(ChromaEdgeFilter, SmoothsAStepAndLeavesFlatSamples) {
    std::vector<std::int32_t> samples = GetParam().samples;
    if (samples.size() == 4) {
        InverseEdgeFilter(samples[0], samples[1], samples[2], samples[3]);
    } else {
        InversePairFilter(samples[0], samples[1]);
    }
    EXPECT_EQ(samples, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ChromaEdgeFilter,
    ::testing::Values(EdgeRow{"flat across", {16, 16, 16, 16}, {16, 16, 16, 16}},
                      // Differences -16 and -16 become -13 and -6 around means 8 and 8 (and
                      // -14 and -6 in whole samples).
                      EdgeRow{"step across", {0, 0, 16, 16}, {1, 5, 11, 15}},
                      EdgeRow{"flat down", {9, 9}, {9, 9}},
                      // The mean 8 keeps 5/8 of the difference, 10 of 16.
                      EdgeRow{"rising step down", {0, 16}, {3, 13}},
                      EdgeRow{"falling step down", {16, 0}, {13, 3}},
                      EdgeRow{"one level down", {0, 1}, {0, 1}}));

TEST(ChromaBlock, AveragesTheCoreTransformsRowsInPairs) {
    std::array<std::int32_t, 4> top{64, 0, 0, 0}, bottom{};
    InverseChromaBlock(top.data(), bottom.data());
    EXPECT_EQ(top, (std::array<std::int32_t, 4>{16, 16, 16, 16}));
    EXPECT_EQ(bottom, (std::array<std::int32_t, 4>{16, 16, 16, 16}));

    top = {0, 8, 0, 0};
    bottom = {};
    InverseChromaBlock(top.data(), bottom.data());
    EXPECT_EQ(top, (std::array<std::int32_t, 4>{3, 1, -1, -3}));
    EXPECT_EQ(bottom, (std::array<std::int32_t, 4>{3, 1, -1, -3}));
}

// A stripe of `rows` rows, `columns` wide, and where each value landed.
struct Stripe {
    Stripe(int rows, std::uint32_t columns)
        : samples(static_cast<std::size_t>(rows), std::vector<std::int32_t>(columns)) {
        for (auto& row : samples) {
            pointers.push_back(row.data());
        }
    }
    std::vector<std::vector<std::int32_t>> samples;
    std::vector<std::int32_t*> pointers;
};

struct PlacementRow {
    const char* name;
    bool luma;
    std::uint32_t columns;
    std::size_t index;  // of the one non-zero value past the DC group
    int row;
    std::uint32_t column;
    std::int32_t value = 30;  // 3 at step 10
};

void PrintTo(const PlacementRow& row, std::ostream* out) {
    *out << row.name;
}

class Placement : public ::testing::TestWithParam<PlacementRow> {};

TEST_P(Placement, PutsEachCoefficientAtItsBlockPosition) {
    const PlacementRow& row = GetParam();
    const ChannelLayout& layout = row.luma ? kLumaLayout : kChromaLayout;
    const std::uint32_t macroblocks = row.columns / 16;
    std::vector<std::int32_t> values(row.index + 1);
    values[0] = 5;  // the DC group is coded as differences: both macroblocks get 5
    values[row.index] = 3;
    Stripe stripe(4 * layout.blockRows, row.columns + 8);
    PlaceCoefficients(layout, values, row.columns, 10, stripe.pointers, 8);

    for (std::uint32_t macroblock = 0; macroblock < macroblocks; ++macroblock) {
        EXPECT_EQ(stripe.samples[0][8 + 16 * macroblock], 50) << macroblock;
    }
    EXPECT_EQ(stripe.samples[row.row][8 + row.column], row.value);
    int nonZero = 0;
    for (const auto& samples : stripe.samples) {
        for (const std::int32_t sample : samples) {
            nonZero += sample != 0;
        }
    }
    EXPECT_EQ(nonZero, static_cast<int>(macroblocks) + 1);
}

// Luma chunk of 32 columns: 2 macroblocks, 32 blocks. Chroma chunk of 32 columns: 2
// macroblocks of 4×2 blocks, 32 blocks.
INSTANTIATE_TEST_SUITE_P(
    Rows, Placement,
    ::testing::Values(
        // Second level: coefficient 1 of macroblock 1 is (0, 1) of its grid of block DCs.
        PlacementRow{"luma second level", true, 32, 1 + 2 * 1, 0, 16 + 4},
        // Coefficient 2 of macroblock 1 is (1, 0), a block row up in coding order.
        PlacementRow{"luma second level vertical", true, 32, 1 + 2 * 2, 4, 16},
        // Coefficient 4 of macroblock 0 is (0, 2): a frequency of 2 or 3 one way changes the
        // sign, in both directions at once it does not (coefficient 10 is (2, 2)).
        PlacementRow{"luma second level high frequency", true, 32, 0 + 2 * 4, 0, 8, -30},
        PlacementRow{"luma second level high both ways", true, 32, 0 + 2 * 10, 8, 8},
        // First subgroup from 32, three values a block: block 2 of the path is (1, 1).
        PlacementRow{"luma first subgroup", true, 32, 32 + 3 * 2, 4, 4 + 1},
        // Second value of block 0's first triple is (1, 0).
        PlacementRow{"luma first subgroup second value", true, 32, 32 + 1, 1, 0},
        // Block 16 is macroblock 1's first block.
        PlacementRow{"luma next macroblock", true, 32, 32 + 3 * 16, 0, 16 + 1},
        PlacementRow{"luma second subgroup", true, 32, 4 * 32 + 2, 2, 0, -30},
        PlacementRow{"luma last subgroup", true, 32, 13 * 32, 2, 3},
        // Chroma's second level comes in luma's order: coefficient 1 of macroblock 1 is (0, 1),
        // and coefficient 2 of macroblock 0 is (1, 0), two rows up in coding order.
        PlacementRow{"chroma second level", false, 32, 1 + 2 * 1, 0, 16 + 4},
        PlacementRow{"chroma second level vertical", false, 32, 0 + 2 * 2, 2, 0},
        // Block 3 of the path is (1, 0); its (0, 2) is two rows up as well. Chroma's
        // frequencies of 2 and 3 change sign as luma's do.
        PlacementRow{"chroma second subgroup", false, 32, 4 * 32 + 2 * 3, 2, 2, -30},
        PlacementRow{"chroma last subgroup", false, 32, 6 * 32 + 1, 1, 3, -30}));

}  // namespace
}  // namespace vellumax::ptc
