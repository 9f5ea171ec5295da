#pragma once

#include <QString>

namespace vellumax {

// The desktop folder the system names, or the home folder where that is not there, with a
// trailing "/". Throws RuntimeError when there is neither.
QString DefaultOutputFolder();

// The quality frame's caption for a slider value.
QString QualityCaption(int quality);

// One start in a hundred visits the vendor's site: a draw of n = 1..100 from a random
// fraction in [0, 1) opens it when n is 7.
bool DrawOpensVendorSite(double randomFraction);

}  // namespace vellumax
