#pragma once

// The QR code of the empty state. The program draws a ready matrix for the store link, stored as 29
// text rows; the encoder that made it lives here too, so the tests can prove that the stored rows
// still match the link and that the code scans. Portable: it builds natively for the unit tests.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace Velotrix {

inline constexpr int QrSize = 29; // version 3

// Row 0 first, column 0 leftmost; '1' is a dark module and '0' a light one.
using QrRows = std::array<std::string, QrSize>;

enum class QrLevel : std::uint8_t { L, M, Q, H };

// StoreLink (Window/Links.h) at level M, byte mode, with the mask of the lowest penalty.
extern const std::array<const char*, QrSize> StoreLinkQr;

// A version 3 symbol of `data` in byte mode at `level`. The mask is the one with the lowest penalty
// score (the lowest number among equals). Answers false, leaving `rows` alone, when `data` is
// longer than the level holds (53, 42, 32 or 24 bytes for L, M, Q, H).
[[nodiscard]] bool EncodeQr(std::string_view data, QrLevel level, QrRows& rows);

// The same with a given mask (0 to 7); false also for a mask outside that range.
[[nodiscard]] bool EncodeQrWithMask(std::string_view data, QrLevel level, int mask, QrRows& rows);

// The penalty score by which masks are chosen: runs of five or more alike in a row or column, 2 × 2
// blocks alike, finder-like 1:1:3:1:1 patterns beside four light modules, and the imbalance between
// dark and light. Rows shorter than QrSize count as light where they end.
int QrPenalty(const QrRows& rows);

} // namespace Velotrix
