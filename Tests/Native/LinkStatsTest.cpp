// The Wi-Fi figures of one phone's Input stream: each at its window's edges, with time stepped by hand.

#include "Server/LinkStats.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

namespace Velotrix {
namespace {

constexpr std::int64_t Ms = 1'000'000;
constexpr std::int64_t Second = 1'000'000'000;

// A phone sending every 10 ms from `start`, numbered from `sequence`, for `count` Inputs; `lost` says
// which of them never arrive. Answers the time of the last one sent.
template <typename Lost>
std::int64_t Stream(LinkStats& stats, std::int64_t start, std::uint16_t& sequence, int count, Lost lost) {
    std::int64_t at = start;
    for (int i = 0; i < count; ++i, ++sequence) {
        at = start + i * 10 * Ms;
        if (!lost(i)) stats.Arrived(sequence, at);
    }
    return at;
}
std::int64_t Steady(LinkStats& stats, std::int64_t start, std::uint16_t& sequence, int count) {
    return Stream(stats, start, sequence, count, [](int) { return false; });
}

TEST(LinkStatsTest, LossIsTheShareOfNumbersSkippedInTheLastFiveSeconds) {
    LinkStats stats;
    std::uint16_t sequence = 65000; // across the wrap
    // A second with every tenth lost (numbers 5, 15, ... 95 of it), then a clean second.
    const std::int64_t lossy = Stream(stats, 0, sequence, 100, [](int i) { return i % 10 == 5; });
    EXPECT_DOUBLE_EQ(stats.Figures(lossy).lossPercent, 10);
    const std::int64_t clean = Steady(stats, lossy + 10 * Ms, sequence, 100);
    EXPECT_DOUBLE_EQ(stats.Figures(clean).lossPercent, 100.0 * 10 / 200);
    // A skipped number counts at the arrival after it: the first at 60 ms, the last at 960 ms. At 5 s
    // past the first, the six arrivals before it have gone.
    EXPECT_DOUBLE_EQ(stats.Figures(60 * Ms + 5 * Second).lossPercent, 100.0 * 10 / (10 + 190 - 5));
    EXPECT_DOUBLE_EQ(stats.Figures(60 * Ms + 5 * Second + 1).lossPercent, 100.0 * 9 / (9 + 190 - 6));
    EXPECT_DOUBLE_EQ(stats.Figures(960 * Ms + 5 * Second).lossPercent, 100.0 * 1 / (1 + 4 + 100));
    EXPECT_DOUBLE_EQ(stats.Figures(960 * Ms + 5 * Second + 1).lossPercent, 0);
    EXPECT_DOUBLE_EQ(LinkStats{}.Figures(0).lossPercent, 0) << "nothing heard, nothing lost";
}

TEST(LinkStatsTest, LateAndRepeatedNumbersAreNoLossAndARestartForgetsTheOldOnes) {
    LinkStats stats;
    std::uint16_t sequence = 1;
    std::int64_t now = Steady(stats, 0, sequence, 10); // numbers 1 to 10
    // 11 and 12 overtaken by 13, 14 by 15: three numbers skipped of 15.
    stats.Arrived(13, now += 10 * Ms);
    stats.Arrived(15, now += 10 * Ms);
    EXPECT_DOUBLE_EQ(stats.Figures(now).lossPercent, 100.0 * 3 / 15);
    stats.ArrivedLate(11);
    stats.ArrivedLate(11); // a duplicate of a late one
    stats.ArrivedLate(15); // a duplicate of the newest
    stats.ArrivedLate(9);  // a duplicate of one that came in order
    EXPECT_DOUBLE_EQ(stats.Figures(now).lossPercent, 100.0 * 2 / 15);
    stats.ArrivedLate(14);
    stats.ArrivedLate(12);
    EXPECT_DOUBLE_EQ(stats.Figures(now).lossPercent, 0);

    // 16 to 80 skipped; of those, a number the reach behind the newest stays lost, one less behind not.
    stats.Arrived(81, now += 10 * Ms);
    const double skipped = stats.Figures(now).lossPercent;
    EXPECT_DOUBLE_EQ(skipped, 100.0 * 65 / 81);
    stats.ArrivedLate(static_cast<std::uint16_t>(81 - LinkStats::LateReach));
    EXPECT_DOUBLE_EQ(stats.Figures(now).lossPercent, skipped);
    stats.ArrivedLate(static_cast<std::uint16_t>(81 - LinkStats::LateReach + 1));
    EXPECT_DOUBLE_EQ(stats.Figures(now).lossPercent, 100.0 * 64 / 81);

    // A phone that gets its pad again starts afresh: neither the jump from its last number nor the
    // time since is counted.
    stats.Restart();
    stats.Arrived(30000, now += 1 * Second);
    stats.Arrived(30001, now += 10 * Ms);
    const LinkFigures fresh = stats.Figures(now);
    EXPECT_DOUBLE_EQ(fresh.lossPercent, 0);
    EXPECT_DOUBLE_EQ(fresh.longestGapMs, 10);
}

TEST(LinkStatsTest, JitterGrowsWithBurstsNotWithLossAndAStrayIntervalLeavesAfterFiveSeconds) {
    std::uint16_t sequence = 1;
    LinkStats steady;
    const std::int64_t end = Steady(steady, 0, sequence, 300);
    EXPECT_NEAR(steady.Figures(end).jitterMs, 0, 1e-6);

    LinkStats lossy;
    const std::int64_t lossyEnd = Stream(lossy, 0, sequence, 300, [](int i) { return i % 10 == 3; });
    EXPECT_NEAR(lossy.Figures(lossyEnd).jitterMs, 0, 1e-6) << "a skipped number keeps the rhythm";

    // Made every 10 ms, delivered ten at a time every 100 ms, for longer than the window: the window
    // holds whole bursts, each nine intervals 10 ms short of the rhythm and one 90 ms long.
    LinkStats bursty;
    std::int64_t at = 0;
    for (int burst = 0; burst <= 60; ++burst, at += 100 * Ms)
        for (int i = 0; i < 10; ++i) bursty.Arrived(sequence++, at);
    EXPECT_NEAR(bursty.Figures(at - 100 * Ms).jitterMs, 30, 1e-6);

    // One interval 50 ms long in a steady stream counts until 5 s after the arrival that ended it.
    LinkStats stray;
    const std::int64_t late = Steady(stray, 0, sequence, 100) + 60 * Ms;
    const std::int64_t last = Steady(stray, late, sequence, 501);
    ASSERT_EQ(last, late + 5 * Second);
    EXPECT_GT(stray.Figures(last).jitterMs, 1);
    EXPECT_NEAR(stray.Figures(last + 1).jitterMs, 0, 1e-6);
}

TEST(LinkStatsTest, LongestGapIsTheLongestIntervalThatEndedInTheLastTenSeconds) {
    LinkStats stats;
    std::uint16_t sequence = 1;
    std::int64_t now = Steady(stats, 0, sequence, 10);
    EXPECT_DOUBLE_EQ(stats.Figures(now).longestGapMs, 10);
    // A 400 ms stall, then a 120 ms one, each followed by a steady second.
    const std::int64_t afterStall = now + 400 * Ms;
    now = Steady(stats, afterStall, sequence, 100);
    const std::int64_t afterShort = now + 120 * Ms;
    now = Steady(stats, afterShort, sequence, 100);
    EXPECT_DOUBLE_EQ(stats.Figures(now).longestGapMs, 400);
    EXPECT_DOUBLE_EQ(stats.Figures(afterStall + 10 * Second).longestGapMs, 400);
    EXPECT_DOUBLE_EQ(stats.Figures(afterStall + 10 * Second + 1).longestGapMs, 120);
    EXPECT_DOUBLE_EQ(stats.Figures(afterShort + 10 * Second + 1).longestGapMs, 10);
    EXPECT_DOUBLE_EQ(stats.Figures(now + 10 * Second + 1).longestGapMs, 0) << "no Input, no gap";

    // Ever shorter intervals, more of them than it keeps, against every gap looked at by hand.
    LinkStats shrinking;
    std::vector<std::pair<std::int64_t, std::int64_t>> gaps; // end, length
    std::int64_t at = 0;
    for (int i = 0; i < 100; ++i) {
        const std::int64_t length = (200 - i) * Ms;
        shrinking.Arrived(sequence++, at += length);
        if (i > 0) gaps.emplace_back(at, length);
    }
    std::int64_t longest = 0;
    for (const auto& [gapEnd, length] : gaps)
        if (at - gapEnd <= 10 * Second) longest = std::max(longest, length);
    EXPECT_DOUBLE_EQ(shrinking.Figures(at).longestGapMs, static_cast<double>(longest) / Ms);
}

TEST(LinkStatsTest, AFastPhoneIsJudgedOnItsLastArrivals) {
    LinkStats stats;
    std::uint16_t sequence = 1;
    // 1000 a second with one number skipped early on, which the kept arrivals have let go within a second.
    std::int64_t at = 0;
    for (std::size_t i = 0; i < LinkStats::Capacity + 10; ++i) {
        if (i == 5) ++sequence;
        stats.Arrived(sequence++, at += 1 * Ms);
    }
    EXPECT_DOUBLE_EQ(stats.Figures(at).lossPercent, 0);
    EXPECT_NEAR(stats.Figures(at).jitterMs, 0, 1e-6);
}

} // namespace
} // namespace Velotrix
