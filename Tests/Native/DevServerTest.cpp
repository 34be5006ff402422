#include "DevServer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Velotrix::DevServer {
namespace {

bool SameCommand(const Command& a, const Command& b) {
    return a.kind == b.kind && a.session == b.session && a.serial == b.serial && a.largeMotor == b.largeMotor &&
           a.smallMotor == b.smallMotor && a.led == b.led && a.id == b.id;
}

TEST(DevServerTest, WellFormedCommandsCarryTheirArguments) {
    struct Case {
        std::string line;
        Command expected;
    };
    const std::vector<Case> cases = {
        {"allow 42", {CommandKind::Allow, 42, 0, 0, 0, 0}},
        {"  deny\t4294967295  ", {CommandKind::Deny, 4294967295u, 0, 0, 0, 0}},
        {"disconnect 0", {CommandKind::Disconnect, 0, 0, 0, 0, 0}},
        {"forget 1913A1B3E6DFBB26F3C77E987C624F33",
         {CommandKind::Forget, 0, 0, 0, 0, 0, "1913a1b3e6dfbb26f3c77e987c624f33"}},
        {"rumble 1 200 100 2", {CommandKind::Rumble, 0, 1, 200, 100, 2}},
        {"snapshot", {CommandKind::Snapshot, 0, 0, 0, 0, 0}},
        {"connect-bus", {CommandKind::ConnectBus, 0, 0, 0, 0, 0}},
        {"remove-bus", {CommandKind::RemoveBus, 0, 0, 0, 0, 0}},
        {"restore-bus", {CommandKind::RestoreBus, 0, 0, 0, 0, 0}},
        {"quit\r", {CommandKind::Quit, 0, 0, 0, 0, 0}},
        {"", {CommandKind::Nothing, 0, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        Command command{.kind = CommandKind::Quit, .session = 99, .serial = 99};
        std::string error;
        EXPECT_TRUE(ParseCommand(c.line, command, error)) << c.line << ": " << error;
        EXPECT_TRUE(SameCommand(command, c.expected)) << c.line;
    }
}

TEST(DevServerTest, MalformedCommandsAreRefusedAndLeaveTheCommandAlone) {
    struct Case {
        std::string line;
        std::string errorMentions;
    };
    const std::vector<Case> cases = {
        {"allow", "usage: allow SESSION"},
        {"allow x", "\"x\""},
        {"allow -1", "\"-1\""},
        {"allow 4294967296", "\"4294967296\""},
        {"disconnect", "usage: disconnect SESSION"},
        {"forget 1913a1b3e6dfbb26f3c77e987c624f3", "is not a phone id"},
        {"rumble 0 1 1 1", "serial"},
        {"rumble 1 256 0 0", "LARGE"},
        {"rumble 1 0 0 x", "LED"},
        {"rumble 1 0 0", "usage: rumble SERIAL LARGE SMALL LED"},
        {"snapshot now", "usage: snapshot"},
        {"connect bus", "unknown command \"connect\""},
        {"Allow 1", "unknown command \"Allow\""},
    };
    for (const Case& c : cases) {
        Command command{.kind = CommandKind::Snapshot, .session = 7, .serial = 8, .largeMotor = 9};
        const Command before = command;
        std::string error;
        EXPECT_FALSE(ParseCommand(c.line, command, error)) << c.line;
        EXPECT_NE(error.find(c.errorMentions), std::string::npos) << c.line << " gave: " << error;
        EXPECT_TRUE(SameCommand(command, before)) << c.line;
    }
}

TEST(DevServerTest, OptionsSetWhatTheySay) {
    struct Case {
        std::vector<std::string> arguments;
        bool (*holds)(const Options&);
    };
    const std::vector<Case> cases = {
        {{},
         [](const Options& o) {
             return o.port == 47821 && o.name.empty() && o.askFirst && o.allowed.empty() && !o.noBus &&
                    o.userIndexDelay.count() == 0 && !o.help;
         }},
        {{"--port", "0"}, [](const Options& o) { return o.port == 0; }},
        {{"--name=a=b"}, [](const Options& o) { return o.name == "a=b"; }},
        {{"--allow", "00112233445566778899AABBCCDDEEFF", "--allow", "ffeeddccbbaa99887766554433221100"},
         [](const Options& o) {
             return o.allowed ==
                    std::set<std::string>{"00112233445566778899aabbccddeeff", "ffeeddccbbaa99887766554433221100"};
         }},
        {{"--help"}, [](const Options& o) { return o.help; }},
    };
    for (const Case& c : cases) {
        Options options;
        std::string error;
        EXPECT_TRUE(ParseOptions(c.arguments, options, error)) << error;
        EXPECT_TRUE(c.holds(options)) << (c.arguments.empty() ? "(none)" : c.arguments[0]);
    }
}

TEST(DevServerTest, BadOptionsAreRefused) {
    const std::vector<std::vector<std::string>> cases = {
        {"--port"},
        {"--port", "65536"},
        {"--port", "-1"},
        {"--name", ""},
        {"--allow", "0011223344556677889900aabbccddeeff"},
        {"--user-index-delay", "soon"},
        {"--user-index-delay", "3600001"},
        {"--verbose"},
        {"allow"},
    };
    for (const auto& arguments : cases) {
        Options options;
        std::string error;
        EXPECT_FALSE(ParseOptions(arguments, options, error)) << arguments[0];
        EXPECT_FALSE(error.empty()) << arguments[0];
    }
}

TEST(DevServerTest, EventsAreOneJsonObjectEach) {
    struct Case {
        std::string event;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {ListeningEvent(47821), R"({"event":"listening","port":47821})"},
        {LogEvent("12:00:00.000 Hello from \"Anna\" (ab): 1"),
         R"({"event":"log","line":"12:00:00.000 Hello from \"Anna\" (ab): 1"})"},
        {RequestEvent("Anna \"A\"\n"), R"({"event":"request","name":"Anna \"A\"\n"})"},
        {ChangedEvent(), R"({"event":"changed"})"},
        {AllowedEvent({}), R"({"event":"allowed","ids":[]})"},
        {AllowedEvent({"ffeeddccbbaa99887766554433221100", "00112233445566778899aabbccddeeff"}),
         R"({"event":"allowed","ids":["00112233445566778899aabbccddeeff","ffeeddccbbaa99887766554433221100"]})"},
        {ErrorEvent("unknown command \"x\\y\""), R"({"event":"error","message":"unknown command \"x\\y\""})"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.event, c.expected);
}

TEST(DevServerTest, SnapshotCarriesEveryFieldOfEachPhone) {
    // Every field set, in the order they are declared.
    const InputState input{4000000001u, -32768, 32767, -2, 5, 65535, 1234, 0x8001, 4294967295u};
    const PhoneView first{4000000001u,
                          "00112233445566778899aabbccddeeff",
                          "Anna's \"fast\" iPhone",
                          "::1",
                          0,
                          3,
                          input,
                          false,
                          250,
                          200,
                          100,
                          100.0 * 3 / 31,
                          29.96,
                          400.04};
    const PhoneView second{.sessionId = 17,
                           .idText = "ffeeddccbbaa99887766554433221100",
                           .name = "Ben",
                           .address = "192.168.1.20",
                           .state = 1,
                           .input = {}};

    const std::string expected =
        R"({"event":"snapshot","phones":[)"
        R"({"session":4000000001,"id":"00112233445566778899aabbccddeeff","name":"Anna's \"fast\" iPhone",)"
        R"("address":"::1","state":0,"state_name":"Active","player":3,)"
        R"("input":{"session":4000000001,"lx":-32768,"ly":32767,"rx":-2,"ry":5,"lt":65535,"rt":1234,)"
        R"("buttons":32769,"echo":4294967295},"idle":false,"rate":250,"rumble_large":200,"rumble_small":100,)"
        R"("loss_percent":9.7,"jitter_ms":30.0,"longest_gap_ms":400.0},)"
        R"({"session":17,"id":"ffeeddccbbaa99887766554433221100","name":"Ben","address":"192.168.1.20",)"
        R"("state":1,"state_name":"Waiting","player":0,)"
        R"("input":{"session":0,"lx":0,"ly":0,"rx":0,"ry":0,"lt":0,"rt":0,"buttons":0,"echo":0},)"
        R"("idle":true,"rate":0,"rumble_large":0,"rumble_small":0,"loss_percent":0.0,"jitter_ms":0.0,)"
        R"("longest_gap_ms":0.0}]})";
    EXPECT_EQ(SnapshotEvent({first, second}), expected);
}

TEST(DevServerTest, BusEventsFitTheirBufferAndCarryTheReport) {
    using Kind = SimulatedBus::BusEventKind;
    struct Case {
        SimulatedBus::BusEvent event;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {{Kind::Plug, 1, 0, {}}, R"({"event":"plug","serial":1})"},
        {{Kind::Unplug, 65535, 0, {}}, R"({"event":"unplug","serial":65535})"},
        {{Kind::Report, 65535, 9223372036854775807, {0xFFFF, 255, 255, -32768, -32768, -32768, -32768}},
         R"({"event":"report","serial":65535,"t":9223372036854775807,"buttons":65535,"lt":255,"rt":255,)"
         R"("lx":-32768,"ly":-32768,"rx":-32768,"ry":-32768})"},
    };
    for (const Case& c : cases) {
        char buffer[BusEventBufferSize];
        const int length = FormatBusEvent(buffer, sizeof buffer, c.event);
        EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(length)), c.expected);

        // One byte short: nothing rather than half an object.
        std::vector<char> small(c.expected.size());
        EXPECT_EQ(FormatBusEvent(small.data(), static_cast<int>(small.size()), c.event), 0);
        EXPECT_EQ(small[0], '\0');
    }
}

} // namespace
} // namespace Velotrix::DevServer
