#pragma once

// A phone's controls as its Input datagram carries them, and the phone's button bits. Defined once
// here: the wire reader fills it, the server keeps the last applied one, the mapping turns it into a
// controller report and the window draws it.

#include <cstdint>

namespace Velotrix {

// A phone's input, as received (the buttons are the phone's bits, not yet translated).
struct InputState {
    std::uint32_t sessionId = 0;
    std::int16_t leftX = 0;
    std::int16_t leftY = 0;
    std::int16_t rightX = 0;
    std::int16_t rightY = 0;
    std::uint16_t leftTrigger = 0;
    std::uint16_t rightTrigger = 0;
    std::uint16_t buttons = 0;
    std::uint32_t echo = 0;
};

// The phone's button bits; 0x8000 is sent by no control and presses nothing.
inline constexpr std::uint16_t PhoneButtonA = 0x0001;
inline constexpr std::uint16_t PhoneButtonB = 0x0002;
inline constexpr std::uint16_t PhoneButtonX = 0x0004;
inline constexpr std::uint16_t PhoneButtonY = 0x0008;
inline constexpr std::uint16_t PhoneButtonLeftShoulder = 0x0010;
inline constexpr std::uint16_t PhoneButtonRightShoulder = 0x0020;
inline constexpr std::uint16_t PhoneButtonView = 0x0040;
inline constexpr std::uint16_t PhoneButtonMenu = 0x0080;
inline constexpr std::uint16_t PhoneButtonDpadUp = 0x0100;
inline constexpr std::uint16_t PhoneButtonDpadDown = 0x0200;
inline constexpr std::uint16_t PhoneButtonDpadLeft = 0x0400;
inline constexpr std::uint16_t PhoneButtonDpadRight = 0x0800;
inline constexpr std::uint16_t PhoneButtonLeftThumb = 0x1000;
inline constexpr std::uint16_t PhoneButtonRightThumb = 0x2000;
inline constexpr std::uint16_t PhoneButtonGuide = 0x4000;

} // namespace Velotrix
