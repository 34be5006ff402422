#pragma once

// What Windows' accessibility settings ask of the page: the system's colours while high contrast is on,
// and the "Make text bigger" size. Read when the window is made and again after every change of the
// system's colours or settings.

#include <functional>
#include <optional>

#include "Window/Contrast.h"

namespace Velotrix {

// The system's colours now, whether high contrast is on or not.
SystemColours ReadSystemColours();
// The system's colours while high contrast is on; nothing when it is off or cannot be read.
std::optional<SystemColours> ReadHighContrast();
// HKCU\Software\Microsoft\Accessibility TextScaleFactor: 100 to 225 percent; 100 without the value.
int ReadTextScalePercent();

// The window's view of both, with the readers it was made with (tests hand in their own).
struct SystemLook {
    std::function<std::optional<SystemColours>()> readHighContrast = &ReadHighContrast;
    std::function<int()> readTextScale = &ReadTextScalePercent;
    std::optional<SystemColours> highContrast; // as last read
    float textScale = 1.0f;                    // as last read; multiplies the DPI's scale

    // Reads both again; true when either changed.
    bool Refresh();
};

} // namespace Velotrix
