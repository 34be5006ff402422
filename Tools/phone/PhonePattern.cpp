#include "Phone.h"

#include <algorithm>

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

} // namespace Velotrix
