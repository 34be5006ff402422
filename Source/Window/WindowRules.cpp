#include "Window/WindowRules.h"

#include <algorithm>

namespace Velotrix {

namespace {

constexpr int ClientWidth = 460;
constexpr int ClientHeight = 700;
constexpr int MinimumSide = 420;
constexpr float WheelNotch = 120.0f;
constexpr float PixelsPerNotch = 48.0f;
constexpr std::int64_t NanosecondsPerMs = 1'000'000;
// A paint may take a quarter of the time between paints: at most a quarter of a core for the window.
constexpr std::int64_t PaintCostShare = 4;
constexpr float ThumbWidth = 4.0f;
constexpr float ThumbMargin = 2.0f;
constexpr float ShortestThumb = 24.0f;

// The signal mark's thresholds, each "more than". Poor is what a player feels in every race, uneven
// what they feel now and then.
// - Lost inputs: at 60 a second, 5 % is three lost a second, each a steering or pedal step the car
//   never takes; 1 % is one every other second or so.
// - Jitter: 20 ms is more than a frame at 60 frames a second, so inputs land in the wrong frames and
//   the car moves in jerks; 8 ms, half a frame, shows as an uneven steering line.
// - The longest gap in the last 10 s: past 250 ms the server centres the pad (the car lets go of
//   the wheel); 100 ms, six frames, is a hitch the player sees.
constexpr double PoorLossPercent = 5, UnevenLossPercent = 1;
constexpr double PoorJitterMs = 20, UnevenJitterMs = 8;
constexpr double PoorGapMs = 250, UnevenGapMs = 100;

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

unsigned RepaintTimerPeriod(bool visible, bool minimized, bool animating, bool phonesListed) {
    if (!visible || minimized) return 0;
    if (animating) return RepaintPeriodMs;
    return phonesListed ? RatePeriodMs : 0;
}

bool PaintDue(const PaintPacing& pacing, std::int64_t now) {
    if (!pacing.painted) return true;
    const std::int64_t interval =
        std::max<std::int64_t>(RepaintPeriodMs * NanosecondsPerMs, pacing.lastCost * PaintCostShare);
    return now - pacing.lastStart >= interval;
}

float ScrollAfterKey(ScrollKey key, float scrollOffset, float scale, float contentHeight, float clientHeight) {
    const float line = PixelsPerNotch * scale;
    const float largest = std::max(0.0f, contentHeight - clientHeight);
    float wanted = scrollOffset;
    switch (key) {
    case ScrollKey::LineUp:
        wanted -= line;
        break;
    case ScrollKey::LineDown:
        wanted += line;
        break;
    case ScrollKey::PageUp:
        wanted -= std::max(line, clientHeight - line);
        break;
    case ScrollKey::PageDown:
        wanted += std::max(line, clientHeight - line);
        break;
    case ScrollKey::Home:
        wanted = 0;
        break;
    case ScrollKey::End:
        wanted = largest;
        break;
    }
    return std::clamp(wanted, 0.0f, largest);
}

ScrollThumb ScrollThumbOf(float scrollOffset, float scale, float contentHeight, float clientWidth, float clientHeight) {
    ScrollThumb thumb;
    if (contentHeight <= clientHeight || clientHeight <= 0) return thumb;
    const float track = clientHeight - 2 * ThumbMargin * scale;
    thumb.visible = true;
    thumb.width = ThumbWidth * scale;
    thumb.x = clientWidth - thumb.width - ThumbMargin * scale;
    thumb.height = std::min(track, std::max(ShortestThumb * scale, track * clientHeight / contentHeight));
    // The paint does not clamp the offset after the window grew; the thumb does.
    const float travelled = std::clamp(scrollOffset / (contentHeight - clientHeight), 0.0f, 1.0f);
    thumb.y = ThumbMargin * scale + (track - thumb.height) * travelled;
    return thumb;
}

PixelRect FitInside(PixelRect window, PixelRect area) {
    const int width = window.right - window.left;
    const int height = std::min(window.bottom - window.top, area.bottom - area.top);
    const int left = std::max(area.left, std::min(window.left, area.right - width));
    const int top = std::max(area.top, std::min(window.top, area.bottom - height));
    return {left, top, left + width, top + height};
}

SignalMark SignalMarkOf(double lossPercent, double jitterMs, double longestGapMs) {
    if (lossPercent > PoorLossPercent || jitterMs > PoorJitterMs || longestGapMs > PoorGapMs) return SignalMark::Poor;
    if (lossPercent > UnevenLossPercent || jitterMs > UnevenJitterMs || longestGapMs > UnevenGapMs)
        return SignalMark::Uneven;
    return SignalMark::Good;
}

std::vector<std::uint32_t> AdviceTimer::Note(const std::vector<Look>& phones, std::int64_t now) {
    std::vector<PoorSince> still;
    std::vector<std::uint32_t> advised;
    for (const Look& phone : phones) {
        if (phone.mark != SignalMark::Poor) continue;
        const auto before = std::find_if(poor.begin(), poor.end(),
                                         [&](const PoorSince& entry) { return entry.sessionId == phone.sessionId; });
        const std::int64_t since = before != poor.end() ? before->since : now;
        still.push_back({phone.sessionId, since});
        if (now - since >= AdviceDelay) advised.push_back(phone.sessionId);
    }
    poor = std::move(still);
    return advised;
}

} // namespace Velotrix
