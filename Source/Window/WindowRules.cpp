#include "Window/WindowRules.h"

#include <algorithm>

namespace Velotrix {

namespace {

constexpr int ClientWidth = 460;
constexpr int ClientHeight = 700;
constexpr int MinimumSide = 420;
constexpr float WheelNotch = 120.0f;
constexpr float PixelsPerNotch = 48.0f;
constexpr int IdleTicksPerRepaint = 30;

int Scaled(int designPixels, float scale) {
    // A cast truncates toward zero, which is the rule: 460 x 110/96 is 527, not 528.
    return static_cast<int>(static_cast<float>(designPixels) * scale);
}

} // namespace

PixelSize InitialClientSize(unsigned dpi) {
    const float scale = static_cast<float>(dpi) / 96.0f;
    return {Scaled(ClientWidth, scale), Scaled(ClientHeight, scale)};
}

int MinimumTrackSize(float scale) { return Scaled(MinimumSide, scale); }

int FirstRegionAt(const std::vector<ClickRegion>& regions, float x, float y) {
    for (std::size_t i = 0; i < regions.size(); ++i)
        if (Contains(regions[i].rect, x, y)) return static_cast<int>(i);
    return -1;
}

int LastRegionAt(const std::vector<ClickRegion>& regions, float x, float y) {
    int hit = -1;
    for (std::size_t i = 0; i < regions.size(); ++i)
        if (Contains(regions[i].rect, x, y)) hit = static_cast<int>(i);
    return hit;
}

float ScrollAfterWheel(float scrollOffset, int wheelDelta, float scale, float contentHeight, float clientHeight) {
    const float largest = std::max(0.0f, contentHeight - clientHeight);
    const float wanted = scrollOffset - (static_cast<float>(wheelDelta) / WheelNotch) * (PixelsPerNotch * scale);
    if (wanted > largest) return largest;
    if (wanted < 0.0f) return 0.0f;
    return wanted;
}

bool TimerTickRepaints(bool visible, bool minimized, bool animating, int& idleTicks) {
    if (!visible || minimized) return false;
    if (!animating) {
        ++idleTicks;
        if (idleTicks < IdleTicksPerRepaint) return false;
    }
    idleTicks = 0;
    return true;
}

} // namespace Velotrix
