#pragma once

// The QR code of the empty state: a ready matrix for the store link, made by scripts/make-qr with
// qrencode and stored as 29 text rows.

#include <array>

namespace Velotrix {

inline constexpr int QrSize = 29; // version 3

// StoreLink (Common/Links.h) at level M. Row 0 first, column 0 leftmost; '1' is a dark module and
// '0' a light one.
extern const std::array<const char*, QrSize> StoreLinkQr;

} // namespace Velotrix
