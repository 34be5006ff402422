#include "Server/Protocol.h"

#include "Common/Bytes.h"

#include <algorithm>

namespace Velotrix {

namespace {

constexpr std::uint8_t Magic[4] = {'V', 'L', 'T', 'X'};

bool HasMagic(const std::uint8_t* data, int length) {
    return length >= HeaderSize && std::equal(Magic, Magic + 4, data);
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

Receipt CheckDatagram(const std::uint8_t* data, int length) {
    if (length > MaxDatagram || !HasMagic(data, length)) return Receipt::Drop;
    if (data[4] != ProtocolVersion) return Receipt::OtherVersion;
    switch (static_cast<DatagramType>(data[5])) {
    case DatagramType::Hello:
        if (length < HelloMinimum || data[24] > MaxNameLength || length < HelloMinimum + data[24]) return Receipt::Drop;
        return Receipt::Hello;
    case DatagramType::Input:
        return length >= InputSize ? Receipt::Input : Receipt::Drop;
    case DatagramType::Bye:
        return length >= ByeSize ? Receipt::Bye : Receipt::Drop;
    default:
        return Receipt::Drop;
    }
}

bool ReadHeader(const std::uint8_t* data, int length, Header& out) {
    if (!HasMagic(data, length)) return false;
    ByteReader in(data, static_cast<std::size_t>(length));
    return in.U8(4, out.version) && in.U8(5, out.type) && in.U16(6, out.sequence);
}

bool ReadHello(const std::uint8_t* data, int length, HelloDatagram& out) {
    ByteReader in(data, static_cast<std::size_t>(std::max(length, 0)));
    std::uint8_t nameLength = 0;
    if (!in.Bytes(8, out.id.bytes.data(), out.id.bytes.size()) || !in.U8(24, nameLength)) return false;
    if (nameLength > MaxNameLength) return false;
    return in.Text(25, nameLength, out.name);
}

bool ReadInput(const std::uint8_t* data, int length, InputDatagram& out) {
    ByteReader in(data, static_cast<std::size_t>(std::max(length, 0)));
    return in.U16(6, out.sequence) && in.U32(8, out.sessionId) && in.I16(12, out.leftX) && in.I16(14, out.leftY) &&
           in.I16(16, out.rightX) && in.I16(18, out.rightY) && in.U16(20, out.leftTrigger) &&
           in.U16(22, out.rightTrigger) && in.U16(24, out.buttons) && in.U32(26, out.echo);
}

bool ReadBye(const std::uint8_t* data, int length, std::uint32_t& sessionId) {
    ByteReader in(data, static_cast<std::size_t>(std::max(length, 0)));
    return in.U32(8, sessionId);
}

std::size_t ShortenedNameLength(std::string_view name) {
    std::size_t n = std::min<std::size_t>(name.size(), MaxNameLength);
    while (n > 0 && n < name.size() && (static_cast<std::uint8_t>(name[n]) & 0xC0) == 0x80) --n;
    return n;
}

bool IsNewerSequence(std::uint16_t next, std::uint16_t last) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(next - last)) > 0;
}

int BuildStatus(std::uint8_t* out, std::uint16_t sequence, std::uint32_t sessionId, std::uint8_t player,
                PhoneState state, std::string_view hostName) {
    const std::size_t nameLength = ShortenedNameLength(hostName);
    ByteWriter writer(out, StatusMinimum + nameLength);
    WriteHeader(writer, ProtocolVersion, DatagramType::Status, sequence);
    writer.U32(8, sessionId);
    writer.U8(12, player);
    writer.U8(13, static_cast<std::uint8_t>(state));
    writer.U8(14, static_cast<std::uint8_t>(nameLength));
    writer.Bytes(15, hostName.data(), nameLength);
    return static_cast<int>(StatusMinimum + nameLength);
}

int BuildFeedback(std::uint8_t* out, std::uint16_t sequence, std::uint32_t sessionId, std::uint8_t largeMotor,
                  std::uint8_t smallMotor, std::uint8_t led, std::uint32_t echo) {
    ByteWriter writer(out, FeedbackSize);
    WriteHeader(writer, ProtocolVersion, DatagramType::Feedback, sequence);
    writer.U32(8, sessionId);
    writer.U8(12, largeMotor);
    writer.U8(13, smallMotor);
    writer.U8(14, led);
    writer.U8(15, 0);
    writer.U32(16, echo);
    return FeedbackSize;
}

int BuildUnknownSession(std::uint8_t* out, std::uint16_t sequence) {
    ByteWriter writer(out, UnknownSessionSize);
    WriteHeader(writer, ProtocolVersion, DatagramType::UnknownSession, sequence);
    return UnknownSessionSize;
}

int BuildHello(std::uint8_t* out, std::uint8_t version, std::uint16_t sequence, const PhoneId& id,
               std::string_view name) {
    const std::size_t nameLength = ShortenedNameLength(name);
    ByteWriter writer(out, HelloMinimum + nameLength);
    WriteHeader(writer, version, DatagramType::Hello, sequence);
    writer.Bytes(8, id.bytes.data(), id.bytes.size());
    writer.U8(24, static_cast<std::uint8_t>(nameLength));
    writer.Bytes(25, name.data(), nameLength);
    return static_cast<int>(HelloMinimum + nameLength);
}

int BuildInput(std::uint8_t* out, std::uint8_t version, const InputDatagram& input) {
    ByteWriter writer(out, InputSize);
    WriteHeader(writer, version, DatagramType::Input, input.sequence);
    writer.U32(8, input.sessionId);
    writer.I16(12, input.leftX);
    writer.I16(14, input.leftY);
    writer.I16(16, input.rightX);
    writer.I16(18, input.rightY);
    writer.U16(20, input.leftTrigger);
    writer.U16(22, input.rightTrigger);
    writer.U16(24, input.buttons);
    writer.U32(26, input.echo);
    return InputSize;
}

int BuildBye(std::uint8_t* out, std::uint8_t version, std::uint16_t sequence, std::uint32_t sessionId) {
    ByteWriter writer(out, ByeSize);
    WriteHeader(writer, version, DatagramType::Bye, sequence);
    writer.U32(8, sessionId);
    return ByeSize;
}

bool ReadStatus(const std::uint8_t* data, int length, StatusDatagram& out) {
    Header header;
    if (!ReadHeader(data, length, header) || header.type != static_cast<std::uint8_t>(DatagramType::Status))
        return false;
    ByteReader in(data, static_cast<std::size_t>(length));
    std::uint8_t nameLength = 0;
    out.sequence = header.sequence;
    return in.U32(8, out.sessionId) && in.U8(12, out.player) && in.U8(13, out.state) && in.U8(14, nameLength) &&
           in.Text(15, nameLength, out.hostName);
}

bool ReadFeedback(const std::uint8_t* data, int length, FeedbackDatagram& out) {
    Header header;
    if (!ReadHeader(data, length, header) || header.type != static_cast<std::uint8_t>(DatagramType::Feedback))
        return false;
    ByteReader in(data, static_cast<std::size_t>(length));
    out.sequence = header.sequence;
    return in.U32(8, out.sessionId) && in.U8(12, out.largeMotor) && in.U8(13, out.smallMotor) && in.U8(14, out.led) &&
           in.U32(16, out.echo);
}

const char* PhoneStateName(std::uint8_t state) {
    switch (static_cast<PhoneState>(state)) {
    case PhoneState::Active: return "Active";
    case PhoneState::Waiting: return "Waiting";
    case PhoneState::Refused: return "Refused";
    case PhoneState::NoRoom: return "NoRoom";
    case PhoneState::NoDriver: return "NoDriver";
    case PhoneState::OtherVersion: return "OtherVersion";
    }
    return "Unknown";
}

} // namespace Velotrix
