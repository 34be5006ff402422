#pragma once

// The window's decisions that need no window: sizes from the DPI, which click region a point hits,
// where the wheel leaves the scroll offset, and when the timer repaints. The window procedure calls
// these; tests call them directly with made-up numbers.

#include <vector>

#include "Window/ClickRegion.h"

namespace Velotrix {

struct PixelSize {
    int width = 0;
    int height = 0;
};

// The client area the window asks for at `dpi`: 460 x 700 device-independent pixels, each product
// truncated toward zero (never rounded).
PixelSize InitialClientSize(unsigned dpi);

// The smallest outer width and height the user can drag the window to: 420 x `scale`, truncated.
int MinimumTrackSize(float scale);

// Index of the first region whose rectangle contains the point (what a click acts on), -1 for none.
// Right and bottom edges are outside (Contains).
int FirstRegionAt(const std::vector<ClickRegion>& regions, float x, float y);
// Index of the last region that contains the point (what hover shows), -1 for none.
int LastRegionAt(const std::vector<ClickRegion>& regions, float x, float y);

// The scroll offset after one WM_MOUSEWHEEL: 120 units of `wheelDelta` move 48 x `scale` pixels,
// positive deltas toward the top; the result stays within 0 and contentHeight - clientHeight (0 when
// the content fits).
float ScrollAfterWheel(float scrollOffset, int wheelDelta, float scale, float contentHeight, float clientHeight);

// One tick of the 33 ms timer: true when the window should repaint now. Hidden or minimized windows
// never repaint; an animating one repaints every tick; otherwise every 30th tick, counted in
// `idleTicks`.
bool TimerTickRepaints(bool visible, bool minimized, bool animating, int& idleTicks);

} // namespace Velotrix
