#include "Server/AdmissionRule.h"

#include <utility>

namespace Velotrix {

PhoneState DecideAdmission(const AdmissionFacts& facts) {
    const bool admitAtOnce = !facts.askFirst || facts.allowed;
    if (!facts.known) {
        // The user's "no" comes before everything: the row offers Allow, whatever the room.
        if (facts.refused) return PhoneState::Refused;
        if (facts.active + facts.waiting >= MaxControllers) return PhoneState::NoRoom;
        if (!facts.busConnected) return PhoneState::NoDriver;
        // Every plug is a new device for Windows; beyond the rate the phone hears "no room" and is
        // decided again at its next Hello.
        if (admitAtOnce) return facts.plugAvailable ? PhoneState::Active : PhoneState::NoRoom;
        return PhoneState::Waiting;
    }
    const bool decideAgain =
        facts.current == PhoneState::NoRoom || (facts.current == PhoneState::NoDriver && facts.busConnected);
    if (!decideAgain || facts.active >= MaxControllers || !facts.busConnected) return facts.current;
    if (!admitAtOnce) return facts.active + facts.waiting < MaxControllers ? PhoneState::Waiting : facts.current;
    return facts.plugAvailable ? PhoneState::Active : facts.current;
}

namespace {

constexpr char32_t Replacement = 0xFFFD;

bool Unwanted(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) ||
           c == 0x2028 || c == 0x2029;
}

// The code point at the start of `text` and its length in bytes; length 0 when the bytes there start no
// valid sequence.
std::pair<char32_t, std::size_t> Decode(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return {lead, 1};
    std::size_t length = 0;
    char32_t c = 0;
    // The second byte's range rules out overlong forms, surrogates and code points past U+10FFFF.
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, c = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, c = lead & 0x0Fu;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, c = lead & 0x07u;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return {0, 0};
    }
    if (text.size() < length) return {0, 0};
    for (std::size_t i = 1; i < length; ++i) {
        const unsigned char next = byte(i);
        if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF)) return {0, 0};
        c = (c << 6) | (next & 0x3Fu);
    }
    return {c, length};
}

void Append(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

} // namespace

std::string CleanName(std::string_view raw) {
    std::string out;
    out.reserve(raw.size());
    while (!raw.empty()) {
        const auto [c, length] = Decode(raw);
        if (length == 0) {
            Append(out, Replacement);
            raw.remove_prefix(1);
            continue;
        }
        if (Unwanted(c)) {
            Append(out, Replacement);
        } else {
            out.append(raw.substr(0, length));
        }
        raw.remove_prefix(length);
    }
    return out;
}

} // namespace Velotrix
