#pragma once

// The window's colours. One brush paints everything; each use sets its colour from here.

#include <d2d1.h>

#include <cstdint>

#include "Window/PaletteColours.h"

namespace Velotrix {

inline D2D1_COLOR_F MakeColor(std::uint32_t rgb, std::uint8_t alpha = 255) {
    return D2D1_COLOR_F{static_cast<float>((rgb >> 16) & 0xFF) / 255.0f, static_cast<float>((rgb >> 8) & 0xFF) / 255.0f,
                        static_cast<float>(rgb & 0xFF) / 255.0f, static_cast<float>(alpha) / 255.0f};
}

} // namespace Velotrix
