#pragma once

// The window's colours as plain numbers (0xRRGGBB), apart from Direct2D so that the portable rules
// of high contrast can name them too.

#include <cstdint>

namespace Velotrix {

namespace Palette {
inline constexpr std::uint32_t Background = 0x15171A;
inline constexpr std::uint32_t Card = 0x1F2225;
inline constexpr std::uint32_t Control = 0x2A2E31;
inline constexpr std::uint32_t Text = 0xEDF2F0;
inline constexpr std::uint32_t MutedText = 0x99A6A8;
inline constexpr std::uint32_t Accent = 0x3DD678;
inline constexpr std::uint32_t OnAccent = 0x0B0D0E;
inline constexpr std::uint32_t Danger = 0xFF473D;
inline constexpr std::uint32_t Warning = 0xFFBA4D;
inline constexpr std::uint32_t QrLight = 0xFFFFFF;
inline constexpr std::uint32_t QrDark = 0x000000;
} // namespace Palette

} // namespace Velotrix
