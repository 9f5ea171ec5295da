#include "data_damage.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace vellumax::converter {

namespace {

// How libtiff's decoders (and libjpeg's, through libtiff) word damage to the coded data they
// decoded past, lowercased: fax codes ("Bad code word at line 7 of strip 0", "Premature EOF",
// "Line length mismatch"), LZW ("Strip 3 not terminated with EOI code"), PackBits ("Discarding
// 12 bytes to avoid buffer overrun"), JPEG ("Corrupt JPEG data: premature end of data
// segment") and the general codecs ("Not enough data at scanline 5", "Decoding error").
// Warnings about tags (unknown ones, missing or wrong values libtiff corrects) and about how a
// strip was encoded (a progressive JPEG, a last strip coded whole) name none of these.
constexpr std::array<std::string_view, 16> kDamageWords = {"bad code word",
                                                           "premature",
                                                           "line length mismatch",
                                                           "uncompressed data",
                                                           "buffer overflow",
                                                           "buffer overrun",
                                                           "not terminated with",
                                                           "corrupt",
                                                           "wrong length of decoded",
                                                           "due to previous error",
                                                           "not enough data",
                                                           "decoding error",
                                                           "discarding",
                                                           "lack of data",
                                                           "inconsistent progression",
                                                           "invalid sos parameters"};

// libtiff calls a tag it cannot read an error, yet reads on without it.
bool IsUnknownTag(std::string_view message) {
    return message.find("TIFF_SETGET_UNDEFINED") != std::string_view::npos ||
           message.starts_with("Unknown field with tag");
}

}  // namespace

bool IsDataDamage(std::string_view message, bool error) {
    if (IsUnknownTag(message)) {
        return false;
    }
    if (error) {
        return true;
    }
    std::string lower(message);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return std::any_of(kDamageWords.begin(), kDamageWords.end(), [&](std::string_view word) {
        return lower.find(word) != std::string::npos;
    });
}

}  // namespace vellumax::converter
