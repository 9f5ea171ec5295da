#include "conversion/ptc/ptc_decoder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

#include "conversion/ptc/ptc_entropy.h"
#include "conversion/ptc/ptc_layout.h"
#include "conversion/ptc/ptc_transform.h"

namespace vellumax::ptc {

namespace {

// The quantiser step. The stream does not say which step it was coded with; this one fitted the
// pages' own thumbnails, and the luma DCs of the pictures the samples were coded from agree with
// it (see the notes on the format). Chroma is coded with twice the luma step.
constexpr std::int32_t kLumaStep = 480;
constexpr std::int32_t kChromaStep = 2 * kLumaStep;

// Stripes held per channel: the one being decoded, the two whose overlap filters still wait
// for it, and the one above them that chroma upsampling reads.
constexpr std::uint32_t kRingStripes = 4;
constexpr std::uint32_t kMacroblockColumns = 16;
constexpr std::uint32_t kBlockColumns = 4;
constexpr std::uint32_t kMaxChunkCoefficients = 16 * 256;
// The coded area is a bottom-up bitmap rounded up to 32 rows, so the rows that round it up
// sit above the page. Its rows, blocks and macroblocks all count from the bottom; the planes
// hold rows top-down, so every transform sees its samples listed upward.

std::uint32_t MacroblockCount(int channel, std::uint32_t columns) {
    return channel == 0 ? columns / 16 : columns / 32;
}

std::uint32_t PlaneColumns(int channel, std::uint32_t columns) {
    return channel == 0 ? columns : columns / 2;
}

bool DecodeChannel(const ChannelRecord& record, int channel, std::uint32_t columns,
                   std::span<std::int32_t> values) {
    return DecodeRecord(record.payload, PlaneColumns(channel, columns),
                        MacroblockCount(channel, columns), values.first(record.coefficients));
}

// A luma sample is eight times its level less 1020, not 1024 (the stream's DCs show it: black
// codes as -1020), so the level is the sample's eighth rounded down, plus 128.
std::uint8_t ToByte(std::int32_t sample) {
    return static_cast<std::uint8_t>(std::clamp(sample >> 3, -128, 127) + 128);
}

// Chroma mixed down (see WriteRow) at full resolution across, for `pairs` pairs of pixels:
// each pixel takes 3/4 of its own chroma column and 1/4 of the one on its side.
void UpsampleAcross(const std::int32_t* mix, std::uint32_t pairs, std::int32_t* __restrict out) {
    for (std::ptrdiff_t column = 0; column < static_cast<std::ptrdiff_t>(pairs); ++column) {
        out[2 * column] = (3 * mix[column] + mix[column - 1] + 8) >> 4;
        out[2 * column + 1] = (3 * mix[column] + mix[column + 1] + 8) >> 4;
    }
}

// The colour transform of a row, each pixel's bytes packed red first into the low bytes. Kept
// apart from the byte interleaving so that it runs as vector code.
void ToRgb(const std::int32_t* __restrict y, const std::int32_t* __restrict co,
           const std::int32_t* __restrict cg, std::uint32_t width,
           std::uint32_t* __restrict packed) {
    for (std::uint32_t x = 0; x < width; ++x) {
        const std::int32_t t = y[x] - (cg[x] >> 1);
        const std::int32_t green = t + cg[x];
        const std::int32_t blue = t - (co[x] >> 1);
        const std::int32_t red = blue + co[x];
        packed[x] = std::uint32_t{ToByte(red)} | std::uint32_t{ToByte(green)} << 8 |
                    std::uint32_t{ToByte(blue)} << 16;
    }
}

// Writes packed pixels out as three bytes each. On a little-endian machine two pixels go out in
// one 8-byte store, whose last two bytes the next store overwrites.
void Interleave(const std::uint32_t* packed, std::uint32_t width, std::uint8_t* out) {
    std::uint32_t x = 0;
    if constexpr (std::endian::native == std::endian::little) {
        for (; x + 3 <= width; x += 2, out += 6) {
            const std::uint64_t pair = packed[x] | std::uint64_t{packed[x + 1]} << 24;
            std::memcpy(out, &pair, sizeof pair);
        }
    }
    for (; x < width; ++x, out += 3) {
        out[0] = static_cast<std::uint8_t>(packed[x]);
        out[1] = static_cast<std::uint8_t>(packed[x] >> 8);
        out[2] = static_cast<std::uint8_t>(packed[x] >> 16);
    }
}

}  // namespace

// One channel's samples for a ring of stripes, with the transform stages that work on them.
class PageDecoder::Plane {
public:
    Plane(std::uint32_t width, std::uint32_t height, const ChannelLayout& layout)
        : width_(width),
          height_(height),
          stripeRows_(4 * static_cast<std::uint32_t>(layout.blockRows)),
          ringMask_(stripeRows_ * kRingStripes - 1),
          layout_(layout),
          samples_(std::size_t{width} * stripeRows_ * kRingStripes) {
        // A stripe is 4 blocks high and blocks 4 or 2 rows: the ring's rows are a power of
        // two, and a row's place in it a mask, not a division.
        static_assert((kRingStripes & (kRingStripes - 1)) == 0);
    }

