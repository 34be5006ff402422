// The periodic work: silent phones leave, idle pads are centred, player numbers are learnt, rumble
// goes back to the phones, and input rates and the Wi-Fi figures are taken.

#include "Server/ServerCore.h"

#include "Shell/Log.h"

#include <algorithm>

namespace Velotrix {

namespace {

constexpr std::int64_t Silence = 15'000'000'000;
constexpr std::int64_t IdleCentring = 250'000'000;
constexpr std::int64_t PlayerQuery = 500'000'000;
constexpr std::int64_t FeedbackRepeat = 200'000'000;
constexpr std::int64_t RateWindow = 1'000'000'000;

} // namespace

std::int64_t ServerCore::NextDeadline(std::int64_t now) const {
    std::int64_t next = NoDeadline;
    const auto due = [&](std::int64_t at) { next = std::min(next, at); };
    const BusState state = busState.load();
    if (state == BusState::Connected && bus.GoneNoticed()) due(now);
    if (state == BusState::Lost) due(FirstPast(lastBusLook, BusRetryPeriod));
    for (const auto& entry : phones) {
        const Phone& phone = *entry;
        due(FirstPast(phone.lastHeard, Silence));
        due(phone.rateStart + RateWindow);
        const Pad* pad = phone.pad;
        if (pad == nullptr) continue;
        if (!phone.idle) due(FirstPast(phone.lastInput, IdleCentring));
        if (phone.player == 0) due(FirstPast(phone.lastPlayerQuery, PlayerQuery));
        due(pad->rumblePending.load() ? now : FirstPast(phone.lastFeedback, FeedbackRepeat));
    }
    std::int64_t summary = 0;
    if (refusals.SummaryDue(summary)) due(summary);
    return std::max(next, now);
}

void ServerCore::Tick(std::int64_t now) {
    latestNow = now;
    LookAfterBus(now);
    for (auto it = phones.begin(); it != phones.end();) {
        Phone& phone = **it;
        if (MoreThan(now, phone.lastHeard, Silence)) {
            LogAbout(phone, "\"%s\" went silent", phone.name.c_str());
            UnplugPad(phone);
            it = phones.erase(it);
            events.changed = true;
            continue;
        }
        // Each bus request may find the bus gone, and then every pad goes with it: the pad is looked up
        // again after each one.
        if (phone.pad != nullptr && !phone.idle && MoreThan(now, phone.lastInput, IdleCentring)) {
            phone.idle = true;
            phone.input = InputState{};
            phone.input.sessionId = phone.sessionId;
            Heard(bus.SubmitReport(*phone.pad->target, ControllerReport{}), now);
        }
        if (phone.pad != nullptr && phone.player == 0 && MoreThan(now, phone.lastPlayerQuery, PlayerQuery)) {
            phone.lastPlayerQuery = now;
            std::uint32_t index = 0;
            const BusResult asked = bus.GetUserIndex(*phone.pad->target, index);
            if (asked == ResultOk) {
                phone.player = static_cast<std::int32_t>(index) + 1;
                SendStatus(phone);
                events.changed = true;
            }
            Heard(asked, now);
        }
        if (Pad* pad = phone.pad) {
            const bool pending = pad->rumblePending.exchange(false);
            if (pending || MoreThan(now, phone.lastFeedback, FeedbackRepeat)) {
                phone.lastFeedback = now;
                SendFeedback(phone, pad->CurrentRumble());
            }
        }
        if (now - phone.rateStart >= RateWindow) {
            phone.inputRate = phone.inputCount;
            phone.inputCount = 0;
            phone.rateStart = now;
            phone.figures = phone.link.Figures(now);
        }
        ++it;
    }
    RefusalCount::Summary summary;
    if (refusals.TakeSummary(now, summary)) {
        if (summary.datagrams != 0)
            Log("Refused %u datagrams from %u senders", static_cast<unsigned>(summary.datagrams),
                static_cast<unsigned>(summary.senders));
        if (summary.unlogged != 0)
            Log("Left out %u log lines about phones that come and go too often",
                static_cast<unsigned>(summary.unlogged));
    }
}

} // namespace Velotrix
