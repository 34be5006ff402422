// Every thread of a running server at once (receive thread and tick, four streaming phones, a game
// changing the rumble, the user clicking while the window reads snapshots), chiefly for the tsan build.

#include "Platform/Os.h"
#include "Platform/SimulatedBus.h"
#include "Server/Server.h"
#include "TestPhone.h"

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
constexpr auto StreamPeriod = 4ms; // 250 Hz, as the phone app sends

// The left stick X of every report a phone causes, so the bus observer can tell whose report it was.
std::int16_t Marker(int phone) { return static_cast<std::int16_t>(1000 * (phone + 1)); }

using ReportCounts = std::array<std::atomic<std::uint64_t>, Phones>;

void CountReport(const SimulatedBus::BusEvent& event, void* context) {
    if (event.kind != SimulatedBus::BusEventKind::Report) return;
    auto& counts = *static_cast<ReportCounts*>(context);
    for (int phone = 0; phone < Phones; ++phone)
        if (event.report.leftStickX == Marker(phone)) ++counts[static_cast<std::size_t>(phone)];
}

// A phone app: one thread streams Hello until it has a session number, then Input at 250 Hz; another
// reads what the server sends. An UnknownSession sends it back to Hello, as the app does.
class StreamingPhone {
public:
    StreamingPhone(int index, std::string name)
        : index(index), phone(std::move(name), static_cast<std::uint8_t>(index + 1)) {}
    ~StreamingPhone() { Halt(); }

    void Run(std::uint16_t port) {
        sender = std::thread([this, port] { Send(port); });
        listener = std::thread([this] { Listen(); });
    }
    void StopSending() {
        sending = false;
        if (sender.joinable()) sender.join();
    }
    void Halt() {
        StopSending();
        listening = false;
        if (listener.joinable()) listener.join();
    }

    const std::string& Name() const { return phone.Name(); }
    std::uint32_t Session() const { return session.load(); }
    std::uint64_t Feedbacks() const { return feedbacks.load(); }
    bool HeardRumble() const { return rumbleHeard.load(); }
    std::uint64_t ForeignEchoes() const { return foreignEchoes.load(); }

private:
    void Send(std::uint16_t port) {
        std::uint16_t sequence = 0;
        auto next = Clock::now();
        while (sending.load()) {
            const std::uint32_t current = session.load();
            if (current == 0) {
                phone.SendTo(port, phone.Hello());
            } else {
                InputDatagram input;
                input.state.sessionId = current;
                input.sequence = ++sequence;
                input.state.leftX = Marker(index);
                input.state.rightTrigger = static_cast<std::uint16_t>(sequence * 97);
                input.state.echo = echoSent.load() + 1;
                echoSent.store(input.state.echo);
                phone.SendTo(port, phone.Input(input));
            }
            next += StreamPeriod;
            std::this_thread::sleep_until(next);
        }
    }

    void Listen() {
        while (listening.load()) {
            auto datagram = phone.Receive(20);
            if (!datagram) continue;
            StatusDatagram status;
            FeedbackDatagram feedback;
            if (ReadStatus(*datagram, status)) {
                if (status.sessionId != 0) session = status.sessionId;
            } else if (ReadFeedback(*datagram, feedback)) {
                ++feedbacks;
                if (feedback.largeMotor != 0) rumbleHeard = true;
                // The server returns the echo of an Input this phone sent, never anything else.
                if (feedback.echo > echoSent.load()) ++foreignEchoes;
            } else if (TypeOf(*datagram) == static_cast<std::uint8_t>(DatagramType::UnknownSession)) {
                session = 0;
            }
        }
    }

    const int index;
    TestPhone phone;
    std::atomic<bool> sending{true};
    std::atomic<bool> listening{true};
    std::atomic<std::uint32_t> session{0};
    std::atomic<std::uint32_t> echoSent{0};
    std::atomic<std::uint64_t> feedbacks{0};
    std::atomic<bool> rumbleHeard{false};
    std::atomic<std::uint64_t> foreignEchoes{0};
    std::thread sender;
    std::thread listener;
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
    std::atomic<int> changes{0};
    std::atomic<int> allowedChanges{0};
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
    std::array<std::unique_ptr<StreamingPhone>, Phones> phones;
    const char* names[Phones] = {"Phone A", "Phone B", "Phone C", "Phone D"};
    for (int i = 0; i < Phones; ++i) {
        phones[static_cast<std::size_t>(i)] = std::make_unique<StreamingPhone>(i, names[i]);
        phones[static_cast<std::size_t>(i)]->Run(server->Port());
    }
    StreamingPhone& a = *phones[0];
    StreamingPhone& b = *phones[1];
    StreamingPhone& c = *phones[2];
    StreamingPhone& d = *phones[3];

