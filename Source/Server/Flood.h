#pragma once

// What one misbehaving sender may cost the server: how many phone records there are at most, how
// fast new phone ids, pad plugs and unknown-session answers are granted, and the one summary line
// that tells of what was refused. Time comes in as an argument, as everywhere in the server.

#include "Platform/UdpSocket.h"
#include "Server/Protocol.h"

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <limits>

namespace Velotrix {

// Four players, and as many again waiting, refused or told "no room": more phones than that trying
// at once is not a game night but a flood. A new id beyond it gets a NoRoom without a record.
inline constexpr std::size_t MaxPhones = 8;

// A token bucket: `burst` tokens at most, one more every `period` nanoseconds.
struct Rate {
    std::int64_t period;
    std::int64_t burst;
};

// A new phone id from one sender address, and from all of them together. A phone keeps its id, so
// a sender needs a new one only when it is a new phone: two at once, then one per silence time.
inline constexpr Rate NewIdsPerSender{15'000'000'000, 2};
inline constexpr Rate NewIdsOverall{1'000'000'000, 8};
// Answers that cost a send but change nothing: UnknownSession to an Input with a session number no
// phone has, and NoRoom to a Hello refused without a record. One such answer is all a phone needs.
inline constexpr Rate RefusalAnswersPerSender{1'000'000'000, 2};
inline constexpr Rate RefusalAnswersOverall{10'000'000, 16};
// Virtual pads plugged: each is a new device for Windows to enumerate, so never in a storm.
inline constexpr Rate PadPlugs{500'000'000, 4};
// The refused traffic is told at most once per this period.
inline constexpr std::int64_t RefusalSummaryPeriod = 1'000'000'000;

// The bucket's whole state is `due`, the time at which it will have given out every token it had:
// a take at `now` succeeds while due lies at most (burst - 1) periods ahead of now. A new bucket
// starts full.
class TokenBucket {
public:
    [[nodiscard]] bool Take(const Rate& rate, std::int64_t now);
    // Whether a Take now would succeed, without taking.
    bool Available(const Rate& rate, std::int64_t now) const;

private:
    std::int64_t due = std::numeric_limits<std::int64_t>::min();
};

enum class SenderLimit { NewId, RefusalAnswer };

// One pair of buckets per sender address (address and port), in a fixed table: a sender not seen
// lately takes the place of the one heard least recently among the few slots its address hashes
// to, so no number of senders grows memory (and a sender pushed out starts full again, which the
// overall buckets bound).
class SenderLimiter {
public:
    [[nodiscard]] bool Take(const SocketAddress& from, SenderLimit limit, std::int64_t now);

private:
    struct Entry {
        SocketAddress address;
        bool used = false;
        std::int64_t lastSeen = 0;
        TokenBucket newIds;
        TokenBucket refusalAnswers;
    };
    static constexpr std::size_t Slots = 256;
    static constexpr std::size_t Ways = 4;
    std::array<Entry, Slots> entries;
};

// Counts refused datagrams and their senders between two summary lines.
class RefusalCount {
public:
    void Count(const SocketAddress& from, std::int64_t now);
    // True, with the counts, when something was refused and a summary period has passed since the
    // first of it; the count then starts anew. So summaries are at least a period apart.
    [[nodiscard]] bool TakeSummary(std::int64_t now, std::uint32_t& datagrams, std::uint32_t& senders);
    // When TakeSummary will first answer true: false (and `at` untouched) while nothing was refused.
    bool SummaryDue(std::int64_t& at) const {
        if (datagrams == 0) return false;
        at = since + RefusalSummaryPeriod;
        return true;
    }

private:
    std::uint32_t datagrams = 0;
    std::uint32_t senders = 0;
    std::int64_t since = 0;
    // Senders by hash: two that share one are counted once, which only lowers an estimate.
    std::bitset<4096> seen;
};

// Ids of phones that left the table lately (Bye or Disconnect), for the silence time. Such an id is
// not new: it comes back without spending a new-id token, and if it had been announced to the user
// already it is not announced again.
class RecentlyLeft {
public:
    void Remember(const PhoneId& id, bool announced, std::int64_t at);
    bool Knows(const PhoneId& id, std::int64_t now) const;
    bool Announced(const PhoneId& id, std::int64_t now) const;

private:
    struct Entry {
        PhoneId id;
        std::int64_t at = 0;
        bool used = false;
        bool announced = false;
    };
    const Entry* Find(const PhoneId& id, std::int64_t now) const;
    std::array<Entry, MaxPhones> entries;
    std::size_t next = 0;
};

using RandomSource = bool (*)(void* out, std::size_t size);
// A session number from `random` that is not 0 and for which `inUse` is false; false when the
// generator failed or gave only such numbers in a few tries (then no phone may be made).
template <typename InUse>
[[nodiscard]] bool DrawSessionId(RandomSource random, const InUse& inUse, std::uint32_t& out) {
    // With at most MaxPhones numbers in use out of 2^32, a miss in 16 tries means a broken generator.
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::uint32_t candidate = 0;
        if (!random(&candidate, sizeof candidate)) return false;
        if (candidate != 0 && !inUse(candidate)) {
            out = candidate;
            return true;
        }
    }
    return false;
}

} // namespace Velotrix
