#include "Phone.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <span>
#include <set>
#include <string>
#include <vector>

namespace Velotrix {
namespace {

TEST(PhoneToolTest, AcceptedOptionsSetWhatTheySay) {
    PhoneId typed;
    ASSERT_TRUE(ParsePhoneIdText("00112233445566778899AABBCCDDEEFF", typed));
    struct Case {
        std::vector<std::string> arguments;
        std::function<bool(const PhoneOptions&)> holds;
    };
    const std::vector<Case> cases = {
        {{},
         [](const PhoneOptions& o) {
             return o.host == "127.0.0.1" && o.port == 47821 && o.version == 1 &&
                    o.id == DefaultPhoneId("velotrix-phone") && o.bye && !o.raw && !o.waitActive &&
                    o.form == OutputForm::Text;
         }},
        {{"--port", "1"}, [](const PhoneOptions& o) { return o.port == 1; }},
        {{"--port", "5", "--port", "6"}, [](const PhoneOptions& o) { return o.port == 6; }},
        {{"--host", "::1"}, [](const PhoneOptions& o) { return o.host == "::1"; }},
        {{"--name", "Anna's iPhone"},
         [](const PhoneOptions& o) { return o.name == "Anna's iPhone" && o.id == DefaultPhoneId("Anna's iPhone"); }},
        {{"--id", "00112233445566778899AABBCCDDEEFF", "--name", "x"},
         [&](const PhoneOptions& o) { return o.id == typed && o.name == "x"; }},
        {{"--version", "255"}, [](const PhoneOptions& o) { return o.version == 255; }},
        {{"--rate", "0.5"}, [](const PhoneOptions& o) { return o.rate == 0.5; }},
        {{"--duration", "0.25"}, [](const PhoneOptions& o) { return o.durationNs == 250'000'000; }},
        {{"--pattern=still"}, [](const PhoneOptions& o) { return o.pattern == InputPattern::Still; }},
        {{"--hello-interval", "250"}, [](const PhoneOptions& o) { return o.helloIntervalNs == 250'000'000; }},
        {{"--no-bye"}, [](const PhoneOptions& o) { return !o.bye; }},
        {{"--no-bye", "--bye"}, [](const PhoneOptions& o) { return o.bye; }},
        {{"--json", "--quiet", "--verbose"},
         [](const PhoneOptions& o) { return o.form == OutputForm::Json && o.quiet && o.verbose; }},
        {{"--wait-active", "2.5"},
         [](const PhoneOptions& o) { return o.waitActive && o.waitActiveNs == 2'500'000'000; }},
        {{"--sequence-start", "65535"}, [](const PhoneOptions& o) { return o.sequenceStart == 65535; }},
        {{"--raw", "56 4c 54 58 0aFF"},
         [](const PhoneOptions& o) {
             return o.raw && o.rawBytes == std::vector<std::uint8_t>{0x56, 0x4C, 0x54, 0x58, 0x0A, 0xFF};
         }},
        {{"--listen", "1500"}, [](const PhoneOptions& o) { return o.listenNs == 1'500'000'000; }},
        {{"--loss", "2.5", "--jitter", "30", "--burst", "100", "--stall", "400", "--stall-every", "4"},
         [](const PhoneOptions& o) {
             return o.wifi.lossPercent == 2.5 && o.wifi.jitterNs == 30'000'000 && o.wifi.burstNs == 100'000'000 &&
                    o.wifi.stallNs == 400'000'000 && o.wifi.stallEveryNs == 4'000'000'000;
         }},
    };
    for (const auto& c : cases) {
        std::string joined;
        for (const auto& argument : c.arguments) joined += "[" + argument + "]";
        PhoneOptions options;
        std::string message;
        EXPECT_EQ(ParsePhoneOptions(c.arguments, options, message), ParseResult::Run) << joined << ": " << message;
        EXPECT_TRUE(c.holds(options)) << joined;
    }
}

TEST(PhoneToolTest, MalformedArgumentsAreRefusedNamingTheOptionAndHelpWins) {
    struct Case {
        std::vector<std::string> arguments;
        const char* mentioned;
    };
    const std::vector<Case> cases = {
        {{"--port", "0"}, "--port"},
        {{"--port", "65536"}, "--port"},
        {{"--port", "12a"}, "--port"},
        {{"--port"}, "--port"},
        {{"--id", "0011223344556677889900aabbccddee0"}, "--id"},
        {{"--id", "0011223344556677889900aabbccddeg"}, "--id"},
        {{"--version", "256"}, "--version"},
        {{"--rate", "0"}, "--rate"},
        {{"--rate", "nan"}, "--rate"},
        {{"--rate", "10001"}, "--rate"},
        {{"--duration", "1e9"}, "--duration"},
        {{"--pattern", "zigzag"}, "--pattern"},
        {{"--hello-interval", "1.5"}, "--hello-interval"},
        {{"--wait-active", "soon"}, "--wait-active"},
        {{"--sequence-start", "65536"}, "--sequence-start"},
        {{"--raw", "abc"}, "--raw"},
        {{"--listen", "-1"}, "--listen"},
        {{"--loss", "101"}, "--loss"},
        {{"--burst", "0.5"}, "--burst"},
        {{"--stall-every", "0"}, "--stall-every"},
        {{"--json=yes"}, "--json"},
        {{"--frobnicate"}, "--frobnicate"},
        {{"stray"}, "stray"},
    };
    PhoneOptions options;
    std::string message;
    for (const auto& c : cases) {
        message.clear();
        EXPECT_EQ(ParsePhoneOptions(c.arguments, options, message), ParseResult::Error) << c.mentioned;
        EXPECT_NE(message.find(c.mentioned), std::string::npos) << message;
    }
    // Help is recognised anywhere.
    EXPECT_EQ(ParsePhoneOptions({"--port", "5", "--help"}, options, message), ParseResult::Help);
    EXPECT_EQ(ParsePhoneOptions({"-h"}, options, message), ParseResult::Help);
}

// The first half is the name's FNV-1a hash (published test vectors), so an id never changes.
TEST(PhoneToolTest, DefaultIdIsStablePerNameAndDiffersBetweenNames) {
    const auto firstHalf = [](const PhoneId& id) {
        std::uint64_t value = 0;
        for (int i = 7; i >= 0; --i) value = value << 8 | id.bytes[static_cast<std::size_t>(i)];
        return value;
    };
    EXPECT_EQ(firstHalf(DefaultPhoneId("")), 0xcbf29ce484222325ULL);
    EXPECT_EQ(firstHalf(DefaultPhoneId("a")), 0xaf63dc4c8601ec8cULL);
    EXPECT_EQ(firstHalf(DefaultPhoneId("foobar")), 0x85944171f73967e8ULL);
}

std::vector<InputDatagram> SampleTwoPeriods(InputPattern pattern, std::int64_t stepNs) {
    std::vector<InputDatagram> samples;
    for (std::int64_t t = 0; t <= 2 * PatternPeriodNs; t += stepNs) samples.push_back(PatternControls(pattern, t));
    return samples;
}

TEST(PhoneToolTest, SweepSteersFullyBothWaysSmoothlyWithBothPedals) {
    constexpr std::int64_t Step = 1'000'000'000 / 60;
    const auto samples = SampleTwoPeriods(InputPattern::Sweep, Step);
    int left = 0, right = 0, maxGas = 0, maxBrake = 0, minGas = 65535;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const auto& s = samples[i];
        left = std::min<int>(left, s.state.leftX);
        right = std::max<int>(right, s.state.leftX);
        maxGas = std::max<int>(maxGas, s.state.rightTrigger);
        minGas = std::min<int>(minGas, s.state.rightTrigger);
        maxBrake = std::max<int>(maxBrake, s.state.leftTrigger);
        EXPECT_FALSE(s.state.rightTrigger > 0 && s.state.leftTrigger > 0) << "gas and brake together at sample " << i;
        EXPECT_EQ(s.state.leftY | s.state.rightX | s.state.rightY | s.state.buttons, 0) << i;
        // Centre to full lock takes 0.8 s: no jump at the turning points or where the pattern repeats.
        if (i > 0) {
            EXPECT_LE(std::abs(s.state.leftX - samples[i - 1].state.leftX), 32768 * 5 / 4 / 60 + 1) << i;
        }
    }
    EXPECT_EQ((std::vector<int>{left, right, maxGas, minGas, maxBrake}),
              (std::vector<int>{-32768, 32767, 65535, 0, 65535}));
}

// The controls a pattern sets, side by side.
std::vector<int> Controls(InputPattern pattern, std::int64_t t) {
    const InputState c = PatternControls(pattern, t).state;
    return {c.leftX, c.leftY, c.rightX, c.rightY, c.leftTrigger, c.rightTrigger, c.buttons};
}

TEST(PhoneToolTest, PatternsRepeatAndStartCentred) {
    for (InputPattern pattern : {InputPattern::Sweep, InputPattern::Still, InputPattern::Buttons}) {
        for (std::int64_t t : {0LL, 1LL, 333'333'333LL, 1'000'000'000LL, 2'999'999'999LL, 3'999'999'999LL}) {
            EXPECT_EQ(Controls(pattern, t), Controls(pattern, t + 5 * PatternPeriodNs)) << t;
        }
        // A clock read just before streaming began is treated as its start, which is centred.
        EXPECT_EQ(Controls(pattern, -1), Controls(pattern, 0));
        EXPECT_EQ(PatternControls(pattern, 0).state.leftX, 0);
        EXPECT_EQ(PatternControls(pattern, 0).state.leftTrigger, 0);
    }
}

TEST(PhoneToolTest, StillStaysCentredAndButtonsPressOneBitAtATime) {
    for (const auto& s : SampleTwoPeriods(InputPattern::Still, 10'000'000)) {
        EXPECT_EQ(s.state.leftX | s.state.leftY | s.state.rightX | s.state.rightY | s.state.leftTrigger |
                      s.state.rightTrigger | s.state.buttons,
                  0);
    }
    std::set<std::uint16_t> pressed;
    for (const auto& s : SampleTwoPeriods(InputPattern::Buttons, 10'000'000)) {
        EXPECT_EQ(__builtin_popcount(s.state.buttons), 1) << s.state.buttons;
        EXPECT_EQ(s.state.leftX | s.state.leftTrigger | s.state.rightTrigger, 0);
        pressed.insert(s.state.buttons);
    }
    EXPECT_EQ(pressed.size(), 16u);
}

// `length` is the datagram's real length, of which bytes.size() were received.
struct Received {
    const char* what;
    std::vector<std::uint8_t> bytes;
    int length;
    const char* json;
};

std::vector<std::uint8_t> Built(const std::function<int(std::span<std::uint8_t>)>& build) {
    std::vector<std::uint8_t> bytes(MaxOutgoing);
    bytes.resize(static_cast<std::size_t>(build(bytes)));
    return bytes;
}

TEST(PhoneToolTest, ReceivedDatagramsPrintOneLineEach) {
    auto status = Built(
        [](std::span<std::uint8_t> out) { return BuildStatus(out, 1, 0, 0, PhoneState::OtherVersion, "RACING-PC"); });
    auto active = Built([](std::span<std::uint8_t> out) {
        return BuildStatus(out, 65535, 0xDEADBEEF, 4, PhoneState::Active, "Bob's \"rig\"");
    });
    auto feedback = Built([](std::span<std::uint8_t> out) { return BuildFeedback(out, 7, 42, 255, 0, 2, 0xFFFFFFFF); });
    auto unknown = Built([](std::span<std::uint8_t> out) { return BuildUnknownSession(out, 300); });
    auto otherVersion = status;
    otherVersion[4] = 2;
    const std::vector<std::uint8_t> wrongMagic = {'V', 'L', 'T', 'Y', 1, 0x83, 0, 0};
    const std::vector<std::uint8_t> cut = {'V', 'L', 'T', 'X'};

    const std::vector<Received> cases = {
        {"status", status, 24,
         R"({"type":"status","seq":1,"session":0,"player":0,"state":5,"state_name":"OtherVersion","name":"RACING-PC","bytes":24,"t":123})"},
        {"active", active, 26,
         R"({"type":"status","seq":65535,"session":3735928559,"player":4,"state":0,"state_name":"Active","name":"Bob's \"rig\"","bytes":26,"t":123})"},
        {"feedback", feedback, 20,
         R"({"type":"feedback","seq":7,"session":42,"large":255,"small":0,"led":2,"echo":4294967295,"bytes":20,"t":123})"},
        {"unknown session", unknown, 8, R"({"type":"unknown_session","seq":300,"bytes":8,"t":123})"},
        {"other version", otherVersion, 24,
         R"({"type":"other","bytes":24,"hex":"564c54580281010000000000000509524143494e472d5043","t":123})"},
        {"wrong magic", wrongMagic, 8, R"({"type":"other","bytes":8,"hex":"564c545901830000","t":123})"},
        {"cut by the buffer", cut, 3000, R"({"type":"other","bytes":3000,"hex":"564c5458","t":123})"},
    };
    for (const auto& c : cases) {
        const int available = static_cast<int>(c.bytes.size());
        EXPECT_EQ(FormatReceived(c.bytes.data(), available, c.length, 123, OutputForm::Json), c.json) << c.what;
    }
}

TEST(PhoneToolTest, SentLinesAndSummaryNameTheirKind) {
    PhoneId id;
    id.bytes[15] = 0xAB;
    EXPECT_EQ(
        FormatSentHello(1, 2, id, "P\"1", 28, 5, OutputForm::Json),
        R"({"type":"sent","what":"hello","seq":1,"version":2,"id":"000000000000000000000000000000ab","name":"P\"1","bytes":28,"t":5})");
    EXPECT_EQ(FormatSentBye(9, 77, 12, 6, OutputForm::Json),
              R"({"type":"sent","what":"bye","seq":9,"session":77,"bytes":12,"t":6})");
    const InputDatagram input{
        .sequence = 3,
        .state = {.sessionId = 77, .leftX = -32768, .rightTrigger = 65535, .buttons = 0x8001, .echo = 3}};
    EXPECT_EQ(FormatSentInput(input, 8, OutputForm::Text),
              "sent input seq=3 session=77 lx=-32768 ly=0 rx=0 ry=0 lt=0 rt=65535 buttons=32769 echo=3");
    EXPECT_EQ(FormatSentRaw({0x56, 0x00}, 9, OutputForm::Json),
              R"({"type":"sent","what":"raw","bytes":2,"hex":"5600","t":9})");

    PhoneSummary summary{
        .sentInputs = 120, .lostInputs = 12, .sentHellos = 2, .status = 2, .feedback = 11, .unknownSession = 1};
    EXPECT_EQ(
        FormatSummary(summary, OutputForm::Json),
        R"({"type":"summary","sent_inputs":120,"lost_inputs":12,"sent_hellos":2,"received":{"status":2,"feedback":11,"unknown_session":1,"other":0},"last_state":null})");
    summary.haveState = true;
    summary.lastState = 1;
    EXPECT_EQ(FormatSummary(summary, OutputForm::Text),
              "summary sent_inputs=120 lost_inputs=12 sent_hellos=2 status=2 feedback=11 unknown-session=1 other=0 "
              "last_state=1(Waiting)");
}

// The bad Wi-Fi, input by input at 100 a second: which never arrive, when the others reach the
// network, and when the phone makes none.
TEST(PhoneToolTest, BadWifiLosesHoldsAndStallsAsAsked) {
    constexpr std::int64_t Ms = 1'000'000;
    struct Case {
        const char* what;
        WifiPlay play;
        std::vector<std::int64_t> deliveredMs; // of the first twelve inputs, -1 for lost
    };
    const std::vector<Case> cases = {
        {"clean", {}, {0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110}},
        {"every tenth lost", {.lossPercent = 10}, {0, 10, 20, 30, 40, 50, 60, 70, 80, -1, 100, 110}},
        {"every fourth lost", {.lossPercent = 25}, {0, 10, 20, -1, 40, 50, 60, -1, 80, 90, 100, -1}},
        {"all lost", {.lossPercent = 100}, {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
        {"bursts every 50 ms", {.burstNs = 50 * Ms}, {0, 50, 50, 50, 50, 50, 100, 100, 100, 100, 100, 150}},
        {"bursts and loss",
         {.lossPercent = 50, .burstNs = 50 * Ms},
         {0, -1, 50, -1, 50, -1, 100, -1, 100, -1, 100, -1}},
    };
    for (const Case& c : cases) {
        WifiPlayer player(c.play, 1);
        std::vector<std::int64_t> delivered;
        for (std::int64_t made = 0; made < 120 * Ms; made += 10 * Ms) {
            std::int64_t at = -1;
            delivered.push_back(player.Deliver(made, at) ? at / Ms : -1);
        }
        EXPECT_EQ(delivered, c.deliveredMs) << c.what;
    }

    // Jitter holds each input back up to its bound, in order, and differently from input to input.
    WifiPlayer jittery({.jitterNs = 30 * Ms}, 7);
    std::int64_t previous = 0;
    std::set<std::int64_t> delays;
    for (std::int64_t made = 0; made < 10'000 * Ms; made += 10 * Ms) {
        std::int64_t at = 0;
        ASSERT_TRUE(jittery.Deliver(made, at));
        EXPECT_TRUE(at >= made && at <= made + 30 * Ms && at >= previous) << made;
        delays.insert((at - made) / Ms);
        previous = at;
    }
    EXPECT_GE(delays.size(), 25u) << "delays spread over the bound";

    // A 400 ms stall every 4 s, the first at 4 s.
    const WifiPlayer stalling({.stallNs = 400 * Ms, .stallEveryNs = 4000 * Ms}, 1);
    for (const auto& [atMs, stalled] : std::vector<std::pair<std::int64_t, bool>>{
             {0, false}, {399, false}, {3999, false}, {4000, true}, {4399, true}, {4400, false}, {8000, true}})
        EXPECT_EQ(stalling.Stalled(atMs * Ms), stalled) << atMs;
    EXPECT_FALSE(WifiPlayer({}, 1).Stalled(5000 * Ms));
}

} // namespace
} // namespace Velotrix
