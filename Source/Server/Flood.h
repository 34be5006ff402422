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
// phone has, NoRoom to a Hello refused without a record, and the Status that tells a phone of another
// protocol version so. One such answer is all a phone needs; more would make the server an amplifier
// (a Status is up to ten times its request) towards an address nobody checked.
inline constexpr Rate RefusalAnswersPerSender{1'000'000'000, 2};
inline constexpr Rate RefusalAnswersOverall{10'000'000, 16};
// Log lines about the phones of one sender: a phone coming, getting its pad, leaving takes four at
// once; a sender that keeps doing it gets about two a second, and the rest is only counted. Every line
// is written to disk under the server's lock.
inline constexpr Rate LogLinesPerSender{500'000'000, 4};
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

enum class SenderLimit { NewId, RefusalAnswer, LogLine };

// One set of buckets per sender (SenderKeyOf: the address without its port, so a new socket is the
// same sender), in a fixed table: a sender not seen lately takes the place of the one heard least
// recently among the few slots its key hashes to, so no number of senders grows memory (and a sender
// pushed out starts full again, which the overall buckets bound).
class SenderLimiter {
public:
    [[nodiscard]] bool Take(const SocketAddress& from, SenderLimit limit, std::int64_t now);

private:
    struct Entry {
        SenderKey key;
        bool used = false;
        std::int64_t lastSeen = 0;
        TokenBucket newIds;
        TokenBucket refusalAnswers;
        TokenBucket logLines;
    };
    static constexpr std::size_t Slots = 256;
    static constexpr std::size_t Ways = 4;
    std::array<Entry, Slots> entries;
};

// Counts refused datagrams and their senders, and the log lines left out, between two summary lines.
class RefusalCount {
public:
    void Count(const SocketAddress& from, std::int64_t now);
    void CountUnlogged(std::int64_t now);
    struct Summary {
        std::uint32_t datagrams = 0;
        std::uint32_t senders = 0;
        std::uint32_t unlogged = 0;
    };
    // True, with the counts, when something was counted and a summary period has passed since the
    // first of it; the count then starts anew. So summaries are at least a period apart.
    [[nodiscard]] bool TakeSummary(std::int64_t now, Summary& out);
    // When TakeSummary will first answer true: false (and `at` untouched) while nothing was counted.
    bool SummaryDue(std::int64_t& at) const {
        if (datagrams == 0 && unlogged == 0) return false;
        at = since + RefusalSummaryPeriod;
        return true;
    }

private:
    void Start(std::int64_t now) {
        if (datagrams == 0 && unlogged == 0) since = now;
    }
    std::uint32_t datagrams = 0;
    std::uint32_t senders = 0;
    std::uint32_t unlogged = 0;
    std::int64_t since = 0;
    // Senders by hash: two that share one are counted once, which only lowers an estimate.
    std::bitset<4096> seen;
};

// Ids of phones that left the table lately (Bye or Disconnect), for the silence time. Such an id comes
// back once without spending a new-id token (a phone that said Bye and changed its mind, or moved to
// another network); a second return within the silence time pays as a new id does, so a phone looping
// Hello and Bye gets no more records than new ids. If it had been announced to the user already it is
// not announced again.
class RecentlyLeft {
public:
    void Remember(const PhoneId& id, bool announced, std::int64_t at);
    // True, once per id while it is remembered: its return is free.
    [[nodiscard]] bool TakeFreeReturn(const PhoneId& id, std::int64_t now);
    bool Announced(const PhoneId& id, std::int64_t now) const;

private:
    struct Entry {
        PhoneId id;
        std::int64_t at = 0;
        bool used = false;
        bool announced = false;
        bool returned = false;
    };
    // The entry's index, -1 when the id left longer ago than the silence time or not at all.
    int Find(const PhoneId& id, std::int64_t now) const;
    std::array<Entry, MaxPhones> entries;
    std::size_t next = 0;
};

// The phones the user turned away in this run (Deny, Disconnect): their next Hello is answered
// Refused and their row offers Allow. Bounded; the oldest goes first, and then that phone only asks
// again as any unknown phone does.
class RefusedIds {
public:
    static constexpr std::size_t Capacity = 32;
    void Add(const PhoneId& id);
    void Remove(const PhoneId& id);
    bool Has(const PhoneId& id) const;

private:
    std::array<PhoneId, Capacity> ids{};
    std::array<bool, Capacity> used{};
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
