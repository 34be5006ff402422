#include "Phone.h"

#include <algorithm>
#include <cmath>

namespace Velotrix {

InputDatagram PatternControls(InputPattern pattern, std::int64_t elapsedNs) {
    constexpr std::int64_t Second = 1'000'000'000;
    const std::int64_t phase = elapsedNs > 0 ? elapsedNs % PatternPeriodNs : 0;
    InputDatagram controls;
    switch (pattern) {
    case InputPattern::Still:
        break;
    case InputPattern::Sweep: {
        // A triangle scaled by 5/4 and clipped, so that full lock is held for 400 ms instead of being
        // touched for an instant that a stream at any rate would miss. Integer arithmetic keeps the
        // extremes exact.
        const std::int64_t half = phase % (2 * Second);
        const std::int64_t distance = half > Second ? half - Second : Second - half;
        const std::int64_t level = std::min(Second, (Second - distance) * 5 / 4);
        const bool right = phase < 2 * Second;
        controls.state.leftX = static_cast<std::int16_t>((right ? 32767 : -32768) * level / Second);
        const auto pedal = static_cast<std::uint16_t>(65535 * level / Second);
        if (right)
            controls.state.rightTrigger = pedal;
        else
            controls.state.leftTrigger = pedal;
        break;
    }
    case InputPattern::Buttons:
        controls.state.buttons = static_cast<std::uint16_t>(1u << (phase / (PatternPeriodNs / 16)));
        break;
    }
    return controls;
}

bool WifiPlayer::Stalled(std::int64_t elapsedNs) const {
    if (play.stallNs <= 0 || play.stallEveryNs <= 0 || elapsedNs < play.stallEveryNs) return false;
    return elapsedNs % play.stallEveryNs < play.stallNs;
}

bool WifiPlayer::Deliver(std::int64_t elapsedNs, std::int64_t& deliverNs) {
    // Input k is lost when the share's running count of losses steps up at k: every tenth for 10 %,
    // in parts per million so that the steps are exact.
    constexpr std::uint64_t Million = 1'000'000;
    constexpr double PerMillionPerPercent = 10'000;
    const auto perMillion = static_cast<std::uint64_t>(std::llround(play.lossPercent * PerMillionPerPercent));
    ++made;
    if (made * perMillion / Million != (made - 1) * perMillion / Million) return false;
    std::int64_t at = elapsedNs;
    if (play.jitterNs > 0) at += static_cast<std::int64_t>(Next() % static_cast<std::uint64_t>(play.jitterNs + 1));
    // Held until the next burst: everything made up to a burst's time goes with it.
    if (play.burstNs > 0) at = (at + play.burstNs - 1) / play.burstNs * play.burstNs;
    // One link delivers in order.
    at = std::max(at, lastDelivery);
    lastDelivery = at;
    deliverNs = at;
    return true;
}

// splitmix64: a few lines, and good enough to scatter delays.
std::uint64_t WifiPlayer::Next() {
    std::uint64_t z = random += 0x9E3779B97F4A7C15ULL;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

} // namespace Velotrix