    {
        std::unique_lock lock(requestMutex);
        ASSERT_TRUE(requested.wait_for(lock, 10s, [&] { return requests.size() >= Phones; }))
            << requests.size() << " of the phones asked to connect";
    }
    for (const PhoneView& view : server->Snapshot()) {
        EXPECT_EQ(view.state, static_cast<std::uint8_t>(PhoneState::Waiting)) << view.name;
        server->Allow(view.sessionId);
    }

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
    const auto start = Clock::now();
    const auto denyAt = start + 800ms;
    const auto disconnectFrom = start + 400ms;
    const auto end = start + 2500ms;
    auto nextDisconnect = disconnectFrom;
    bool denied = false;
    std::uint64_t reportsOfDenied = 0;
    int disconnects = 0;
    int lostPhones = 0;
    int duplicateSessions = 0;
    int overfull = 0;
    for (int paint = 0; Clock::now() < end; ++paint) {
        const std::vector<PhoneView> views = server->Snapshot();
        if (views.size() > Phones) ++overfull;
        std::set<std::uint32_t> sessions;
        for (const PhoneView& view : views)
            if (view.sessionId == 0 || !sessions.insert(view.sessionId).second) ++duplicateSessions;
        for (StreamingPhone* kept : {&a, &b}) {
            const PhoneView* view = Find(views, kept->Name());
            if (view == nullptr || view->state != static_cast<std::uint8_t>(PhoneState::Active)) ++lostPhones;
        }
        // Clicks on stale rows: the phone is no longer waiting, so nothing happens.
        if (const PhoneView* view = Find(views, a.Name())) server->Allow(view->sessionId);
        server->Deny(0);
        (void)server->AllowedList();
        server->SetAskFirst(paint % 2 == 0);
        server->SetHostName(paint % 2 == 0 ? "RACING-PC" : "SIM-RIG");
        (void)server->ConnectBus();

        const auto now = Clock::now();
        if (!denied && now >= denyAt) {
            if (const PhoneView* view = Find(views, c.Name())) {
                server->Deny(view->sessionId);
                // Deny holds the mutex that every report is submitted under: nothing of C's follows.
                reportsOfDenied = reports[2].load();
                denied = true;
            }
        }
        if (now >= nextDisconnect && now < end - 500ms) {
            if (const PhoneView* view = Find(views, d.Name())) {
                server->Disconnect(view->sessionId);
                ++disconnects;
            }
            nextDisconnect = now + 250ms;
        }
        std::this_thread::sleep_for(2ms);
    }
    EXPECT_EQ(lostPhones, 0);
    EXPECT_EQ(duplicateSessions, 0);
    EXPECT_EQ(overfull, 0);
    EXPECT_TRUE(denied);
    EXPECT_GE(disconnects, 3);

    // D said Hello again after its last Disconnect and, being on the allowed list, drives a pad again.
    const std::uint64_t reportsOfD = reports[3].load();
    const auto comebackDeadline = Clock::now() + 5s;
    while (reports[3].load() == reportsOfD && Clock::now() < comebackDeadline) std::this_thread::sleep_for(5ms);
    EXPECT_GT(reports[3].load(), reportsOfD) << "D's pad gets no reports after it came back";

    const std::vector<PhoneView> views = server->Snapshot();
    ASSERT_EQ(views.size(), static_cast<std::size_t>(Phones));
    for (StreamingPhone* kept : {&a, &b}) {
        const PhoneView* view = Find(views, kept->Name());
        ASSERT_NE(view, nullptr) << kept->Name();
        EXPECT_EQ(view->state, static_cast<std::uint8_t>(PhoneState::Active)) << kept->Name();
        EXPECT_EQ(view->sessionId, kept->Session()) << kept->Name();
        EXPECT_GT(view->inputRate, 0) << kept->Name();
        EXPECT_GT(kept->Feedbacks(), 0u) << kept->Name();
        EXPECT_TRUE(kept->HeardRumble()) << kept->Name();
        EXPECT_EQ(kept->ForeignEchoes(), 0u) << kept->Name();
    }
    EXPECT_GT(reports[0].load(), 0u);
    EXPECT_GT(reports[1].load(), 0u);
    EXPECT_GT(reportsOfDenied, 0u);
    EXPECT_EQ(reports[2].load(), reportsOfDenied) << "C drives its pad after Deny";
    const PhoneView* refused = Find(views, c.Name());
    ASSERT_NE(refused, nullptr);
    EXPECT_EQ(refused->state, static_cast<std::uint8_t>(PhoneState::Refused));
    ASSERT_NE(Find(views, d.Name()), nullptr);
    EXPECT_EQ(Find(views, d.Name())->state, static_cast<std::uint8_t>(PhoneState::Active));
    EXPECT_EQ(SimulatedBus::PluggedSerials().size(), 3u);
    EXPECT_EQ(allowedChanges.load(), Phones);
    {
        // D came back through its allowed id, without asking again.
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
