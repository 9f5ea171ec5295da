#pragma once

// Damage to a page's coded data that libtiff decodes past: a fax code that is not one, a strip
// that ends early, a JPEG stream with bytes missing. libtiff fills in what it cannot read and
// goes on, and says so only in a message; such a page differs from the one scanned. The
// document reader and the page converter both decode pages, so both tell these messages apart
// from the ones about tags, which change nothing in the pixels. No Qt here: the converter is a
// program of its own.

#include <string>
#include <string_view>

namespace vellumax::converter {

// Whether a libtiff message raised while a page's pixels were being decoded (after its
// directory was read and checked) tells of damage to its data. Every error does; a warning
// does when it names damage to the coded data, as the decoders word it.
bool IsDataDamage(std::string_view message, bool error);

// The document reader writes pages it decoded past damage with this at the start of their
// ImageDescription, libtiff's words after it; the page converter reports such a page as
// kept with damage. The reader writes no other ImageDescription.
inline constexpr std::string_view kDamageNote = "Vellumax: kept with damage: ";

// The page converter's exit status when it wrote every page and kept some with damage; its
// last line of error output then names them ("pages 2, 5 kept with damage: <reason>").
// 0 is every page written without damage, 1 a page or the document not written.
inline constexpr int kKeptWithDamageStatus = 3;

}  // namespace vellumax::converter
