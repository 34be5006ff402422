#include "Server/Protocol.h"

#include "Common/Bytes.h"

#include <algorithm>

namespace Velotrix {

namespace {

constexpr std::uint8_t Magic[4] = {'V', 'L', 'T', 'X'};

bool HasMagic(DatagramBytes datagram) {
    return datagram.size() >= HeaderSize && std::equal(Magic, Magic + 4, datagram.data());
}

// The length the builder meant to write, or 0 when the buffer refused a byte of it.
int Written(const ByteWriter& writer, std::size_t length) {
    return writer.Ok() && length <= writer.Size() ? static_cast<int>(length) : 0;
}

void WriteHeader(ByteWriter& out, std::uint8_t version, DatagramType type, std::uint16_t sequence) {
    out.Bytes(0, Magic, 4);
    out.U8(4, version);
    out.U8(5, static_cast<std::uint8_t>(type));
    out.U16(6, sequence);
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

std::string PhoneIdText(const PhoneId& id) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text(32, '0');
    for (std::size_t i = 0; i < id.bytes.size(); ++i) {
        text[2 * i] = digits[id.bytes[i] >> 4];
        text[2 * i + 1] = digits[id.bytes[i] & 0x0F];
    }
    return text;
}

bool ParsePhoneIdText(std::string_view text, PhoneId& out) {
    if (text.size() != 32) return false;
    PhoneId id;
    for (std::size_t i = 0; i < 16; ++i) {
        const int high = HexValue(text[2 * i]);
        const int low = HexValue(text[2 * i + 1]);
        if (high < 0 || low < 0) return false;
        id.bytes[i] = static_cast<std::uint8_t>(high << 4 | low);
    }
    out = id;
    return true;
}

Receipt CheckDatagram(DatagramBytes datagram) {
    if (datagram.size() > MaxDatagram || !HasMagic(datagram)) return Receipt::Drop;
    const ByteReader in(datagram);
    std::uint8_t version = 0, type = 0;
    if (!in.U8(4, version) || !in.U8(5, type)) return Receipt::Drop;
    if (version != ProtocolVersion) return Receipt::OtherVersion;
    switch (static_cast<DatagramType>(type)) {
    case DatagramType::Hello: {
        std::uint8_t nameLength = 0;
        if (!in.U8(24, nameLength) || nameLength > MaxNameLength || !in.Has(HelloMinimum, nameLength))
            return Receipt::Drop;
        return Receipt::Hello;
    }
    case DatagramType::Input:
        return in.Has(0, InputSize) ? Receipt::Input : Receipt::Drop;
    case DatagramType::Bye:
        return in.Has(0, ByeSize) ? Receipt::Bye : Receipt::Drop;
    default:
        return Receipt::Drop;
    }
}

bool ReadHeader(DatagramBytes datagram, Header& out) {
    if (!HasMagic(datagram)) return false;
    const ByteReader in(datagram);
    Header header;
    if (!in.U8(4, header.version) || !in.U8(5, header.type) || !in.U16(6, header.sequence)) return false;
    out = header;
    return true;
}

bool ReadHello(DatagramBytes datagram, HelloDatagram& out) {
    const ByteReader in(datagram);
    HelloDatagram hello;
    std::uint8_t nameLength = 0;
    if (!in.Bytes(8, hello.id.bytes.data(), hello.id.bytes.size()) || !in.U8(24, nameLength)) return false;
    if (nameLength > MaxNameLength || !in.Text(25, nameLength, hello.name)) return false;
    out = hello;
    return true;
}

bool ReadInput(DatagramBytes datagram, InputDatagram& out) {
    const ByteReader in(datagram);
    InputDatagram input;
    InputState& state = input.state;
    if (!in.U16(6, input.sequence) || !in.U32(8, state.sessionId) || !in.I16(12, state.leftX) ||
        !in.I16(14, state.leftY) || !in.I16(16, state.rightX) || !in.I16(18, state.rightY) ||
        !in.U16(20, state.leftTrigger) || !in.U16(22, state.rightTrigger) || !in.U16(24, state.buttons) ||
        !in.U32(26, state.echo))
        return false;
    out = input;
    return true;
}

bool ReadBye(DatagramBytes datagram, std::uint32_t& sessionId) { return ByteReader(datagram).U32(8, sessionId); }

std::size_t ShortenedNameLength(std::string_view name) {
    std::size_t n = std::min<std::size_t>(name.size(), MaxNameLength);
    while (n > 0 && n < name.size() && (static_cast<std::uint8_t>(name[n]) & 0xC0) == 0x80) --n;
    return n;
}

bool IsNewerSequence(std::uint16_t next, std::uint16_t last) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(next - last)) > 0;
}

