#pragma once

// What the Wi-Fi does to one phone's Input stream, read from the Inputs the server applies: how many
// never arrived, how unevenly they arrive, and the longest silence between two. Phones and routers in
// power-save deliver in bursts, a crowded band loses datagrams, a dimmed screen stalls; a rate of
// updates per second hides all three. Fixed-size state, updated with each applied Input without
// allocating; time comes in as an argument, as everywhere in the server.
//
// The figures, each over its window of the last seconds:
// - loss: of the sequence numbers the phone sent, the share that never arrived. The numbers an
//   arrival skipped count as lost at that arrival's time; one that turns up after a newer one (the
//   server drops it as stale) arrived after all, and a duplicate counts nothing.
// - jitter: the root mean square of how far each interval between two arrivals strays from the
//   phone's own rhythm, the window's mean time per sequence number. An interval across k numbers is
//   held against k rhythms, so a loss alone is no jitter. A phone sending every 10 ms in bursts of
//   ten every 100 ms reads 30 ms (nine intervals 10 ms short, one 90 ms long); a steady one a small
//   fraction of a millisecond.
// - longest gap: the longest interval between two arrivals, of those that ended in the window.
//
// An arrival stays in a window until more than the window has passed since it: at `now` the one at
// now - window still counts, one a nanosecond older no longer does.

#include <array>
#include <cstddef>
#include <cstdint>

namespace Velotrix {

inline constexpr std::int64_t LossWindow = 5'000'000'000; // loss and jitter
inline constexpr std::int64_t GapWindow = 10'000'000'000; // the longest gap

struct LinkFigures {
    double lossPercent = 0;
    double jitterMs = 0;
    double longestGapMs = 0;
};

class LinkStats {
public:
    // The arrivals kept for loss and jitter: the whole window up to 200 Inputs a second; a faster phone
    // is judged on its last 1024.
    static constexpr std::size_t Capacity = 1024;
    // How far back a late number can still be found among the skipped ones.
    static constexpr std::uint16_t LateReach = 64;

    // An Input applied at `now`: the first since Restart, or one newer than the last (the server's
    // sequence rule).
    void Arrived(std::uint16_t sequence, std::int64_t now);
    // An Input the server dropped as stale or as a duplicate.
    void ArrivedLate(std::uint16_t sequence);
    // Everything forgotten: the next arrival starts afresh, with nothing skipped before it.
    void Restart();
    // The figures at `now`, after what left the windows was dropped; 0 for what there is too little to tell.
    LinkFigures Figures(std::int64_t now);

private:
    struct Arrival {
        std::int64_t at = 0;
        std::int32_t intervalUs = 0; // since the arrival before; 0 for the first
        std::uint16_t step = 0;      // sequence numbers since the one before; 0 for the first
        std::uint16_t missed = 0;    // of those, the ones that never arrived
    };
    struct Gap {
        std::int64_t end = 0;
        std::int64_t length = 0;
    };
    // The gaps that may yet be the window's longest: each longer than every later one, so their
    // lengths fall from the oldest to the newest and the oldest is the figure. Random intervals keep
    // a handful here; a run of ever shorter ones that fills it gives up the shortest it kept for the
    // newest, so the figure can read short then, never long.
    static constexpr std::size_t GapCapacity = 32;

    void Push(const Arrival& arrival);
    void DropOldest();
    void Tally(const Arrival& arrival, std::int64_t sign);
    void PushGap(std::int64_t end, std::int64_t length);
    void Expire(std::int64_t now);

    std::array<Arrival, Capacity> arrivals{};
    std::size_t first = 0;
    std::size_t count = 0;
    // Sums over the arrivals kept: the skipped numbers still missing, and the intervals (in
    // microseconds) with their steps, from which the rhythm and the deviations follow; the steps also
    // count the numbers the arrivals stand for.
    std::int64_t missed = 0;
    std::int64_t intervals = 0;
    std::int64_t sumInterval = 0;
    std::int64_t sumStep = 0;
    std::int64_t sumInterval2 = 0;
    std::int64_t sumIntervalStep = 0;
    std::int64_t sumStep2 = 0;

    std::array<Gap, GapCapacity> gaps{};
    std::size_t gapFirst = 0;
    std::size_t gapCount = 0;

    bool started = false;
    std::uint16_t lastSequence = 0;
    std::int64_t lastAt = 0;
    // Bit i: number lastSequence - i arrived.
    std::uint64_t seen = 0;
};

} // namespace Velotrix
