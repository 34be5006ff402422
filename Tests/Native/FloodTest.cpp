// What one misbehaving sender may cost, each rule at its boundary with the clock stepped by hand.

#include "Controllers/Pad.h"
#include "Server/Flood.h"
#include "CoreFixture.h"
#include "Shell/Log.h"

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace Velotrix {
namespace {

class FloodTest : public CoreFixture {
protected:
    // A Hello from `phone`'s address with an id of our own.
    Bytes HelloWithId(std::uint8_t seed) {
        PhoneId id;
        id.bytes.fill(seed);
        Bytes out(HelloMinimum + MaxNameLength);
        out.resize(static_cast<std::size_t>(BuildHello(out, ProtocolVersion, 0, id, "Flood")));
        return out;
    }
    // The state of the Status answering `hello` from `phone`, and whether it named a session.
    std::pair<std::uint8_t, bool> Answer(FakePhone& phone, const Bytes& hello, std::int64_t now) {
        Send(phone, hello, now);
        const StatusDatagram status = NextStatus(phone);
        return {status.state, status.sessionId != 0};
    }
    static constexpr auto NoRoom = static_cast<std::uint8_t>(PhoneState::NoRoom);
    static constexpr auto Active = static_cast<std::uint8_t>(PhoneState::Active);
};

TEST(TokenBucketTest, GivesItsBurstThenOneTokenPerPeriod) {
    const Rate rate{100, 3};
    struct Step {
        std::int64_t at;
        bool granted;
    };
    // Full at first; empty after three; the next token exactly one period after the first take.
    const Step steps[] = {{1000, true},  {1000, true}, {1000, true}, {1000, false}, {1099, false}, {1100, true},
                          {1100, false}, {1500, true}, {1500, true}, {1500, true},  {1500, false}};
    TokenBucket bucket;
    for (const Step& step : steps) EXPECT_EQ(bucket.Take(rate, step.at), step.granted) << step.at;
}

TEST_F(FloodTest, OneSenderGetsTwoNewIdsThenOnePerPeriodAndOthersStillGetIn) {
    MakeCore(true);
    FakePhone flooder("Flooder", 1);
    // A new socket of the same host is the same sender.
    FakePhone otherPort("Flooder", 1, flooder);
    const std::int64_t t = Second;
    EXPECT_TRUE(Answer(flooder, HelloWithId(1), t).second);
    EXPECT_TRUE(Answer(otherPort, HelloWithId(2), t).second);
    EXPECT_EQ(Answer(otherPort, HelloWithId(3), t), std::make_pair(NoRoom, false));
    EXPECT_EQ(Answer(flooder, HelloWithId(3), t + NewIdsPerSender.period - 1), std::make_pair(NoRoom, false));
    FakePhone other("Other", 2);
    EXPECT_NE(Hello(other, t).sessionId, 0u);
    EXPECT_TRUE(Answer(flooder, HelloWithId(3), t + NewIdsPerSender.period).second);
}

TEST_F(FloodTest, AFullTableTurnsNewPhonesAwaySilentlyButMakesRoomForAnApprovedOne) {
    MakeCore(true);
    FakePhone approved("Approved", 9);
    core->SetAllowed({approved.IdText()});
    // Made-up ids from a host of their own, each from a new port: two records, then no more.
    std::vector<std::unique_ptr<FakePhone>> sockets;
    sockets.push_back(std::make_unique<FakePhone>("Made up", 1));
    for (std::uint8_t i = 1; i <= 8; ++i) {
        sockets.push_back(std::make_unique<FakePhone>("Made up", 1, *sockets.front()));
        Send(*sockets.back(), HelloWithId(i), Second);
    }
    EXPECT_EQ(core->Snapshot().size(), 2u);
    // The approved phone, from that same host, is not a new id.
    FakePhone approvedThere("Approved", 9, *sockets.front());
    const std::uint32_t session = Hello(approvedThere, Second).sessionId;
    EXPECT_EQ(core->Snapshot().at(2).state, Active);
    Send(approvedThere, approvedThere.Bye(session), Second);

    // A table full of records that are neither Active nor remembered.
    std::vector<std::unique_ptr<FakePhone>> crowd;
    for (std::uint8_t i = 0; i < 6; ++i) {
        crowd.push_back(std::make_unique<FakePhone>("Crowd " + std::to_string(i), static_cast<std::uint8_t>(i + 2)));
        Hello(*crowd.back(), 2 * Second);
    }
    ASSERT_EQ(core->Snapshot().size(), MaxPhones);
    // A second later the overall new-id rate has a token again: only the full table turns this one away,
    // with no record, no log line and no repaint.
    logs.Clear();
    const int before = changes;
    FakePhone late("Late", 10);
    const StatusDatagram refused = Hello(late, 3 * Second);
    EXPECT_EQ(refused.state, NoRoom);
    EXPECT_EQ(refused.sessionId, 0u);
    EXPECT_EQ(core->Snapshot().size(), MaxPhones);
    EXPECT_TRUE(logs.Lines().empty());
    EXPECT_EQ(changes, before);
    // The approved phone: the oldest record makes room for it.
    EXPECT_EQ(Hello(approved, 3 * Second).state, Active);
    const auto views = core->Snapshot();
    ASSERT_EQ(views.size(), MaxPhones);
    EXPECT_EQ(views.back().name, "Approved");
    EXPECT_EQ(views.front().name, "Flood") << "the second made-up record is now the oldest";
    EXPECT_EQ(changes, before + 1);
}

TEST_F(FloodTest, ReturningPhoneComesBackFreeOnceThenPaysAsANewId) {
    MakeCore(true);
    FakePhone phone("Phone", 1);
    const auto cycle = [&](std::int64_t now) {
        const StatusDatagram status = Hello(phone, now);
        if (status.sessionId != 0) Send(phone, phone.Bye(status.sessionId), now);
        return status.sessionId != 0;
    };
    const std::int64_t t = Second;
    // Its first id token, the free return, its second token; then nothing until a token is due.
    EXPECT_TRUE(cycle(t));
    EXPECT_TRUE(cycle(t));
    EXPECT_TRUE(cycle(t));
    EXPECT_FALSE(cycle(t));
    EXPECT_FALSE(cycle(t + NewIdsPerSender.period - 1));
    EXPECT_TRUE(cycle(t + NewIdsPerSender.period));
    // Leaving again within the silence time does not renew the free return.
    EXPECT_FALSE(cycle(t + NewIdsPerSender.period));
}

TEST_F(FloodTest, ASendersPhonesGetAboutTwoLogLinesASecond) {
    MakeCore(true);
    FakePhone looping("Looping", 1);
    FakePhone other("Other", 2);
    core->SetAllowed({looping.IdText()});
    const auto cycle = [&](std::int64_t now) { Send(looping, looping.Bye(Hello(looping, now).sessionId), now); };
    const auto about = [&](const std::string& name) {
        int count = 0;
        for (const std::string& line : logs.Lines()) count += line.find(name) != std::string::npos ? 1 : 0;
        return count;
    };
    const std::int64_t t = Second;
    logs.Clear();
    // An approved phone needs no new-id token, so only the log's budget holds its lines back.
    for (int i = 0; i < 10; ++i) cycle(t);
    EXPECT_EQ(about("Looping"), LogLinesPerSender.burst);
    cycle(t + LogLinesPerSender.period - 1);
    EXPECT_EQ(about("Looping"), LogLinesPerSender.burst);
    cycle(t + LogLinesPerSender.period);
    EXPECT_EQ(about("Looping"), LogLinesPerSender.burst + 1);
    // Another sender's phone is told in full: its Hello, as it waits.
    Hello(other, t + LogLinesPerSender.period);
    EXPECT_EQ(about("Other"), 1);
    EXPECT_EQ(about("Left out"), 0);
    Tick(t + RefusalSummaryPeriod);
    EXPECT_EQ(about("Left out"), 1);
}

TEST_F(FloodTest, AnswersThatChangeNothingShareOneBudget) {
    MakeCore(true);
    FakePhone phone("Phone", 1);
    InputDatagram unknown;
    unknown.state.sessionId = 12345;
    const Bytes otherVersion = phone.Hello(ProtocolVersion + 1);
    const auto answers = [&](const Bytes& datagram, std::int64_t now) {
        Send(phone, datagram, now);
        return phone.ReceiveAll().size();
    };
    // An UnknownSession and a Status to another version: the sender's two answers; then none.
    EXPECT_EQ(answers(phone.Input(unknown), Second), 1u);
    EXPECT_EQ(answers(otherVersion, Second), 1u);
    EXPECT_EQ(answers(otherVersion, Second) + answers(phone.Input(unknown), Second), 0u);
    EXPECT_EQ(answers(otherVersion, Second + RefusalAnswersPerSender.period - 1), 0u);
    EXPECT_EQ(answers(otherVersion, Second + RefusalAnswersPerSender.period), 1u);
}

TEST_F(FloodTest, RefusedTrafficIsSummedUpOnceASecond) {
    MakeCore(true);
    FakePhone flooder("Flooder", 1);
    for (std::uint8_t seed = 1; seed <= 5; ++seed) Send(flooder, HelloWithId(seed), Second);
    logs.Clear();
    const std::string summary = "Refused 3 datagrams from 1 senders";
    Tick(2 * Second - 1);
    EXPECT_EQ(logs.Count(summary), 0);
    Tick(2 * Second);
    EXPECT_EQ(logs.Count(summary), 1);
    Tick(3 * Second);
    EXPECT_EQ(logs.Lines().size(), 1u);
}

TEST_F(FloodTest, WaitingPhoneThatSaidByeIsNotAnnouncedAgainWithinTheSilenceTime) {
    MakeCore(true);
    FakePhone phone("Phone", 1);
    struct Return {
        std::int64_t after;
        std::size_t announcements;
    };
    const std::int64_t silence = 15 * Second;
    // Each return follows a Bye said right before it.
    const Return returns[] = {{0, 1}, {Second, 1}, {silence, 1}, {silence + 1, 2}};
    std::int64_t now = Second;
    for (const Return& r : returns) {
        now += r.after;
        const StatusDatagram status = Hello(phone, now);
        EXPECT_EQ(requests.size(), r.announcements) << r.after;
        Send(phone, phone.Bye(status.sessionId), now);
    }
}

TEST_F(FloodTest, PadsArePluggedAtMostAtTheirRate) {
    MakeCore(false);
    std::vector<std::unique_ptr<FakePhone>> phones;
    const auto cycle = [&](std::int64_t now) {
        phones.push_back(std::make_unique<FakePhone>("Phone", static_cast<std::uint8_t>(phones.size())));
        const StatusDatagram status = Hello(*phones.back(), now);
        Send(*phones.back(), phones.back()->Bye(status.sessionId), now);
        return status.state;
    };
    const std::int64_t t = Second;
    // Four at once, then one every half second.
    for (int i = 0; i < 4; ++i) EXPECT_EQ(cycle(t), Active) << i;
    EXPECT_EQ(cycle(t), NoRoom);
    EXPECT_EQ(cycle(t + 500 * Ms - 1), NoRoom);
    EXPECT_EQ(cycle(t + 500 * Ms), Active);
}

TEST(PadsTest, PadIsLentAgainOnlyOnceItsNotificationThreadEnded) {
    Pad* first = LendPad();
    ASSERT_NE(first, nullptr);
    first->rumble.store(0x00030201);
    GiveBackPad(first);
    first->target->notifying.store(true);
    Pad* second = LendPad();
    EXPECT_NE(second, first);
    first->target->notifying.store(false);
    const std::size_t made = PadsMade();
    Pad* third = LendPad();
    EXPECT_EQ(third, first);
    EXPECT_EQ(third->rumble.load(), 0u);
    EXPECT_EQ(PadsMade(), made);
    GiveBackPad(second);
    GiveBackPad(third);
}

// Yields the numbers it was given, in order, then fails.
struct Script {
    static inline std::vector<std::uint32_t> numbers;
    static bool Next(void* out, std::size_t size) {
        if (numbers.empty() || size != 4) return false;
        std::memcpy(out, &numbers.front(), 4);
        numbers.erase(numbers.begin());
        return true;
    }
};

TEST(SessionIdTest, NeverZeroNeverInUseAndNothingWhenTheGeneratorFails) {
    const auto inUse = [](std::uint32_t id) { return id == 7 || id == 9; };
    struct Case {
        std::vector<std::uint32_t> numbers;
        bool drawn;
        std::uint32_t id;
    };
    const Case cases[] = {{{0, 7, 9, 8}, true, 8}, {{}, false, 0}, {std::vector<std::uint32_t>(16, 7), false, 0}};
    for (const Case& c : cases) {
        Script::numbers = c.numbers;
        std::uint32_t id = 0;
        EXPECT_EQ(DrawSessionId(&Script::Next, inUse, id), c.drawn);
        EXPECT_EQ(id, c.id);
    }
}

TEST(BuilderTest, AnswersZeroWhenTheBufferIsTooSmall) {
    std::uint8_t out[MaxOutgoing];
    EXPECT_EQ(BuildStatus(std::span(out, StatusMinimum + 1), 1, 1, 0, PhoneState::Active, "PC"), 0);
    EXPECT_EQ(BuildStatus(std::span(out, StatusMinimum + 2), 1, 1, 0, PhoneState::Active, "PC"), StatusMinimum + 2);
    EXPECT_EQ(BuildFeedback(std::span(out, FeedbackSize - 1), 1, 1, 0, 0, 0, 0), 0);
}

TEST(LogRotationTest, FullLogIsSetAsideAndOnlyOneOlderFileKept) {
    const auto folder = std::filesystem::temp_directory_path() / ("velotrix-rotate-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    ::setenv("VELOTRIX_LOG_DIR", folder.c_str(), 1);
    // Each line is 13 bytes of time stamp, 10 of text and 2 of line end: 25.
    StartLog(100);
    for (int i = 0; i < 9; ++i) Log("line %05d", i);
    const auto lines = [&](const char* name) {
        std::ifstream file(folder / name);
        std::vector<std::string> all;
        for (std::string line; std::getline(file, line);) all.push_back(line.substr(13));
        return all;
    };
    EXPECT_EQ(lines("server.old.log"),
              (std::vector<std::string>{"line 00004", "line 00005", "line 00006", "line 00007"}));
    EXPECT_EQ(lines("server.log"), (std::vector<std::string>{"line 00008"}));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 2);
    StartLog(LogRotationBytes);
    ::unsetenv("VELOTRIX_LOG_DIR");
    std::filesystem::remove_all(folder);
}

} // namespace
} // namespace Velotrix
