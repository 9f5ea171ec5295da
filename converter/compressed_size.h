#pragma once

#include <cstdint>

namespace vellumax::converter {

// Headers, tables and the codes that start and end a stream.
inline constexpr double kCompressedOverhead = 64 * 1024;

// The most compressed bytes a strip or tile of a TIFF compression can take whose pixels decode
// to `decoded` bytes in `rows` rows. Encoders write far less; a larger declared length is
// damage, and reading or copying it would cost memory and disk for nothing. The document
// reader and the page converter hold pages to the same bounds.
double MaxCompressedBytes(std::uint16_t compression, double decoded, double rows);

}  // namespace vellumax::converter
