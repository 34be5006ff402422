#include "Server/Protocol.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Velotrix {
namespace {

std::vector<std::uint8_t> Datagram(std::uint8_t version, std::uint8_t type, std::size_t length) {
    std::vector<std::uint8_t> bytes(length, 0);
    const char magic[] = "VLTX";
    for (std::size_t i = 0; i < 4 && i < length; ++i) bytes[i] = static_cast<std::uint8_t>(magic[i]);
    if (length > 4) bytes[4] = version;
    if (length > 5) bytes[5] = type;
    return bytes;
}

std::vector<std::uint8_t> HelloWithName(std::size_t nameLength, std::size_t actualBytes) {
    auto bytes = Datagram(1, 1, 25 + actualBytes);
    bytes[24] = static_cast<std::uint8_t>(nameLength);
    return bytes;
}

TEST(ProtocolTest, ReceiptChecksFollowTheirOrder) {
    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;
        Receipt expected;
    };
    auto wrongMagic = Datagram(1, 2, 30);
    wrongMagic[3] = 'Y';
    auto tooLong = Datagram(1, 2, 1501);
    const std::vector<Case> cases = {
        {"7 bytes", Datagram(1, 1, 7), Receipt::Drop},
        {"wrong magic", wrongMagic, Receipt::Drop},
        {"over 1500 bytes", tooLong, Receipt::Drop},
        {"1500 bytes", Datagram(1, 2, 1500), Receipt::Input},
        {"version 2 hello", Datagram(2, 1, 8), Receipt::OtherVersion},
        {"version 0 input", Datagram(0, 2, 30), Receipt::OtherVersion},
        {"version 2 unknown type", Datagram(2, 99, 8), Receipt::OtherVersion},
        {"hello of 24 bytes", Datagram(1, 1, 24), Receipt::Drop},
        {"hello of 25 bytes, empty name", HelloWithName(0, 0), Receipt::Hello},
        {"hello with name length 63", HelloWithName(63, 63), Receipt::Hello},
        {"hello with name length 64", HelloWithName(64, 64), Receipt::Drop},
        {"hello whose name runs past the end", HelloWithName(10, 9), Receipt::Drop},
        {"hello with bytes after the name", HelloWithName(3, 10), Receipt::Hello},
        {"input of 29 bytes", Datagram(1, 2, 29), Receipt::Drop},
        {"input of 30 bytes", Datagram(1, 2, 30), Receipt::Input},
        {"input of 31 bytes", Datagram(1, 2, 31), Receipt::Input},
        {"bye of 11 bytes", Datagram(1, 3, 11), Receipt::Drop},
        {"bye of 12 bytes", Datagram(1, 3, 12), Receipt::Bye},
        {"server's own status type", Datagram(1, 0x81, 20), Receipt::Drop},
        {"unknown type", Datagram(1, 4, 40), Receipt::Drop},
    };
    for (const auto& c : cases) EXPECT_EQ(CheckDatagram(c.bytes), c.expected) << c.what;
}

TEST(ProtocolTest, HelloNameAndIdAreReadFromTheirOffsets) {
    PhoneId id;
    for (std::size_t i = 0; i < 16; ++i) id.bytes[i] = static_cast<std::uint8_t>(0xF0 + i);
    std::uint8_t buffer[HelloMinimum + MaxNameLength];
    const int length = BuildHello(buffer, 1, 7, id, "Anna’s iPhone");
    ASSERT_EQ(CheckDatagram(std::vector<std::uint8_t>(buffer, buffer + length)), Receipt::Hello);
    HelloDatagram hello;
    ASSERT_TRUE(ReadHello({buffer, static_cast<std::size_t>(length)}, hello));
    EXPECT_EQ(hello.id, id);
    EXPECT_EQ(hello.name, "Anna’s iPhone");
}

TEST(ProtocolTest, PhoneIdTextRoundTripsAndRejectsMalformedText) {
    PhoneId id;
    for (std::size_t i = 0; i < 16; ++i) id.bytes[i] = static_cast<std::uint8_t>(i * 17);
    const std::string text = PhoneIdText(id);
    EXPECT_EQ(text, "00112233445566778899aabbccddeeff");
    PhoneId back;
    ASSERT_TRUE(ParsePhoneIdText(text, back));
    EXPECT_EQ(back, id);
    EXPECT_FALSE(ParsePhoneIdText(text.substr(1), back));
    EXPECT_FALSE(ParsePhoneIdText("0011223344556677889gaabbccddeeff", back));
}

