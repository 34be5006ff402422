#pragma once

// The window's decisions that need no window: sizes from the DPI, which click region a point hits,
// where the wheel leaves the scroll offset, and when the timer repaints. The window procedure calls
// these; tests call them directly with made-up numbers.

#include <cstdint>
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

// The repaint timer's period. Windows fires periodic timers on its 15.6 ms tick, so 31 ms comes every
// second tick (about 30 paints a second) where 33 ms would come every third (about 21).
inline constexpr unsigned RepaintPeriodMs = 31;

// While phones are listed and none has live input, what moves on the page is their input rates,
// counted once a second.
inline constexpr unsigned RatePeriodMs = 1000;

// The repaint timer's period in milliseconds, 0 for no timer at all: none while the window is hidden
// or minimized, RepaintPeriodMs while live input is on screen, RatePeriodMs while phones are listed,
// and none for a page without phones, which changes only with a message that repaints it.
unsigned RepaintTimerPeriod(bool visible, bool minimized, bool animating, bool phonesListed);

// When the last paint started and what it cost, in nanoseconds of the steady clock.
struct PaintPacing {
    std::int64_t lastStart = 0;
    std::int64_t lastCost = 0;
    bool painted = false;
};

// Whether a timer tick at `now` may paint, so that painting never takes more than a quarter of the
// time (of one core) from the game: a paint costing more than a quarter of the period stretches the
// time until the next one to four times its cost. Before the first paint, always.
bool PaintDue(const PaintPacing& pacing, std::int64_t now);

enum class ScrollKey { LineUp, LineDown, PageUp, PageDown, Home, End };

// The scroll offset after a key: a line is one wheel notch (48 x `scale`), a page the client height
// less one line, Home and End the two ends; the result stays within the content as with the wheel.
float ScrollAfterKey(ScrollKey key, float scrollOffset, float scale, float contentHeight, float clientHeight);

// The scroll indicator at the right edge: where its thumb is, in client pixels. `visible` only while
// the content is taller than the client area.
struct ScrollThumb {
    bool visible = false;
    float x = 0;
    float y = 0;
    float width = 0;
    float height = 0;
};
ScrollThumb ScrollThumbOf(float scrollOffset, float scale, float contentHeight, float clientWidth, float clientHeight);

struct PixelRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

// `window` moved (and its height cut) so that it lies inside `area`, the work area of its monitor.
// The width is never cut: a window wider than the area starts at its left edge.
PixelRect FitInside(PixelRect window, PixelRect area);

// The signal mark beside an admitted phone's rate: what its Wi-Fi did to its inputs lately.
enum class SignalMark : std::uint8_t { Good, Uneven, Poor };

// The worst of the three figures (the server's, Server/LinkStats.h) against their thresholds, which
// WindowRules.cpp names and explains: above a Poor threshold the phone is Poor, else above an
// Uneven one Uneven, else Good.
SignalMark SignalMarkOf(double lossPercent, double jitterMs, double longestGapMs);

// A phone's advice shows once its mark has been Poor this long at every look: one bad second is bad
// luck, a few in a row are the Wi-Fi.
inline constexpr std::int64_t AdviceDelay = 3'000'000'000;

// Which phones' advice shows: those Poor at every look for AdviceDelay or more.
class AdviceTimer {
public:
    struct Look {
        std::uint32_t sessionId = 0;
        SignalMark mark = SignalMark::Good;
    };
    // The marks of the phones on the page at `now` (steady-clock nanoseconds); answers the session
    // numbers whose advice shows. A phone not Poor now, or not on the page, starts again at its next
    // Poor look.
    std::vector<std::uint32_t> Note(const std::vector<Look>& phones, std::int64_t now);

private:
    struct PoorSince {
        std::uint32_t sessionId = 0;
        std::int64_t since = 0;
    };
    std::vector<PoorSince> poor;
};

} // namespace Velotrix
