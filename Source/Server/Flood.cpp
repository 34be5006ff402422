#include "Server/Flood.h"

#include <algorithm>

namespace Velotrix {

namespace {

std::uint32_t HashKey(const SenderKey& key) {
    // FNV-1a.
    std::uint32_t hash = 2166136261u;
    for (const std::uint8_t byte : key.bytes) hash = (hash ^ byte) * 16777619u;
    return hash;
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
    const SenderKey key = SenderKeyOf(from);
    const std::size_t first = (HashKey(key) % (Slots / Ways)) * Ways;
    Entry* slot = nullptr;
    for (std::size_t i = first; i < first + Ways; ++i) {
        Entry& entry = entries[i];
        if (entry.used && entry.key == key) {
            slot = &entry;
            break;
        }
        if (slot == nullptr || !entry.used || (slot->used && entry.lastSeen < slot->lastSeen)) slot = &entry;
    }
    if (!slot->used || !(slot->key == key)) {
        *slot = Entry{};
        slot->key = key;
        slot->used = true;
    }
    slot->lastSeen = now;
    switch (limit) {
    case SenderLimit::NewId:
        return slot->newIds.Take(NewIdsPerSender, now);
    case SenderLimit::RefusalAnswer:
        return slot->refusalAnswers.Take(RefusalAnswersPerSender, now);
    case SenderLimit::LogLine:
        break;
    }
    return slot->logLines.Take(LogLinesPerSender, now);
}

void RefusalCount::Count(const SocketAddress& from, std::int64_t now) {
    Start(now);
    if (datagrams != std::numeric_limits<std::uint32_t>::max()) ++datagrams;
    const std::size_t bit = HashKey(SenderKeyOf(from)) % seen.size();
    if (!seen.test(bit)) {
        seen.set(bit);
        ++senders;
    }
}

void RefusalCount::CountUnlogged(std::int64_t now) {
    Start(now);
    if (unlogged != std::numeric_limits<std::uint32_t>::max()) ++unlogged;
}

bool RefusalCount::TakeSummary(std::int64_t now, Summary& out) {
    if ((datagrams == 0 && unlogged == 0) || now - since < RefusalSummaryPeriod) return false;
    out = Summary{datagrams, senders, unlogged};
    datagrams = 0;
    senders = 0;
    unlogged = 0;
    seen.reset();
    return true;
}

void RecentlyLeft::Remember(const PhoneId& id, bool announced, std::int64_t at) {
    for (Entry& entry : entries) {
        if (entry.used && entry.id == id) {
            // A free return taken within the silence time stays taken: leaving again does not renew it.
            const bool fresh = Find(id, at) >= 0;
            entry = Entry{id, at, true, announced || entry.announced, fresh && entry.returned};
            return;
        }
    }
    entries[next] = Entry{id, at, true, announced, false};
    next = (next + 1) % entries.size();
}

int RecentlyLeft::Find(const PhoneId& id, std::int64_t now) const {
    // The silence time: a phone that left longer ago would have been forgotten had it stayed.
    constexpr std::int64_t Silence = 15'000'000'000;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Entry& entry = entries[i];
        if (entry.used && entry.id == id && now - entry.at <= Silence) return static_cast<int>(i);
    }
    return -1;
}

bool RecentlyLeft::TakeFreeReturn(const PhoneId& id, std::int64_t now) {
    const int found = Find(id, now);
    if (found < 0 || entries[static_cast<std::size_t>(found)].returned) return false;
    entries[static_cast<std::size_t>(found)].returned = true;
    return true;
}

bool RecentlyLeft::Announced(const PhoneId& id, std::int64_t now) const {
    const int found = Find(id, now);
    return found >= 0 && entries[static_cast<std::size_t>(found)].announced;
}

void RefusedIds::Add(const PhoneId& id) {
    if (Has(id)) return;
    ids[next] = id;
    used[next] = true;
    next = (next + 1) % Capacity;
}

void RefusedIds::Remove(const PhoneId& id) {
    for (std::size_t i = 0; i < Capacity; ++i)
        if (used[i] && ids[i] == id) used[i] = false;
}

bool RefusedIds::Has(const PhoneId& id) const {
    for (std::size_t i = 0; i < Capacity; ++i)
        if (used[i] && ids[i] == id) return true;
    return false;
}

} // namespace Velotrix