    std::uint32_t width() const { return width_; }
    std::uint32_t height() const { return height_; }
    const ChannelLayout& layout() const { return layout_; }

    std::int32_t* Row(std::uint32_t row) {
        return samples_.data() + std::size_t{row & ringMask_} * width_;
    }
    const std::int32_t* Row(std::uint32_t row) const {
        return samples_.data() + std::size_t{row & ringMask_} * width_;
    }

    // The cleared rows of a stripe in coding order, bottom first, for the coefficients to go
    // into.
    std::span<std::int32_t* const> Begin(std::uint32_t stripe) {
        for (std::uint32_t row = 0; row < stripeRows_; ++row) {
            stripePointers_[row] = Row(BottomRow(stripe) - row);
            std::fill_n(stripePointers_[row], width_, 0);
        }
        return {stripePointers_.data(), stripeRows_};
    }

    void SecondLevelCore(std::uint32_t stripe) {
        InverseCoreTransforms(DcGrid(BottomRow(stripe), 0), width_ / kMacroblockColumns,
                              kMacroblockColumns, Level::Second);
        for (std::uint32_t blockRow = 0; blockRow < 4; ++blockRow) {
            SwapLeftPair(BottomRow(stripe) - blockRow * layout_.blockRows, kBlockColumns);
        }
        if (IsLast(stripe)) {
            SwapBottomPair(BottomRow(stripe), layout_.blockRows, kBlockColumns);
        }
        // The two block rows along the top and bottom of the page lie outside every 4×4
        // window; the encoder filters them across each macroblock edge on their own.
        const std::uint32_t blockRows = layout_.blockRows;
        for (std::uint32_t outer = 0; outer < 2; ++outer) {
            if (stripe == 0) {
                EdgeFilterAlongRow(BottomRow(stripe) - (2 + outer) * blockRows, kMacroblockColumns,
                                   kBlockColumns, Level::Second);
            }
            if (IsLast(stripe)) {
                EdgeFilterAlongRow(BottomRow(stripe) - outer * blockRows, kMacroblockColumns,
                                   kBlockColumns, Level::Second);
            }
        }
    }

    // Filters the block DCs across the edge above `stripe` (macroblocks are one stripe high):
    // two block rows on either side.
    void SecondLevelOverlap(std::uint32_t stripe) {
        const std::uint32_t bottom = stripe * stripeRows_ + 2 * layout_.blockRows - 1;
        InverseOverlapFilters(DcGrid(bottom, kMacroblockColumns - 2 * kBlockColumns),
                              Edges(kMacroblockColumns), kMacroblockColumns, Level::Second);
        // So are the two block columns along the page's left and right borders, across each
        // edge between macroblock rows.
        for (const std::uint32_t column :
             {0U, kBlockColumns, width_ - 2 * kBlockColumns, width_ - kBlockColumns}) {
            EdgeFilterDownColumn(bottom, column, layout_.blockRows, Level::Second);
        }
    }

