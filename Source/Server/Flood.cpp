#include "Server/Flood.h"

#include <algorithm>
#include <cstring>

namespace Velotrix {

namespace {

std::uint32_t HashAddress(const SocketAddress& address) {
    // FNV-1a over the bytes the OS filled in.
    std::uint32_t hash = 2166136261u;
    const std::size_t length =
        std::min<std::size_t>(static_cast<std::size_t>(std::max(address.length, 0)), sizeof address.bytes);
    for (std::size_t i = 0; i < length; ++i) hash = (hash ^ address.bytes[i]) * 16777619u;
    return hash;
}

bool SameAddress(const SocketAddress& a, const SocketAddress& b) {
    return a.length == b.length && std::memcmp(a.bytes, b.bytes, sizeof a.bytes) == 0;
}

} // namespace

bool TokenBucket::Available(const Rate& rate, std::int64_t now) const {
    return std::max(due, now) - now <= (rate.burst - 1) * rate.period;
}

bool TokenBucket::Take(const Rate& rate, std::int64_t now) {
    if (!Available(rate, now)) return false;
    due = std::max(due, now) + rate.period;
    return true;
}

bool SenderLimiter::Take(const SocketAddress& from, SenderLimit limit, std::int64_t now) {
    const std::size_t first = (HashAddress(from) % (Slots / Ways)) * Ways;
    Entry* slot = nullptr;
    for (std::size_t i = first; i < first + Ways; ++i) {
        Entry& entry = entries[i];
        if (entry.used && SameAddress(entry.address, from)) {
            slot = &entry;
            break;
        }
        if (slot == nullptr || !entry.used || (slot->used && entry.lastSeen < slot->lastSeen)) slot = &entry;
    }
    if (!slot->used || !SameAddress(slot->address, from)) {
        *slot = Entry{};
        slot->address = from;
        slot->used = true;
    }
    slot->lastSeen = now;
    return limit == SenderLimit::NewId ? slot->newIds.Take(NewIdsPerSender, now)
                                       : slot->refusalAnswers.Take(RefusalAnswersPerSender, now);
}

void RefusalCount::Count(const SocketAddress& from, std::int64_t now) {
    if (datagrams == 0) since = now;
    if (datagrams != std::numeric_limits<std::uint32_t>::max()) ++datagrams;
    const std::size_t bit = HashAddress(from) % seen.size();
    if (!seen.test(bit)) {
        seen.set(bit);
        ++senders;
    }
}

bool RefusalCount::TakeSummary(std::int64_t now, std::uint32_t& outDatagrams, std::uint32_t& outSenders) {
    if (datagrams == 0 || now - since < RefusalSummaryPeriod) return false;
    outDatagrams = datagrams;
    outSenders = senders;
    datagrams = 0;
    senders = 0;
    seen.reset();
    return true;
}

void RecentlyLeft::Remember(const PhoneId& id, bool announced, std::int64_t at) {
    for (Entry& entry : entries) {
        if (entry.used && entry.id == id) {
            entry = Entry{id, at, true, announced || entry.announced};
            return;
        }
    }
    entries[next] = Entry{id, at, true, announced};
    next = (next + 1) % entries.size();
}

const RecentlyLeft::Entry* RecentlyLeft::Find(const PhoneId& id, std::int64_t now) const {
    // The silence time: a phone that left longer ago would have been forgotten had it stayed.
    constexpr std::int64_t Silence = 15'000'000'000;
    for (const Entry& entry : entries)
        if (entry.used && entry.id == id && now - entry.at <= Silence) return &entry;
    return nullptr;
}

bool RecentlyLeft::Knows(const PhoneId& id, std::int64_t now) const { return Find(id, now) != nullptr; }

bool RecentlyLeft::Announced(const PhoneId& id, std::int64_t now) const {
    const Entry* entry = Find(id, now);
    return entry != nullptr && entry->announced;
}

} // namespace Velotrix
