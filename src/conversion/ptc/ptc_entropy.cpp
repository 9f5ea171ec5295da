#include "conversion/ptc/ptc_entropy.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace vellumax::ptc {

namespace {

// No real record comes near these: a value beyond them is a misread, and keeping values small
// keeps the transforms' integer arithmetic far from overflow.
constexpr std::int32_t kMaxMagnitude = 1 << 12;

// Adaptation steps, on a scale of 8 per step of the run length or Rice parameter.
constexpr int kCompleteRunStep = 5;
constexpr int kPartialRunStep = 7;
constexpr int kZeroFlagStep = 3;
constexpr int kValueFlagStep = 2;
// A zero coded without a flag (see Coder::Decode) moves the run state less than a zero flag.
constexpr int kUnflaggedZeroStep = 2;
// The encoder stops the run state here: a long run of zeros grows to 2^10 and no further, so
// the run length after it is read with 10 bits. The Rice state gets the same bound, which no
// known page comes near.
constexpr int kMaxScaled = 80;
// From this Rice parameter on, flag mode drops the flag: values are large, zeros rare.
constexpr int kUnflaggedRiceBits = 3;

// Reads bits most significant first; reading past the end yields zeros and marks the reader.
// It takes the bytes a whole word at a time: its buffer holds the next `count_` bits at the top,
// zeros below them.
class BitReader {
public:
    explicit BitReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    int Bit() { return static_cast<int>(Bits(1)); }
    // Up to 32 bits.
    std::uint32_t Bits(int count) {
        if (count == 0) {
            return 0;
        }
        if (count_ < count) {
            Refill();
        }
        const auto value = static_cast<std::uint32_t>(buffer_ >> (64 - count));
        Consume(count);
        return value;
    }
    // Reads one bits up to the first zero, which it takes too; stops at `limit` ones, the zero
    // then unread. The count of ones.
    int Ones(int limit) {
        int ones = 0;
        while (ones < limit) {
            if (count_ == 0) {
                Refill();
            }
            // The zeros below the buffered bits end a run at them.
            const int run = std::min({std::countl_one(buffer_), count_, limit - ones});
            ones += run;
            Consume(run);
            if (count_ > 0 || run == 0) {
                break;
            }
        }
        if (ones < limit) {
            Bit();
        }
        return ones;
    }
    // Skips to the next byte; true when the skipped bits are all zero.
    bool ZeroPadding() {
        const int skipped = static_cast<int>((8 - position_ % 8) % 8);
        return Bits(skipped) == 0 && !overrun_;
    }
    bool overrun() const { return overrun_; }
    bool AtEnd() const { return position_ == bytes_.size() * 8; }

private:
    // Tops the buffer up to at least 57 bits, or to the end of the bytes.
    void Refill() {
        if (next_ + 8 <= bytes_.size()) {
            std::uint64_t word;
            std::memcpy(&word, bytes_.data() + next_, sizeof word);
            if constexpr (std::endian::native == std::endian::little) {
                word = __builtin_bswap64(word);
            }
            buffer_ |= word >> count_;
            next_ += static_cast<std::size_t>(63 - count_) / 8;
            count_ |= 56;
            return;
        }
        while (count_ <= 56 && next_ < bytes_.size()) {
            buffer_ |= std::uint64_t{bytes_[next_++]} << (56 - count_);
            count_ += 8;
        }
    }
    // Takes `count` bits; those past the end of the bytes are read as zeros and mark the reader.
    void Consume(int count) {
        if (count > count_) {
            overrun_ = true;
            count = count_;
        }
        buffer_ = count == 64 ? 0 : buffer_ << count;
        count_ -= count;
        position_ += static_cast<std::size_t>(count);
    }

    std::span<const std::uint8_t> bytes_;
    std::size_t next_ = 0;  // the first byte not yet in the buffer
    std::uint64_t buffer_ = 0;
    int count_ = 0;
    std::size_t position_ = 0;  // bits taken, never past the end
    bool overrun_ = false;
};

// The coder's adaptive state. Both parameters start one step above what their scaled values
// give, and follow the scaled values from their first update on.
class Coder {
public:
    explicit Coder(BitReader& reader) : reader_(reader) {}