    // The first level of `stripe`, and the overlap filter over its edges but the bottom one,
    // whose stripe below is not there yet.
    void FirstLevel(std::uint32_t stripe) {
        const std::uint32_t top = stripe * stripeRows_;
        for (std::uint32_t row = top; row < top + stripeRows_; row += layout_.blockRows) {
            if (layout_.blockRows == kLumaLayout.blockRows) {
                InverseCoreTransforms(SampleGrid(row + 3, 0), width_ / kBlockColumns, kBlockColumns,
                                      Level::First);
            } else {
                InverseChromaBlocks(Row(row + 1), Row(row), width_ / kBlockColumns);
            }
        }
        for (std::uint32_t row = top; row < top + stripeRows_; ++row) {
            SwapLeftPair(row, 1);
        }
        if (IsLast(stripe)) {
            SwapBottomPair(top + stripeRows_ - 1, 1, 1);
        }
        if (layout_.blockRows != kLumaLayout.blockRows) {
            ChromaOverlap(stripe);
            return;
        }
        for (std::uint32_t row = stripe == 0 ? top + 2 : top - 2; row < top + stripeRows_ - 2;
             row += kBlockColumns) {
            InverseOverlapFilters(SampleGrid(row + 3, 2), Edges(kBlockColumns), kBlockColumns,
                                  Level::First);
            // The two sample columns along either side of the page are filtered on their own,
            // as at the second level: left unfiltered, they stay flat within each block.
            for (const std::uint32_t column : {0U, 1U, width_ - 2, width_ - 1}) {
                EdgeFilterDownColumn(row + 3, column, 1, Level::First);
            }
        }
        for (std::uint32_t outer = 0; outer < 2; ++outer) {
            if (stripe == 0) {
                EdgeFilterAlongRow(top + outer, kBlockColumns, 1, Level::First);
            }
            if (IsLast(stripe)) {
                EdgeFilterAlongRow(top + stripeRows_ - 1 - outer, kBlockColumns, 1, Level::First);
            }
        }
    }

private:
    // Chroma's blocks are two rows high, so its windows are 4 × 2: two samples either side of
    // each edge between block columns, one either side of each edge between block rows. As
    // at the first level of luma, the edges above the stripe are done, the one below waits.
    // Across the page's left and right borders nothing is filtered; between block rows every
    // column is.
    void ChromaOverlap(std::uint32_t stripe) {
        const std::uint32_t top = stripe * stripeRows_;
        const std::uint32_t first = stripe == 0 ? top + 1 : top - 1;
        const std::uint32_t end = top + stripeRows_ - 1;
        // The page's top and bottom sample rows lie outside every window, and are filtered
        // across block columns on their own.
        if (stripe == 0) {
            EdgeFilterAlongRow(top, kBlockColumns, 1, Level::First);
        }
        if (IsLast(stripe)) {
            EdgeFilterAlongRow(end, kBlockColumns, 1, Level::First);
        }
        for (std::uint32_t row = first; row < end; ++row) {
            InverseEdgeFilters(Row(row) + kBlockColumns, Edges(kBlockColumns), kBlockColumns, 1,
                               Level::First);
        }
        for (std::uint32_t upper = first; upper < end; upper += layout_.blockRows) {
            InversePairFilters(Row(upper + 1), Row(upper), width_);
        }
    }

    // Along the page's left and bottom edges, where the coding grid starts, the encoder has the
    // two outermost samples of a level the other way round: the first two block DCs at the second
    // level, the first two sample columns and rows at the first (measured: see the notes on the
    // format). No filter across the edge reaches them, and the filters along it treat both alike,
    // so the exchange can follow the core transform.
    void SwapLeftPair(std::uint32_t row, std::uint32_t spacing) {
        std::swap(Row(row)[0], Row(row)[spacing]);
    }
    // The bottom row `bottom` and the one `rowStep` above it, at every `columnStep`th sample.
    void SwapBottomPair(std::uint32_t bottom, std::uint32_t rowStep, std::uint32_t columnStep) {
        std::int32_t* lower = Row(bottom);
        std::int32_t* upper = Row(bottom - rowStep);
        for (std::uint32_t column = 0; column < width_; column += columnStep) {
            std::swap(lower[column], upper[column]);
        }
    }

    std::uint32_t BottomRow(std::uint32_t stripe) const { return (stripe + 1) * stripeRows_ - 1; }
    bool IsLast(std::uint32_t stripe) const { return stripe + 1 == height_ / stripeRows_; }

    // The four-sample edge filter across every edge `spacing` apart along `row`, on samples
    // `step` apart.
    void EdgeFilterAlongRow(std::uint32_t row, std::uint32_t spacing, std::uint32_t step,
                            Level level) {
        InverseEdgeFilters(Row(row) + spacing, Edges(spacing), spacing, step, level);
    }

    // How many edges `spacing` apart lie inside the plane.
    std::uint32_t Edges(std::uint32_t spacing) const { return (width_ - 1) / spacing; }

    // The four-sample edge filter up `column` from `bottom`, on rows `rowStep` apart.
    void EdgeFilterDownColumn(std::uint32_t bottom, std::uint32_t column, std::uint32_t rowStep,
                              Level level) {
        InverseEdgeFilter(Row(bottom)[column], Row(bottom - rowStep)[column],
                          Row(bottom - 2 * rowStep)[column], Row(bottom - 3 * rowStep)[column],
                          level);
    }

