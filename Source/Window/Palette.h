#pragma once

// The window's colours. One brush paints everything; each use sets its colour from here.

#include <d2d1.h>

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

inline D2D1_COLOR_F MakeColor(std::uint32_t rgb, std::uint8_t alpha = 255) {
    return D2D1_COLOR_F{static_cast<float>((rgb >> 16) & 0xFF) / 255.0f, static_cast<float>((rgb >> 8) & 0xFF) / 255.0f,
                        static_cast<float>(rgb & 0xFF) / 255.0f, static_cast<float>(alpha) / 255.0f};
}

} // namespace Velotrix
