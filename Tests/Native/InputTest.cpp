// What an Input datagram does to a pad: the mapping's worked examples and the stream rules.

#include "Controllers/InputMapping.h"
#include "CoreFixture.h"

namespace Velotrix {
namespace {

TEST(InputMappingTest, ButtonsFollowTheTableAndContradictionsCancel) {
    struct Case {
        std::uint16_t phone, controller;
    };
    const Case cases[] = {
        {0x0001, 0x1000}, {0x0002, 0x2000}, {0x0004, 0x4000}, {0x0008, 0x8000}, {0x0010, 0x0100}, {0x0020, 0x0200},
        {0x0040, 0x0020}, {0x0080, 0x0010}, {0x0100, 0x0001}, {0x0200, 0x0002}, {0x0400, 0x0004}, {0x0800, 0x0008},
        {0x1000, 0x0040}, {0x2000, 0x0080}, {0x4000, 0x0400}, {0x8000, 0x0000}, // presses nothing
        {0x0300, 0x0000},                                                       // up and down cancel
        {0x0700, 0x0004},                                                       // up and down cancel, left stays
        {0x0C00, 0x0000},                                                       // left and right cancel
        {0x0D00, 0x0001},                                                       // left and right cancel, up stays
        {0x0F00, 0x0000},                                                       // all four cancel
        {0x7FFF, 0xF7F0},                                                       // everything but the d-pad
    };
    for (const Case& c : cases) EXPECT_EQ(MapButtons(c.phone), c.controller) << std::hex << c.phone;
}

TEST(InputMappingTest, PedalsRoundToTheNearestTriggerStep) {
    const std::pair<std::uint16_t, std::uint8_t> cases[] = {
        {0, 0}, {128, 0}, {129, 1}, {32767, 127}, {32768, 128}, {65406, 254}, {65407, 255}, {65535, 255},
    };
    for (const auto& [pedal, trigger] : cases) EXPECT_EQ(PedalToTrigger(pedal), trigger) << pedal;
}

using InputTest = CoreFixture;

TEST_F(InputTest, AcceptedInputBecomesOneReport) {
    MakeCore(false);
    FakePhone phone("Phone", 1);
    const std::uint32_t session = Hello(phone, 0).sessionId;
    const std::uint32_t serial = SimulatedBus::PluggedSerials().at(0);
    const std::uint64_t before = SimulatedBus::ReportCount(serial);
    Input(phone, session, 10, 1 * Ms, {.state = {session, -32768, 1234, 32767, -5, 129, 32768, 0x8301, 99}});
    EXPECT_EQ(SimulatedBus::ReportCount(serial), before + 1);
    ControllerReport report;
    ASSERT_TRUE(SimulatedBus::LastReport(serial, report));
    EXPECT_EQ(Fields(report), (std::vector<int>{0x1000, 1, 128, -32768, 1234, 32767, -5}));

    const PhoneView view = core->Snapshot()[0];
    EXPECT_FALSE(view.idle);
    EXPECT_EQ(view.input.buttons, 0x8301); // as received, not translated
    EXPECT_EQ(view.input.echo, 99u);
    EXPECT_TRUE(phone.ReceiveAll().empty()); // an applied Input is not answered
}

TEST_F(InputTest, StaleAndDuplicateInputsAreDropped) {
    MakeCore(false);
    FakePhone phone("Phone", 1);
    const std::uint32_t session = Hello(phone, 0).sessionId;
    const std::uint32_t serial = SimulatedBus::PluggedSerials().at(0);
    // The rule itself is ProtocolTest's; here the core applies it, and takes the first one whatever its number.
    const std::pair<std::uint16_t, bool> steps[] = {{65535, true}, {0, true}, {0, false}, {65535, false}, {1, true}};
    std::uint64_t expected = SimulatedBus::ReportCount(serial);
    std::int64_t now = 1 * Ms;
    for (const auto& [sequence, applied] : steps) {
        Input(phone, session, sequence, now += Ms);
        expected += applied ? 1 : 0;
        EXPECT_EQ(SimulatedBus::ReportCount(serial), expected) << "sequence " << sequence;
    }
    // A repeated Hello does not forget the last sequence number.
    Hello(phone, now += Ms);
    Input(phone, session, 1, now += Ms);
    EXPECT_EQ(SimulatedBus::ReportCount(serial), expected);
}

// The statistics are LinkStatsTest's; here the core feeds them what it applied and dropped, shows
// them with the rate, and starts them afresh when the phone gets its pad again.
TEST_F(InputTest, WifiFiguresCountTheAppliedStreamAndReachTheSnapshotWithTheRate) {
    MakeCore(false);
    FakePhone phone("Phone", 1);
    const std::uint32_t session = Hello(phone, 0).sessionId;
    // Numbers 1 to 100 every 10 ms; 50 never comes, 60 comes after 61, and 61 twice.
    for (std::uint16_t sequence = 1; sequence <= 100; ++sequence) {
        const std::int64_t at = sequence * 10 * Ms;
        if (sequence == 50 || sequence == 60) continue;
        Input(phone, session, sequence, at);
        if (sequence == 61) {
            Input(phone, session, 60, at);
            Input(phone, session, 61, at);
        }
    }
    Tick(Second - 1);
    EXPECT_EQ(core->Snapshot()[0].lossPercent, 0) << "taken with the rate, once a second";
    Tick(Second);
    PhoneView view = core->Snapshot()[0];
    EXPECT_DOUBLE_EQ(view.lossPercent, 1);
    EXPECT_DOUBLE_EQ(view.longestGapMs, 20);
    EXPECT_NEAR(view.jitterMs, 0, 1e-6);

    // Refused and allowed again: the numbers sent meanwhile never reached a pad, and are no loss.
    Deny(session);
    Input(phone, session, 200, Second + 100 * Ms);
    Allow(session);
    Input(phone, session, 500, Second + 500 * Ms);
    Input(phone, session, 501, Second + 510 * Ms);
    Tick(2 * Second);
    view = core->Snapshot()[0];
    EXPECT_DOUBLE_EQ(view.lossPercent, 0);
    EXPECT_DOUBLE_EQ(view.longestGapMs, 10);
}

TEST_F(InputTest, UnknownSessionIsAnsweredAndChangesNothing) {
    MakeCore(false);
    FakePhone phone("Phone", 1);
    const std::uint32_t session = Hello(phone, 0).sessionId;
    const int before = changes;
    Input(phone, session ^ 0x5A5A5A5A, 1, 1 * Ms);
    auto reply = phone.Receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ(TypeOf(*reply), static_cast<std::uint8_t>(DatagramType::UnknownSession));
    EXPECT_EQ(reply->size(), 8u);
    EXPECT_EQ(changes, before);
    EXPECT_TRUE(core->Snapshot()[0].idle);
}

} // namespace
} // namespace Velotrix