    bool Decode(std::span<std::int32_t> values) {
        std::size_t at = 0;
        while (at < values.size()) {
            if (reader_.overrun()) {
                return false;
            }
            if (runBits_ == 0 && riceBits_ >= kUnflaggedRiceBits) {
                // Sign and Rice code of |v| itself, so that zeros still have a code. The
                // encoder gives a zero the plus sign: a minus zero is a misread.
                const bool negative = reader_.Bit() != 0;
                const std::int32_t magnitude = Magnitude();
                if (magnitude < 0 || (negative && magnitude == 0)) {
                    return false;
                }
                values[at++] = negative ? -magnitude : magnitude;
                Adapt(magnitude == 0 ? kUnflaggedZeroStep : -kValueFlagStep);
                continue;
            }
            const bool value = reader_.Bit() != 0;
            if (!value) {
                // A run of 2^k zeros, cut at the stream's end, or one zero in flag mode.
                at += std::min<std::size_t>(std::size_t{1} << runBits_, values.size() - at);
                Adapt(runBits_ > 0 ? kCompleteRunStep : kZeroFlagStep);
                continue;
            }
            const bool runMode = runBits_ > 0;
            const std::size_t zeros = reader_.Bits(runBits_);
            if (zeros >= values.size() - at) {
                return false;
            }
            at += zeros;
            const bool negative = reader_.Bit() != 0;
            const std::int32_t magnitude = Magnitude();
            if (magnitude < 0) {
                return false;
            }
            // A flagged value is never zero, so its code holds |v| − 1.
            values[at++] = negative ? -(magnitude + 1) : magnitude + 1;
            Adapt(runMode ? -kPartialRunStep : -kValueFlagStep);
        }
        return !reader_.overrun();
    }

private:
    // A Rice code: q one bits, a zero, then riceBits_ bits. −1 for a misread.
    std::int32_t Magnitude() {
        const std::int32_t quotient = reader_.Ones(kMaxMagnitude + 1);
        if (quotient > kMaxMagnitude) {
            return -1;
        }
        const std::int64_t value = std::int64_t{quotient} << riceBits_ | reader_.Bits(riceBits_);
        riceScaled_ = std::clamp(riceScaled_ + quotient - 1, 0, kMaxScaled);
        riceBits_ = riceScaled_ >> 3;
        if (value >= kMaxMagnitude) {
            return -1;
        }
        return static_cast<std::int32_t>(value);
    }

    void Adapt(int step) {
        runScaled_ = std::clamp(runScaled_ + step, 0, kMaxScaled);
        runBits_ = runScaled_ >> 3;
    }

    BitReader& reader_;
    int runScaled_ = 4;
    int runBits_ = 1;
    int riceScaled_ = 4;
    int riceBits_ = 1;
};

bool DecodeStream(BitReader& reader, std::span<std::int32_t> values) {
    return Coder(reader).Decode(values) && reader.ZeroPadding();
}

// Whether the encoder could have written this count. Past the DC group it is the place of the
// last non-zero value + 1. Within the DC group it may run past the last non-zero value, but a
// record coded at all holds one: an encoder that finds nothing to code writes no values.
bool CountFits(std::span<const std::int32_t> values, std::uint32_t dcCount) {
    if (values.size() > dcCount) {
        return values.back() != 0;
    }
    return std::any_of(values.begin(), values.end(), [](std::int32_t value) { return value != 0; });
}

}  // namespace

bool DecodeRecord(std::span<const std::uint8_t> payload, std::uint32_t planeColumns,
                  std::uint32_t dcCount, std::span<std::int32_t> values) {
    std::fill(values.begin(), values.end(), 0);
    if (values.empty()) {
        return payload.empty();
    }
    BitReader reader(payload);
    const std::size_t split = std::min<std::size_t>(values.size(), planeColumns);
    if (!DecodeStream(reader, values.first(split))) {
        return false;
    }
    if (split < values.size() && !DecodeStream(reader, values.subspan(split))) {
        return false;
    }
    return reader.AtEnd() && CountFits(values, dcCount);
}

}  // namespace vellumax::ptc
