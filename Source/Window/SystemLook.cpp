#include "Window/SystemLook.h"

#include <windows.h>

namespace Velotrix {

namespace {

std::uint32_t ToRgb(COLORREF colour) {
    return (static_cast<std::uint32_t>(GetRValue(colour)) << 16) |
           (static_cast<std::uint32_t>(GetGValue(colour)) << 8) | GetBValue(colour);
}

std::uint32_t SystemColour(int index) { return ToRgb(GetSysColor(index)); }

} // namespace

SystemColours ReadSystemColours() {
    return SystemColours{.window = SystemColour(COLOR_WINDOW),
                         .windowText = SystemColour(COLOR_WINDOWTEXT),
                         .highlight = SystemColour(COLOR_HIGHLIGHT),
                         .highlightText = SystemColour(COLOR_HIGHLIGHTTEXT),
                         .buttonFace = SystemColour(COLOR_BTNFACE),
                         .buttonText = SystemColour(COLOR_BTNTEXT),
                         .hotTrack = SystemColour(COLOR_HOTLIGHT),
                         .grayText = SystemColour(COLOR_GRAYTEXT)};
}

std::optional<SystemColours> ReadHighContrast() {
    HIGHCONTRASTW state{};
    state.cbSize = sizeof(state);
    if (!SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(state), &state, 0) ||
        (state.dwFlags & HCF_HIGHCONTRASTON) == 0)
        return std::nullopt;
    return ReadSystemColours();
}

int ReadTextScalePercent() {
    DWORD percent = 0;
    DWORD size = sizeof(percent);
    if (RegGetValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Accessibility", L"TextScaleFactor", RRF_RT_REG_DWORD,
                     nullptr, &percent, &size) != ERROR_SUCCESS)
        return 100;
    return static_cast<int>(percent);
}

bool SystemLook::Refresh() {
    const std::optional<SystemColours> colours = readHighContrast ? readHighContrast() : std::nullopt;
    const float scale = TextScaleOf(readTextScale ? readTextScale() : 100);
    const bool changed = colours != highContrast || scale != textScale;
    highContrast = colours;
    textScale = scale;
    return changed;
}

} // namespace Velotrix
