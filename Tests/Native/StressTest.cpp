// Every thread of a running server at once (receive thread and tick, four streaming phones, a game
// changing the rumble, the user clicking while the window reads snapshots), chiefly for the tsan build.

#include "ServerFixture.h"
#include "SimulatedBus/SimulatedBus.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace Velotrix {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int Phones = 4;

// The left stick X of every report a phone causes, so the bus observer can tell whose report it was.
std::int16_t Marker(int phone) { return static_cast<std::int16_t>(1000 * (phone + 1)); }

using ReportCounts = std::array<std::atomic<std::uint64_t>, Phones>;

void CountReport(const SimulatedBus::BusEvent& event, void* context) {
    if (event.kind != SimulatedBus::BusEventKind::Report) return;
    auto& counts = *static_cast<ReportCounts*>(context);
    for (int phone = 0; phone < Phones; ++phone)
        if (event.report.leftStickX == Marker(phone)) ++counts[static_cast<std::size_t>(phone)];
}

// A phone app ("Phone A" to "Phone D"): one thread streams Hello until it has a session number, then
// Input at 250 Hz; another reads what the server sends. An UnknownSession sends it back to Hello.
struct StreamingPhone {
    StreamingPhone(int index, std::uint16_t port)
        : index(index), phone(std::string("Phone ") + static_cast<char>('A' + index), static_cast<std::uint8_t>(index)),
          sender([this, port] { Send(port); }), listener([this] { Listen(); }) {}
    ~StreamingPhone() { Halt(); }

    void Halt() {
        sending = listening = false;
        if (sender.joinable()) sender.join();
        if (listener.joinable()) listener.join();
    }

    void Send(std::uint16_t port) {
        std::uint16_t sequence = 0;
        for (auto next = Clock::now(); sending; next += 4ms) {
            InputDatagram input;
            input.state.sessionId = session;
            input.sequence = ++sequence;
            input.state.leftX = Marker(index);
            input.state.rightTrigger = static_cast<std::uint16_t>(sequence * 97);
            input.state.echo = ++echoSent;
            phone.SendTo(port, input.state.sessionId == 0 ? phone.Hello() : phone.Input(input));
            std::this_thread::sleep_until(next);
        }
    }

    void Listen() {
        while (listening) {
            const auto datagram = phone.Receive(20);
            if (!datagram) continue;
            StatusDatagram status;
            FeedbackDatagram feedback;
            if (ReadStatus(*datagram, status)) {
                if (status.sessionId != 0) session = status.sessionId;
            } else if (ReadFeedback(*datagram, feedback)) {
                ++feedbacks;
                if (feedback.largeMotor != 0) rumbleHeard = true;
                // The server returns the echo of an Input this phone sent, never anything else.
                if (feedback.echo > echoSent) ++foreignEchoes;
            } else if (TypeOf(*datagram) == static_cast<std::uint8_t>(DatagramType::UnknownSession)) {
                session = 0;
            }
        }
    }

    const int index;
    TestPhone phone;
    std::atomic<bool> sending{true}, listening{true}, rumbleHeard{false};
    std::atomic<std::uint32_t> session{0}, echoSent{0};
    std::atomic<std::uint64_t> feedbacks{0}, foreignEchoes{0};
    std::thread sender, listener; // last, so that they start on a phone made whole
};

const PhoneView* Find(const std::vector<PhoneView>& views, const std::string& name) {
    for (const auto& view : views)
        if (view.name == name) return &view;
    return nullptr;
}

class StressTest : public ::testing::Test {
protected:
    void SetUp() override {
        SimulatedBus::Reset();
        SimulatedBus::SetObserver(&CountReport, &reports);
    }
    void TearDown() override { SimulatedBus::Reset(); }

    ReportCounts reports{};
};