int BuildStatus(DatagramBuffer out, std::uint16_t sequence, std::uint32_t sessionId, std::uint8_t player,
                PhoneState state, std::string_view hostName) {
    const std::size_t nameLength = ShortenedNameLength(hostName);
    ByteWriter writer(out);
    WriteHeader(writer, ProtocolVersion, DatagramType::Status, sequence);
    writer.U32(8, sessionId);
    writer.U8(12, player);
    writer.U8(13, static_cast<std::uint8_t>(state));
    writer.U8(14, static_cast<std::uint8_t>(nameLength));
    writer.Bytes(15, hostName.data(), nameLength);
    return Written(writer, StatusMinimum + nameLength);
}

int BuildFeedback(DatagramBuffer out, std::uint16_t sequence, std::uint32_t sessionId, std::uint8_t largeMotor,
                  std::uint8_t smallMotor, std::uint8_t led, std::uint32_t echo) {
    ByteWriter writer(out);
    WriteHeader(writer, ProtocolVersion, DatagramType::Feedback, sequence);
    writer.U32(8, sessionId);
    writer.U8(12, largeMotor);
    writer.U8(13, smallMotor);
    writer.U8(14, led);
    writer.U8(15, 0);
    writer.U32(16, echo);
    return Written(writer, FeedbackSize);
}

int BuildUnknownSession(DatagramBuffer out, std::uint16_t sequence) {
    ByteWriter writer(out);
    WriteHeader(writer, ProtocolVersion, DatagramType::UnknownSession, sequence);
    return Written(writer, UnknownSessionSize);
}

int BuildHello(DatagramBuffer out, std::uint8_t version, std::uint16_t sequence, const PhoneId& id,
               std::string_view name) {
    const std::size_t nameLength = ShortenedNameLength(name);
    ByteWriter writer(out);
    WriteHeader(writer, version, DatagramType::Hello, sequence);
    writer.Bytes(8, id.bytes.data(), id.bytes.size());
    writer.U8(24, static_cast<std::uint8_t>(nameLength));
    writer.Bytes(25, name.data(), nameLength);
    return Written(writer, HelloMinimum + nameLength);
}

int BuildInput(DatagramBuffer out, std::uint8_t version, const InputDatagram& input) {
    const InputState& state = input.state;
    ByteWriter writer(out);
    WriteHeader(writer, version, DatagramType::Input, input.sequence);
    writer.U32(8, state.sessionId);
    writer.I16(12, state.leftX);
    writer.I16(14, state.leftY);
    writer.I16(16, state.rightX);
    writer.I16(18, state.rightY);
    writer.U16(20, state.leftTrigger);
    writer.U16(22, state.rightTrigger);
    writer.U16(24, state.buttons);
    writer.U32(26, state.echo);
    return Written(writer, InputSize);
}

int BuildBye(DatagramBuffer out, std::uint8_t version, std::uint16_t sequence, std::uint32_t sessionId) {
    ByteWriter writer(out);
    WriteHeader(writer, version, DatagramType::Bye, sequence);
    writer.U32(8, sessionId);
    return Written(writer, ByeSize);
}

bool ReadStatus(DatagramBytes datagram, StatusDatagram& out) {
    Header header;
    if (!ReadHeader(datagram, header) || header.type != static_cast<std::uint8_t>(DatagramType::Status)) return false;
    const ByteReader in(datagram);
    StatusDatagram status;
    std::uint8_t nameLength = 0;
    status.sequence = header.sequence;
    if (!in.U32(8, status.sessionId) || !in.U8(12, status.player) || !in.U8(13, status.state) ||
        !in.U8(14, nameLength) || !in.Text(15, nameLength, status.hostName))
        return false;
    out = status;
    return true;
}

bool ReadFeedback(DatagramBytes datagram, FeedbackDatagram& out) {
    Header header;
    if (!ReadHeader(datagram, header) || header.type != static_cast<std::uint8_t>(DatagramType::Feedback)) return false;
    const ByteReader in(datagram);
    FeedbackDatagram feedback;
    feedback.sequence = header.sequence;
    if (!in.U32(8, feedback.sessionId) || !in.U8(12, feedback.largeMotor) || !in.U8(13, feedback.smallMotor) ||
        !in.U8(14, feedback.led) || !in.U32(16, feedback.echo))
        return false;
    out = feedback;
    return true;
}

const char* PhoneStateName(std::uint8_t state) {
    switch (static_cast<PhoneState>(state)) {
    case PhoneState::Active:
        return "Active";
    case PhoneState::Waiting:
        return "Waiting";
    case PhoneState::Refused:
        return "Refused";
    case PhoneState::NoRoom:
        return "NoRoom";
    case PhoneState::NoDriver:
        return "NoDriver";
    case PhoneState::OtherVersion:
        return "OtherVersion";
    }
    return "Unknown";
}

} // namespace Velotrix
