#pragma once

#include <QString>

namespace vellumax {

inline constexpr char kProductName[] = "Vellumax";

// The product name cut before its last word until it is at most 40 characters long. A name
// without a blank cannot be cut and is the title as it stands.
QString ShortenedTitle(const QString& productName);
QString ApplicationTitle();

}  // namespace vellumax