TEST_F(StressTest, PhonesGameAndUserTogetherLoseNothingAndStopPromptly) {
    auto server = std::make_unique<Server>();
    ASSERT_TRUE(server->BusConnected());
    server->SetHostName("RACING-PC");
    server->SetAskFirst(true);

    std::mutex requestMutex;
    std::condition_variable requested;
    std::vector<std::string> requests;
    std::atomic<int> changes{0}, allowedChanges{0};
    // The callbacks call back into the server, as the window and the settings do.
    server->SetOnRequest([&](const std::string& name) {
        (void)server->Snapshot();
        std::lock_guard lock(requestMutex);
        requests.push_back(name);
        requested.notify_all();
    });
    server->SetOnChanged([&] {
        (void)server->Snapshot();
        ++changes;
    });
    server->SetOnAllowedChanged([&] {
        (void)server->AllowedList();
        ++allowedChanges;
    });

    std::string error;
    ASSERT_TRUE(server->Start(0, error)) << error;

    // A and B stream throughout, C is denied midway, D is disconnected again and again and comes back.
    std::vector<std::unique_ptr<StreamingPhone>> phones;
    for (int i = 0; i < Phones; ++i) phones.push_back(std::make_unique<StreamingPhone>(i, server->Port()));
    StreamingPhone &a = *phones[0], &b = *phones[1], &c = *phones[2], &d = *phones[3];

    {
        std::unique_lock lock(requestMutex);
        ASSERT_TRUE(requested.wait_for(lock, 10s, [&] { return requests.size() >= Phones; }))
            << requests.size() << " of the phones asked to connect";
    }
    for (const PhoneView& view : server->Snapshot()) server->Allow(view.sessionId);

    std::atomic<bool> gaming{true};
    std::thread game([&] {
        for (unsigned k = 0; gaming.load(); ++k) {
            for (const std::uint32_t serial : SimulatedBus::PluggedSerials())
                (void)SimulatedBus::SetRumble(serial, static_cast<std::uint8_t>(k % 255 + 1),
                                              static_cast<std::uint8_t>(k), static_cast<std::uint8_t>(k % 4 + 1));
            std::this_thread::sleep_for(3ms);
        }
    });

    // The user's side: a snapshot per paint, clicks that change nothing, a Deny, and Disconnects.
    const auto start = Clock::now(), denyAt = start + 800ms, end = start + 2500ms;
    auto nextDisconnect = start + 400ms;
    bool denied = false;
    std::uint64_t reportsOfDenied = 0;
    int disconnects = 0, lostPhones = 0, duplicateSessions = 0, overfull = 0;
    for (int paint = 0; Clock::now() < end; ++paint) {
        const std::vector<PhoneView> views = server->Snapshot();
        if (views.size() > Phones) ++overfull;
        std::set<std::uint32_t> sessions;
        for (const PhoneView& view : views)
            if (view.sessionId == 0 || !sessions.insert(view.sessionId).second) ++duplicateSessions;
        for (StreamingPhone* kept : {&a, &b}) {
            const PhoneView* view = Find(views, kept->phone.Name());
            if (view == nullptr || view->state != State(PhoneState::Active)) ++lostPhones;
        }
        // Clicks on stale rows: the phone is no longer waiting, so nothing happens.
        if (const PhoneView* view = Find(views, a.phone.Name())) server->Allow(view->sessionId);
        server->Deny(0);
        (void)server->AllowedList();
        server->SetAskFirst(paint % 2 == 0);
        server->SetHostName(paint % 2 == 0 ? "RACING-PC" : "SIM-RIG");
        (void)server->ConnectBus();

        const auto now = Clock::now();
        if (!denied && now >= denyAt) {
            if (const PhoneView* view = Find(views, c.phone.Name())) {
                server->Deny(view->sessionId);
                // Deny holds the mutex that every report is submitted under: nothing of C's follows.
                reportsOfDenied = reports[2].load();
                denied = true;
            }
        }
        // D comes back refused after each Disconnect, and the user changes their mind on its row.
        if (const PhoneView* view = Find(views, d.phone.Name());
            view != nullptr && view->state == State(PhoneState::Refused))
            server->Allow(view->sessionId);
        if (now >= nextDisconnect && now < end - 1000ms) {
            if (const PhoneView* view = Find(views, d.phone.Name())) {
                server->Disconnect(view->sessionId);
                ++disconnects;
            }
            // Two returns come quickly (the free one and a new-id token); a third would wait for a token.
            nextDisconnect = now + 700ms;
        }
        std::this_thread::sleep_for(2ms);
    }
    EXPECT_EQ(lostPhones, 0);
    EXPECT_EQ(duplicateSessions, 0);
    EXPECT_EQ(overfull, 0);
    EXPECT_TRUE(denied);
    EXPECT_EQ(disconnects, 2);

    // D said Hello again after its last Disconnect and, allowed again, drives a pad again.
    const std::uint64_t reportsOfD = reports[3].load();
    const auto comebackDeadline = Clock::now() + 5s;
    while (reports[3].load() == reportsOfD && Clock::now() < comebackDeadline) {
        const std::vector<PhoneView> now = server->Snapshot();
        if (const PhoneView* view = Find(now, d.phone.Name());
            view != nullptr && view->state == State(PhoneState::Refused))
            server->Allow(view->sessionId);
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_GT(reports[3].load(), reportsOfD) << "D's pad gets no reports after it came back";

    const std::vector<PhoneView> views = server->Snapshot();
    ASSERT_EQ(views.size(), static_cast<std::size_t>(Phones));
    for (StreamingPhone* kept : {&a, &b}) {
        SCOPED_TRACE(kept->phone.Name());
        const PhoneView* view = Find(views, kept->phone.Name());
        ASSERT_NE(view, nullptr);
        EXPECT_EQ(view->state, State(PhoneState::Active));
        EXPECT_EQ(view->sessionId, kept->session.load());
        EXPECT_GT(view->inputRate, 0);
        EXPECT_GT(kept->feedbacks.load(), 0u);
        EXPECT_TRUE(kept->rumbleHeard.load());
        EXPECT_EQ(kept->foreignEchoes.load(), 0u);
        EXPECT_GT(reports[static_cast<std::size_t>(kept->index)].load(), 0u);
    }
    EXPECT_GT(reportsOfDenied, 0u);
    EXPECT_EQ(reports[2].load(), reportsOfDenied) << "C drives its pad after Deny";
    const PhoneView *refused = Find(views, c.phone.Name()), *back = Find(views, d.phone.Name());
    ASSERT_TRUE(refused && back);
    EXPECT_EQ(refused->state, State(PhoneState::Refused));
    EXPECT_EQ(back->state, State(PhoneState::Active));
    EXPECT_EQ(SimulatedBus::PluggedSerials().size(), 3u);
    // Each Disconnect took D off the allowed list, each Allow on its Refused row put it back.
    EXPECT_EQ(allowedChanges.load(), Phones + 2 * disconnects);
    {
        // D came back refused, never announced again.
        std::lock_guard lock(requestMutex);
        EXPECT_EQ(requests.size(), static_cast<std::size_t>(Phones));
    }
    EXPECT_GT(changes.load(), 0);

    // Stop while everything still runs.
    const auto stopStart = Clock::now();
    server->Stop();
    const auto stopTook = Clock::now() - stopStart;
    EXPECT_LT(stopTook, 1s) << std::chrono::duration_cast<std::chrono::milliseconds>(stopTook).count() << " ms";
    EXPECT_FALSE(server->Running());
    server->Stop();

    gaming = false;
    game.join();
    for (auto& phone : phones) phone->Halt();
    // Stopping keeps the phones and their pads; destroying the server unplugs them.
    EXPECT_EQ(server->Snapshot().size(), static_cast<std::size_t>(Phones));
    EXPECT_EQ(SimulatedBus::PluggedSerials().size(), 3u);
    server.reset();
    EXPECT_TRUE(SimulatedBus::PluggedSerials().empty());
}

} // namespace
} // namespace Velotrix
