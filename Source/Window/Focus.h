#pragma once

// The keyboard focus over the click regions a paint records: which control comes next in reading
// order, which control keeps the focus when the page changes under it, and how far the page scrolls to
// show it. Portable: the rules need no window, and the native tests pin them.

#include <cstdint>
#include <vector>

#include "Window/ClickRegion.h"

namespace Velotrix {

// A control as the focus remembers it across paints: its action and argument, and how many controls
// with the same two come before it in reading order (0 for almost every control).
struct FocusKey {
    std::int32_t action = 0;
    std::int32_t arg = 0;
    int ordinal = 0;
    bool operator==(const FocusKey&) const = default;
};

// The indices of `regions` in reading order: top to bottom, then left to right; regions with the same
// top and left keep their drawing order.
std::vector<int> ReadingOrder(const std::vector<ClickRegion>& regions);

// The key of regions[index]; index must be a valid index.
FocusKey KeyOf(const std::vector<ClickRegion>& regions, int index);
// The index of the region with `key`, -1 when the page has none.
int IndexOfKey(const std::vector<ClickRegion>& regions, const FocusKey& key);

// Where Tab (or, `backwards`, Shift+Tab) moves the focus from regions[current] (-1: nothing focused):
// the next control in reading order, wrapping round at either end; from nothing, the first (or the
// last). -1 only when there is no region at all.
int NextFocus(const std::vector<ClickRegion>& regions, int current, bool backwards);

// Where the focus is after a repaint that turned `before` into `after`, for the focus that was on
// before[current] (-1: nothing focused, which stays so). The same control when it is still there;
// when it went, a control of the same phone (the same non-zero argument: Allow hands it to the
// phone's Disconnect), else the first control after it in the old reading order that is still there,
// else the nearest one before it, else the control now at its place. -1 only when `after` is empty.
int FocusAfterRepaint(const std::vector<ClickRegion>& before, int current, const std::vector<ClickRegion>& after);

// The scroll offset that shows `rect` (as drawn at `scrollOffset`) with `margin` pixels to spare above
// or below it, moving as little as possible: unchanged when it is in view already, and within 0 and
// contentHeight - clientHeight. A control taller than the view shows its top.
float ScrollToShow(const ClickRect& rect, float scrollOffset, float margin, float contentHeight, float clientHeight);

} // namespace Velotrix
