#pragma once

#include <cstdint>
#include <span>

namespace vellumax::ptc {

// Decodes a channel record's `values.size()` coefficients from `payload` with the adaptive
// run-length / Golomb-Rice code. The first `planeColumns` values (the macroblock DCs and the
// second level) form one byte-aligned stream and the rest a second one; each starts from the
// same state and ends in zero padding.
//
// True only when the record decodes exactly: every value comes out, each stream ends inside its
// last byte with zero padding, the record ends with the last stream, no zero carries a minus
// sign, and the count is one the encoder writes: a record with values past its DC group
// (`dcCount`) ends on a non-zero value, a shorter one holds at least one. Anything else is a
// damaged record; `values` then holds what could be read, zeros elsewhere.
bool DecodeRecord(std::span<const std::uint8_t> payload, std::uint32_t planeColumns,
                  std::uint32_t dcCount, std::span<std::int32_t> values);

}  // namespace vellumax::ptc
