#include "Server/LinkStats.h"

#include <algorithm>
#include <cmath>

#include "Server/ServerCore.h"

namespace Velotrix {

namespace {

constexpr std::int64_t NsPerUs = 1'000;
constexpr double UsPerMs = 1'000.0;
constexpr double NsPerMs = 1'000'000.0;

// The jitter's sums are kept in whole microseconds, and an interval longer than the longest window
// counts as that long: squares of a day-long pause would not fit, and tell nothing more.
std::int32_t IntervalUs(std::int64_t ns) { return static_cast<std::int32_t>(std::min(ns, GapWindow) / NsPerUs); }

} // namespace

void LinkStats::Arrived(std::uint16_t sequence, std::int64_t now) {
    Expire(now);
    if (!started) {
        started = true;
        seen = 1;
        Push(Arrival{now, 0, 0, 0});
    } else {
        const auto step = static_cast<std::uint16_t>(sequence - lastSequence);
        Push(Arrival{now, IntervalUs(now - lastAt), step, static_cast<std::uint16_t>(step - 1)});
        PushGap(now, now - lastAt);
        seen = step >= LateReach ? 1 : (seen << step) | 1;
    }
    lastSequence = sequence;
    lastAt = now;
}

void LinkStats::ArrivedLate(std::uint16_t sequence) {
    const auto back = static_cast<std::uint16_t>(lastSequence - sequence);
    if (!started || back == 0 || back >= LateReach) return;
    const std::uint64_t bit = std::uint64_t{1} << back;
    if ((seen & bit) != 0) return;
    seen |= bit;
    // The arrival that skipped it: walk back from the newest, each arrival's number `step` below the next.
    std::uint16_t number = lastSequence;
    for (std::size_t i = count; i > 0; --i) {
        Arrival& arrival = arrivals[(first + i - 1) % Capacity];
        if (arrival.step == 0) return;
        if (static_cast<std::uint16_t>(number - sequence) < arrival.step) {
            if (arrival.missed > 0) {
                --arrival.missed;
                --missed;
            }
            return;
        }
        number = static_cast<std::uint16_t>(number - arrival.step);
    }
}

void LinkStats::Restart() {
    first = count = 0;
    missed = intervals = sumInterval = sumStep = sumInterval2 = sumIntervalStep = sumStep2 = 0;
    gapFirst = gapCount = 0;
    started = false;
    seen = 0;
}

LinkFigures LinkStats::Figures(std::int64_t now) {
    Expire(now);
    LinkFigures figures;
    // Each arrival stands for its own number and those it skipped, whether they came late or never.
    const std::int64_t numbers = static_cast<std::int64_t>(count) + sumStep - intervals;
    if (numbers > 0) figures.lossPercent = 100.0 * static_cast<double>(missed) / static_cast<double>(numbers);
    if (intervals > 0 && sumStep > 0) {
        // Sum of (interval - step x rhythm)^2, expanded into the sums kept.
        const double rhythm = static_cast<double>(sumInterval) / static_cast<double>(sumStep);
        const double squares = static_cast<double>(sumInterval2) - 2 * rhythm * static_cast<double>(sumIntervalStep) +
                               rhythm * rhythm * static_cast<double>(sumStep2);
        figures.jitterMs = std::sqrt(std::max(0.0, squares) / static_cast<double>(intervals)) / UsPerMs;
    }
    if (gapCount > 0) figures.longestGapMs = static_cast<double>(gaps[gapFirst].length) / NsPerMs;
    return figures;
}

void LinkStats::Push(const Arrival& arrival) {
    if (count == Capacity) DropOldest();
    arrivals[(first + count) % Capacity] = arrival;
    ++count;
    Tally(arrival, 1);
}

void LinkStats::DropOldest() {
    const Arrival& arrival = arrivals[first];
    first = (first + 1) % Capacity;
    --count;
    Tally(arrival, -1);
}

// An arrival joins the sums (sign 1) or leaves them (sign -1) alike.
void LinkStats::Tally(const Arrival& arrival, std::int64_t sign) {
    missed += sign * arrival.missed;
    if (arrival.step == 0) return;
    const std::int64_t interval = arrival.intervalUs, step = arrival.step;
    intervals += sign;
    sumInterval += sign * interval;
    sumStep += sign * step;
    sumInterval2 += sign * interval * interval;
    sumIntervalStep += sign * interval * step;
    sumStep2 += sign * step * step;
}

void LinkStats::PushGap(std::int64_t end, std::int64_t length) {
    while (gapCount > 0 && gaps[(gapFirst + gapCount - 1) % GapCapacity].length <= length) --gapCount;
    if (gapCount == GapCapacity) --gapCount;
    gaps[(gapFirst + gapCount) % GapCapacity] = Gap{end, length};
    ++gapCount;
}

void LinkStats::Expire(std::int64_t now) {
    while (count > 0 && MoreThan(now, arrivals[first].at, LossWindow)) DropOldest();
    while (gapCount > 0 && MoreThan(now, gaps[gapFirst].end, GapWindow)) {
        gapFirst = (gapFirst + 1) % GapCapacity;
        --gapCount;
    }
}

} // namespace Velotrix
