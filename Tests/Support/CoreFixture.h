#pragma once

// The server core alone, without socket, thread or lock: tests hand it datagrams, ticks and the user's
// commands with a clock of their own, and after every step read what it queued to send (delivered into
// the FakePhones' inboxes) and what it had to tell (counted here).

#include "FakePhone.h"
#include "LogCapture.h"
#include "Platform/Random.h"
#include "Server/ServerCore.h"
#include "SimulatedBus/SimulatedBus.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace Velotrix {

inline std::uint8_t State(PhoneState state) { return static_cast<std::uint8_t>(state); }

// A report's fields in their wire order (buttons, triggers, sticks), to compare in one line.
inline std::vector<int> Fields(const ControllerReport& r) {
    return {r.buttons, r.leftTrigger, r.rightTrigger, r.leftStickX, r.leftStickY, r.rightStickX, r.rightStickY};
}

// The next Status the core sent `phone`; a failure, and an empty Status, when there is none.
inline StatusDatagram NextStatus(FakePhone& phone) {
    const auto status = phone.ReceiveStatus();
    EXPECT_TRUE(status) << "no Status for " << phone.Name();
    return status ? *status : StatusDatagram{};
}

class CoreFixture : public ::testing::Test {
protected:
    static constexpr std::int64_t Ms = 1'000'000;
    static constexpr std::int64_t Second = 1'000'000'000;

    void SetUp() override { SimulatedBus::Reset(); }
    void TearDown() override {
        // Every answer went to a phone of the test: none to an address nobody sent from.
        EXPECT_EQ(stray, 0);
        core.reset();
        SimulatedBus::Reset();
    }

    // Makes the core; the bus is connected unless a fault was set before.
    ServerCore& MakeCore(bool askFirst = true) {
        core = std::make_unique<ServerCore>(&SecureRandom);
        core->SetHostName("RACING-PC");
        core->SetAskFirst(askFirst);
        return *core;
    }

    // Ends a step: the events are counted and the datagrams delivered.
    void Settle() {
        CoreEvents events = core->TakeEvents();
        changes += events.changed ? 1 : 0;
        allowedChanges += events.allowedChanged ? 1 : 0;
        for (std::string& name : events.requests) requests.push_back(std::move(name));
        stray += DeliverToFakePhones(core->Outgoing());
    }

    void Send(FakePhone& phone, const Bytes& datagram, std::int64_t now) {
        core->HandleDatagram(datagram, phone.From(), now);
        Settle();
    }
    void Tick(std::int64_t now) {
        core->Tick(now);
        Settle();
    }
    void Allow(std::uint32_t session) {
        core->Allow(session);
        Settle();
    }
    void Deny(std::uint32_t session) {
        core->Deny(session);
        Settle();
    }
    void Disconnect(std::uint32_t session) {
        core->Disconnect(session);
        Settle();
    }

    // Says Hello and answers the Status that came back.
    StatusDatagram Hello(FakePhone& phone, std::int64_t now) {
        Send(phone, phone.Hello(), now);
        return NextStatus(phone);
    }
    void Input(FakePhone& phone, std::uint32_t session, std::uint16_t sequence, std::int64_t now,
               InputDatagram input = {}) {
        input.state.sessionId = session;
        input.sequence = sequence;
        Send(phone, phone.Input(input), now);
    }

    std::vector<FeedbackDatagram> Feedbacks(FakePhone& phone) {
        std::vector<FeedbackDatagram> out;
        for (const Bytes& datagram : phone.ReceiveAll()) {
            FeedbackDatagram feedback;
            if (ReadFeedback(datagram, feedback)) out.push_back(feedback);
        }
        return out;
    }

    // Waits (bounded) until the pad's notification thread has handed the core `large` as the large
    // motor: the simulated bus delivers rumble on that thread, as the driver does.
    bool WaitForRumble(std::size_t phone, std::uint8_t large) {
        for (int i = 0; i < 2000; ++i) {
            const auto views = core->Snapshot();
            if (phone < views.size() && views[phone].rumbleLarge == large) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }

    std::unique_ptr<ServerCore> core;
    LogCapture logs;
    int changes = 0;
    int allowedChanges = 0;
    std::vector<std::string> requests;
    // Datagrams addressed to no living phone.
    int stray = 0;
};

} // namespace Velotrix