    // Four rows upward from `bottom`, `rowStep` apart, and every `columnStep`th sample from
    // `left`. A block's DC is its bottom left sample.
    Grid4 UpwardGrid(std::uint32_t bottom, std::uint32_t left, std::uint32_t rowStep,
                     std::uint32_t columnStep) {
        return {{Row(bottom) + left, Row(bottom - rowStep) + left, Row(bottom - 2 * rowStep) + left,
                 Row(bottom - 3 * rowStep) + left},
                static_cast<std::ptrdiff_t>(columnStep)};
    }
    Grid4 DcGrid(std::uint32_t bottom, std::uint32_t left) {
        return UpwardGrid(bottom, left, layout_.blockRows, kBlockColumns);
    }
    Grid4 SampleGrid(std::uint32_t bottom, std::uint32_t left) {
        return UpwardGrid(bottom, left, 1, 1);
    }

    std::uint32_t width_;
    std::uint32_t height_;
    std::uint32_t stripeRows_;
    std::uint32_t ringMask_;
    ChannelLayout layout_;
    std::vector<std::int32_t> samples_;
    std::array<std::int32_t*, 16> stripePointers_{};
};

RecordCount CountRecords(const Stream& stream) {
    const StreamFrame& frame = stream.frame();
    RecordCount count;
    std::vector<std::int32_t> values(kMaxChunkCoefficients);
    std::string problem;
    for (std::uint32_t tile = 0; tile < frame.tiles; ++tile) {
        const std::uint64_t records = std::uint64_t{frame.chunksPerTile} * kChannels;
        count.total += records;
        const auto chunks = stream.Tile(tile, problem);
        if (!chunks) {
            count.damaged += records;
            continue;
        }
        for (std::uint32_t chunk = 0; chunk < chunks->size(); ++chunk) {
            for (int channel = 0; channel < kChannels; ++channel) {
                if (!DecodeChannel((*chunks)[chunk].channels[channel], channel,
                                   frame.ChunkColumns(chunk), values)) {
                    ++count.damaged;
                }
            }
        }
    }
    return count;
}

std::unique_ptr<PageDecoder> PageDecoder::Open(std::vector<std::uint8_t> bytes,
                                               std::string& problem, Damage damage) {
    auto stream = Stream::Parse(bytes, problem);
    if (!stream) {
        return nullptr;
    }
    // The buffer moves with the vector, so the stream's view of it stays valid.
    return std::unique_ptr<PageDecoder>(
        new PageDecoder(std::move(bytes), std::move(*stream), damage));
}

PageDecoder::PageDecoder(std::vector<std::uint8_t> bytes, Stream stream, Damage damage)
    : bytes_(std::move(bytes)),
      stream_(std::move(stream)),
      values_(kMaxChunkCoefficients),
      damage_(damage) {
    const StreamFrame& frame = stream_.frame();
    planes_[0] = std::make_unique<Plane>(frame.paddedWidth, frame.paddedHeight, kLumaLayout);
    for (int channel = 1; channel < kChannels; ++channel) {
        planes_[channel] =
            std::make_unique<Plane>(frame.paddedWidth / 2, frame.paddedHeight / 2, kChromaLayout);
    }
}

PageDecoder::~PageDecoder() = default;

bool PageDecoder::DecodeStripe(std::uint32_t stripe) {
    const StreamFrame& frame = stream_.frame();
    // Tiles run from the bottom of the page up.
    const auto chunks = stream_.Tile(frame.tiles - 1 - stripe, problem_);
    if (!chunks) {
        return false;
    }
    std::array<std::span<std::int32_t* const>, kChannels> rows;
    for (int channel = 0; channel < kChannels; ++channel) {
        rows[channel] = planes_[channel]->Begin(stripe);
    }
    for (std::uint32_t chunk = 0; chunk < chunks->size(); ++chunk) {
        const std::uint32_t columns = frame.ChunkColumns(chunk);
        for (int channel = 0; channel < kChannels; ++channel) {
            const ChannelRecord& record = (*chunks)[chunk].channels[channel];
            const std::span<std::int32_t> values = std::span(values_).first(record.coefficients);
            if (!DecodeChannel(record, channel, columns, values) &&
                !Conceal(stripe, chunk, channel, values)) {
                return false;
            }
            PlaceCoefficients(planes_[channel]->layout(), values, PlaneColumns(channel, columns),
                              channel == 0 ? kLumaStep : kChromaStep, rows[channel],
                              PlaneColumns(channel, chunk * frame.chunkWidth));
        }
    }
    return true;
}

bool PageDecoder::Conceal(std::uint32_t stripe, std::uint32_t chunk, int channel,
                          std::span<std::int32_t> values) {
    const std::uint32_t tile = stream_.frame().tiles - 1 - stripe;
    if (damagedChunks_.empty() || damagedChunks_.back().tile != tile ||
        damagedChunks_.back().chunk != chunk) {
        damagedChunks_.push_back({tile, chunk});
    }
    if (damage_ == Damage::Fail) {
        problem_ = "a channel record of tile " + std::to_string(tile) + " does not decode";
        return false;
    }
    // The DC group is read first, so it is the part most often still right.
    const std::size_t kept = std::min<std::size_t>(
        values.size(), MacroblockCount(channel, stream_.frame().ChunkColumns(chunk)));
    std::fill(values.begin() + static_cast<std::ptrdiff_t>(kept), values.end(), 0);
    return true;
}

// Step s decodes stripe s and finishes the first level of stripe s − 1; after it, stripe
// s − 2 is final (and after the last step every stripe is).
bool PageDecoder::Step(std::uint32_t stripe) {
    if (stripe < stream_.frame().tiles) {
        if (!DecodeStripe(stripe)) {
            return false;
        }
        for (const auto& plane : planes_) {
            plane->SecondLevelCore(stripe);
            if (stripe > 0) {
                plane->SecondLevelOverlap(stripe);
            }
        }
    }
    if (stripe > 0) {
        for (const auto& plane : planes_) {
            plane->FirstLevel(stripe - 1);
        }
    }
    return true;
}

bool PageDecoder::ReadRow(std::span<std::uint8_t> rgb) {
    if (!problem_.empty() || nextRow_ >= frame().height) {
        return false;
    }
    const std::uint32_t planeRow = nextRow_ + frame().paddedHeight - frame().height;
    const std::uint32_t stripe = planeRow / kTileRows;
    const std::uint32_t needed = std::min(stripe + 2, frame().tiles);
    while (stepsDone_ <= needed) {
        if (!Step(stepsDone_++)) {
            return false;
        }
    }
    WriteRow(planeRow, rgb);
    ++nextRow_;
    return true;
}

void PageDecoder::WriteRow(std::uint32_t planeRow, std::span<std::uint8_t> rgb) {
    const Plane& luma = *planes_[0];
    const std::uint32_t chromaWidth = planes_[1]->width();
    const std::uint32_t chromaHeight = planes_[1]->height();
    // Chroma sits between the luma samples it covers, so each luma sample takes 9/16 of the
    // nearest chroma sample and the rest from the next ones toward it: 3/4 of its own chroma
    // row and 1/4 of the nearer one, mixed once per chroma sample, then the same across.
    const std::uint32_t chromaRow = planeRow / 2;
    const std::uint32_t nearRow =
        planeRow % 2 ? std::min(chromaRow + 1, chromaHeight - 1) : (chromaRow ? chromaRow - 1 : 0);
    // Each channel's mix has one repeated sample at either end, for the page's borders.
    const std::size_t stride = std::size_t{chromaWidth} + 2;
    mixed_.resize(2 * stride);
    for (std::size_t c = 0; c < 2; ++c) {
        const std::int32_t* own = planes_[1 + c]->Row(chromaRow);
        const std::int32_t* near = planes_[1 + c]->Row(nearRow);
        std::int32_t* mix = mixed_.data() + c * stride + 1;
        for (std::uint32_t column = 0; column < chromaWidth; ++column) {
            mix[column] = 3 * own[column] + near[column];
        }
        mix[-1] = mix[0];
        mix[chromaWidth] = mix[chromaWidth - 1];
    }
    const std::uint32_t width = frame().width;
    across_.resize(2 * std::size_t{width} + 2);
    packed_.resize(width);
    UpsampleAcross(mixed_.data() + 1, (width + 1) / 2, across_.data());
    UpsampleAcross(mixed_.data() + stride + 1, (width + 1) / 2, across_.data() + width + 1);
    ToRgb(luma.Row(planeRow), across_.data(), across_.data() + width + 1, width, packed_.data());
    Interleave(packed_.data(), width, rgb.data());
}

}  // namespace vellumax::ptc
