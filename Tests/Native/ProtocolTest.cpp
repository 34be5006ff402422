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
    EXPECT_EQ(input.sequence, 0x1234);
    EXPECT_EQ(input.state.sessionId, 0x12345678u);
    EXPECT_EQ(input.state.leftX, -32768);
    EXPECT_EQ(input.state.leftY, 32767);
    EXPECT_EQ(input.state.rightX, 1);
    EXPECT_EQ(input.state.rightY, -1);
    EXPECT_EQ(input.state.leftTrigger, 128);
    EXPECT_EQ(input.state.rightTrigger, 65535);
    EXPECT_EQ(input.state.buttons, 0x8101);
    EXPECT_EQ(input.state.echo, 0xDEADBEEFu);

    std::uint8_t rebuilt[InputSize];
    ASSERT_EQ(BuildInput(rebuilt, 1, input), InputSize);
    EXPECT_EQ(std::vector<std::uint8_t>(rebuilt, rebuilt + InputSize),
              std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + InputSize));
}

TEST(ProtocolTest, BuildersWriteEveryByte) {
    std::uint8_t out[MaxOutgoing];
    int length = BuildStatus(out, 0x0102, 0xA1B2C3D4, 3, PhoneState::NoDriver, "PC");
    EXPECT_EQ(std::vector<std::uint8_t>(out, out + length),
              (std::vector<std::uint8_t>{'V', 'L', 'T', 'X', 1, 0x81, 0x02, 0x01, 0xD4, 0xC3, 0xB2, 0xA1, 3, 4, 2, 'P',
                                         'C'}));

    length = BuildFeedback(out, 0xFFFF, 7, 200, 100, 2, 0x01020304);
    EXPECT_EQ(
        std::vector<std::uint8_t>(out, out + length),
        (std::vector<std::uint8_t>{'V', 'L', 'T', 'X', 1, 0x82, 0xFF, 0xFF, 7, 0, 0, 0, 200, 100, 2, 0, 4, 3, 2, 1}));

    length = BuildUnknownSession(out, 9);
    EXPECT_EQ(std::vector<std::uint8_t>(out, out + length),
              (std::vector<std::uint8_t>{'V', 'L', 'T', 'X', 1, 0x83, 9, 0}));
}

TEST(ProtocolTest, StatusNameIsCutWithoutSplittingACharacter) {
    struct Case {
        const char* what;
        std::string name;
        std::size_t expected;
    };
    const std::string ascii70(70, 'a');
    // 62 ASCII bytes then a two-byte character at 62..63: byte 63 is a continuation byte, so 62 stay.
    const std::string splitPair = std::string(62, 'a') + "é" + "bbbbbb";
    // 63 ASCII bytes then the two-byte character: the cut falls before it, 63 stay.
    const std::string wholePair = std::string(63, 'a') + "é";
    // A three-byte character straddling the limit at 61..63.
    const std::string splitTriple = std::string(61, 'a') + "€" + "bb";
    const std::vector<Case> cases = {
        {"empty", "", 0},
        {"short", "RACING-PC", 9},
        {"exactly 63", std::string(63, 'x'), 63},
        {"70 ascii bytes", ascii70, 63},
        {"pair split at 63", splitPair, 62},
        {"pair after 63", wholePair, 63},
        {"triple split", splitTriple, 61},
        {"continuation bytes only", std::string(70, '\x80'), 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ShortenedNameLength(c.name), c.expected) << c.what;
        std::uint8_t out[MaxOutgoing];
        const int length = BuildStatus(out, 1, 1, 0, PhoneState::Active, c.name);
        EXPECT_EQ(length, static_cast<int>(15 + c.expected)) << c.what;
        EXPECT_EQ(out[14], c.expected) << c.what;
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