TEST(ProtocolTest, InputFieldsAreLittleEndianAtTheirOffsets) {
    const std::vector<std::uint8_t> bytes = {'V',  'L',  'T',  'X',  1,    2,    0x34, 0x12, 0x78, 0x56, 0x34,
                                             0x12, 0x00, 0x80, 0xFF, 0x7F, 0x01, 0x00, 0xFF, 0xFF, 0x80, 0x00,
                                             0xFF, 0xFF, 0x01, 0x81, 0xEF, 0xBE, 0xAD, 0xDE, 0x99};
    InputDatagram input;
    ASSERT_TRUE(ReadInput(bytes, input));
    const InputState& in = input.state;
    EXPECT_EQ((std::vector<std::int64_t>{input.sequence, in.sessionId, in.leftX, in.leftY, in.rightX, in.rightY,
                                         in.leftTrigger, in.rightTrigger, in.buttons, in.echo}),
              (std::vector<std::int64_t>{0x1234, 0x12345678, -32768, 32767, 1, -1, 128, 65535, 0x8101, 0xDEADBEEF}));

    std::uint8_t rebuilt[InputSize];
    ASSERT_EQ(BuildInput(rebuilt, 1, input), InputSize);
    EXPECT_EQ(std::vector<std::uint8_t>(rebuilt, rebuilt + InputSize),
              std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + InputSize));
}

TEST(ProtocolTest, BuildersWriteEveryByte) {
    using Bytes = std::vector<std::uint8_t>;
    std::uint8_t out[MaxOutgoing];
    const auto written = [&](int length) { return Bytes(out, out + length); };
    EXPECT_EQ(written(BuildStatus(out, 0x0102, 0xA1B2C3D4, 3, PhoneState::NoDriver, "PC")),
              (Bytes{'V', 'L', 'T', 'X', 1, 0x81, 0x02, 0x01, 0xD4, 0xC3, 0xB2, 0xA1, 3, 4, 2, 'P', 'C'}));
    EXPECT_EQ(written(BuildFeedback(out, 0xFFFF, 7, 200, 100, 2, 0x01020304)),
              (Bytes{'V', 'L', 'T', 'X', 1, 0x82, 0xFF, 0xFF, 7, 0, 0, 0, 200, 100, 2, 0, 4, 3, 2, 1}));
    EXPECT_EQ(written(BuildUnknownSession(out, 9)), (Bytes{'V', 'L', 'T', 'X', 1, 0x83, 9, 0}));
}

TEST(ProtocolTest, StatusNameIsCutWithoutSplittingACharacter) {
    // A character that does not fit whole in 63 bytes is left out whole: a two-byte one at bytes 62..63,
    // a three-byte one at 61..63.
    const std::pair<std::string, std::size_t> cases[] = {
        {"", 0},
        {"RACING-PC", 9},
        {std::string(63, 'x'), 63},
        {std::string(70, 'a'), 63},
        {std::string(62, 'a') + "é" + "bbbbbb", 62},
        {std::string(63, 'a') + "é", 63},
        {std::string(61, 'a') + "€" + "bb", 61},
        {std::string(70, '\x80'), 0}, // continuation bytes only
    };
    for (const auto& [name, expected] : cases) {
        EXPECT_EQ(ShortenedNameLength(name), expected) << name;
        std::uint8_t out[MaxOutgoing];
        const int length = BuildStatus(out, 1, 1, 0, PhoneState::Active, name);
        EXPECT_EQ(length, static_cast<int>(15 + expected)) << name;
        EXPECT_EQ(out[14], expected) << name;
    }
}

TEST(ProtocolTest, SequenceRuleIsASigned16BitDifference) {
    struct Case {
        std::uint16_t last, next;
        bool newer;
    };
    const Case cases[] = {
        {65535, 0, true},   {100, 100, false},   {100, 99, false},  {100, 101, true},
        {100, 32867, true}, {100, 32868, false}, {0, 65535, false}, {65000, 100, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsNewerSequence(c.next, c.last), c.newer) << "last " << c.last << " next " << c.next;
}

// The fields are read by every server test through the test phone; only the refusals are not.
TEST(ProtocolTest, PhoneSideRefusesAShortStatusAndAFeedbackAsStatus) {
    std::uint8_t out[MaxOutgoing];
    StatusDatagram status;
    const int length = BuildStatus(out, 5, 42, 2, PhoneState::Active, "RACING-PC");
    EXPECT_FALSE(ReadStatus({out, static_cast<std::size_t>(length - 1)}, status));
    const int feedback = BuildFeedback(out, 6, 42, 1, 2, 3, 4);
    EXPECT_FALSE(ReadStatus({out, static_cast<std::size_t>(feedback)}, status));
}

} // namespace
} // namespace Velotrix
