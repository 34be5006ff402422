#include "Window/Focus.h"

#include <algorithm>
#include <numeric>

namespace Velotrix {

namespace {

// Where regions[index] stands in `order`; -1 when it is not there.
int PlaceIn(const std::vector<int>& order, int index) {
    const auto found = std::find(order.begin(), order.end(), index);
    return found == order.end() ? -1 : static_cast<int>(found - order.begin());
}

} // namespace

std::vector<int> ReadingOrder(const std::vector<ClickRegion>& regions) {
    std::vector<int> order(regions.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&regions](int a, int b) {
        const ClickRect& ra = regions[static_cast<std::size_t>(a)].rect;
        const ClickRect& rb = regions[static_cast<std::size_t>(b)].rect;
        if (ra.y != rb.y) return ra.y < rb.y;
        return ra.x < rb.x;
    });
    return order;
}

FocusKey KeyOf(const std::vector<ClickRegion>& regions, int index) {
    const ClickRegion& region = regions[static_cast<std::size_t>(index)];
    FocusKey key{region.action, region.arg, 0};
    for (const int other : ReadingOrder(regions)) {
        if (other == index) break;
        const ClickRegion& before = regions[static_cast<std::size_t>(other)];
        if (before.action == region.action && before.arg == region.arg) ++key.ordinal;
    }
    return key;
}

int IndexOfKey(const std::vector<ClickRegion>& regions, const FocusKey& key) {
    int seen = 0;
    for (const int index : ReadingOrder(regions)) {
        const ClickRegion& region = regions[static_cast<std::size_t>(index)];
        if (region.action != key.action || region.arg != key.arg) continue;
        if (seen++ == key.ordinal) return index;
    }
    return -1;
}

int NextFocus(const std::vector<ClickRegion>& regions, int current, bool backwards) {
    if (regions.empty()) return -1;
    const std::vector<int> order = ReadingOrder(regions);
    const int count = static_cast<int>(order.size());
    const int place = current >= 0 && current < count ? PlaceIn(order, current) : -1;
    if (place < 0) return backwards ? order.back() : order.front();
    const int next = backwards ? (place + count - 1) % count : (place + 1) % count;
    return order[static_cast<std::size_t>(next)];
}

int FocusAfterRepaint(const std::vector<ClickRegion>& before, int current, const std::vector<ClickRegion>& after) {
    if (after.empty() || current < 0 || current >= static_cast<int>(before.size())) return -1;
    const FocusKey key = KeyOf(before, current);
    if (const int same = IndexOfKey(after, key); same >= 0) return same;
    if (key.arg != 0) {
        const std::vector<int> order = ReadingOrder(after);
        for (const int index : order)
            if (after[static_cast<std::size_t>(index)].arg == key.arg) return index;
    }
    const std::vector<int> oldOrder = ReadingOrder(before);
    const int place = PlaceIn(oldOrder, current);
    for (std::size_t i = static_cast<std::size_t>(place) + 1; i < oldOrder.size(); ++i) {
        if (const int found = IndexOfKey(after, KeyOf(before, oldOrder[i])); found >= 0) return found;
    }
    for (int i = place - 1; i >= 0; --i) {
        if (const int found = IndexOfKey(after, KeyOf(before, oldOrder[static_cast<std::size_t>(i)])); found >= 0)
            return found;
    }
    const std::vector<int> newOrder = ReadingOrder(after);
    return newOrder[static_cast<std::size_t>(std::min(place, static_cast<int>(newOrder.size()) - 1))];
}

float ScrollToShow(const ClickRect& rect, float scrollOffset, float margin, float contentHeight, float clientHeight) {
    const float largest = std::max(0.0f, contentHeight - clientHeight);
    float wanted = scrollOffset;
    // Bottom first, then top: a control taller than the view ends with its top in view.
    if (rect.y + rect.height + margin > clientHeight) wanted += rect.y + rect.height + margin - clientHeight;
    if (rect.y - margin < wanted - scrollOffset) wanted = scrollOffset + rect.y - margin;
    return std::clamp(wanted, 0.0f, largest);
}

} // namespace Velotrix
