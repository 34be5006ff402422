#pragma once

// The datagrams between phones and the server, byte by byte: receipt checks, parsing and building for
// both directions (the server builds Status, Feedback and UnknownSession; the phone simulator and the
// tests build Hello, Input and Bye and read the server's answers with the same code).

#include "Common/PhoneInput.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace Velotrix {

constexpr std::uint8_t ProtocolVersion = 1;
constexpr int MaxDatagram = 1500;
constexpr int HeaderSize = 8;
constexpr int MaxNameLength = 63;
constexpr int HelloMinimum = 25;
constexpr int InputSize = 30;
constexpr int ByeSize = 12;
constexpr int StatusMinimum = 15;
constexpr int FeedbackSize = 20;
constexpr int UnknownSessionSize = 8;
// A Status with the longest name; every datagram the server sends fits in it.
constexpr int MaxOutgoing = StatusMinimum + MaxNameLength;

enum class DatagramType : std::uint8_t {
    Hello = 1,
    Input = 2,
    Bye = 3,
    Status = 0x81,
    Feedback = 0x82,
    UnknownSession = 0x83,
};

enum class PhoneState : std::uint8_t {
    Active = 0,
    Waiting = 1,
    Refused = 2,
    NoRoom = 3,
    NoDriver = 4,
    OtherVersion = 5,
};

struct PhoneId {
    std::array<std::uint8_t, 16> bytes{};
    bool operator==(const PhoneId&) const = default;
};

// 32 lowercase hexadecimal digits, byte 0 first, high nibble first: the key of the allowed list.
std::string PhoneIdText(const PhoneId& id);
// The reverse, for ids typed on a command line; false unless exactly 32 hexadecimal digits.
[[nodiscard]] bool ParsePhoneIdText(std::string_view text, PhoneId& out);

struct Header {
    std::uint8_t version = 0;
    std::uint8_t type = 0;
    std::uint16_t sequence = 0;
};

using DatagramBytes = std::span<const std::uint8_t>;
using DatagramBuffer = std::span<std::uint8_t>;

// What the receipt checks make of a datagram, in their order: too long, too short or a foreign magic
// is Drop; another version is OtherVersion whatever its type; then each type's length rules.
enum class Receipt { Drop, OtherVersion, Hello, Input, Bye };
Receipt CheckDatagram(DatagramBytes datagram);

// Readers answer false when the bytes do not hold what they ask for, and then leave nothing half
// read that the caller could mistake for a datagram. Views (a name) point into the datagram.
struct HelloDatagram {
    PhoneId id;
    std::string_view name;
};
struct InputDatagram {
    std::uint16_t sequence = 0;
    InputState state;
};
[[nodiscard]] bool ReadHeader(DatagramBytes datagram, Header& out);
[[nodiscard]] bool ReadHello(DatagramBytes datagram, HelloDatagram& out);
[[nodiscard]] bool ReadInput(DatagramBytes datagram, InputDatagram& out);
[[nodiscard]] bool ReadBye(DatagramBytes datagram, std::uint32_t& sessionId);

// How many bytes of `name` a Status carries: at most 63, never splitting a UTF-8 character.
std::size_t ShortenedNameLength(std::string_view name);

// The stream rule for Input: `next` is newer than `last` when (next - last) mod 65536, read as a
// signed 16-bit number, is greater than 0.
bool IsNewerSequence(std::uint16_t next, std::uint16_t last);

// Builders write into `out` and answer the datagram's length, or 0 when `out` is too small for it
// (MaxOutgoing bytes always suffice for what the server sends).
int BuildStatus(DatagramBuffer out, std::uint16_t sequence, std::uint32_t sessionId, std::uint8_t player,
                PhoneState state, std::string_view hostName);
int BuildFeedback(DatagramBuffer out, std::uint16_t sequence, std::uint32_t sessionId, std::uint8_t largeMotor,
                  std::uint8_t smallMotor, std::uint8_t led, std::uint32_t echo);
int BuildUnknownSession(DatagramBuffer out, std::uint16_t sequence);

// The phone's side. A Hello needs HelloMinimum + 63 bytes at most; a longer name is cut to 63 bytes,
// like the server cuts its own.
int BuildHello(DatagramBuffer out, std::uint8_t version, std::uint16_t sequence, const PhoneId& id,
               std::string_view name);
int BuildInput(DatagramBuffer out, std::uint8_t version, const InputDatagram& input);
int BuildBye(DatagramBuffer out, std::uint8_t version, std::uint16_t sequence, std::uint32_t sessionId);

struct StatusDatagram {
    std::uint16_t sequence = 0;
    std::uint32_t sessionId = 0;
    std::uint8_t player = 0;
    std::uint8_t state = 0;
    std::string_view hostName;
};
struct FeedbackDatagram {
    std::uint16_t sequence = 0;
    std::uint32_t sessionId = 0;
    std::uint8_t largeMotor = 0;
    std::uint8_t smallMotor = 0;
    std::uint8_t led = 0;
    std::uint32_t echo = 0;
};
[[nodiscard]] bool ReadStatus(DatagramBytes datagram, StatusDatagram& out);
[[nodiscard]] bool ReadFeedback(DatagramBytes datagram, FeedbackDatagram& out);

const char* PhoneStateName(std::uint8_t state);

} // namespace Velotrix
