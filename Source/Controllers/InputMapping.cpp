#include "Controllers/InputMapping.h"

#include "Common/PhoneInput.h"

namespace Velotrix {

namespace {

struct ButtonPair {
    std::uint16_t phone;
    std::uint16_t controller;
};

constexpr ButtonPair ButtonTable[] = {
    {PhoneButtonA, ButtonA},
    {PhoneButtonB, ButtonB},
    {PhoneButtonX, ButtonX},
    {PhoneButtonY, ButtonY},
    {PhoneButtonLeftShoulder, ButtonLeftShoulder},
    {PhoneButtonRightShoulder, ButtonRightShoulder},
    {PhoneButtonView, ButtonBack},
    {PhoneButtonMenu, ButtonStart},
    {PhoneButtonDpadUp, ButtonDpadUp},
    {PhoneButtonDpadDown, ButtonDpadDown},
    {PhoneButtonDpadLeft, ButtonDpadLeft},
    {PhoneButtonDpadRight, ButtonDpadRight},
    {PhoneButtonLeftThumb, ButtonLeftThumb},
    {PhoneButtonRightThumb, ButtonRightThumb},
    {PhoneButtonGuide, ButtonGuide},
};

} // namespace

std::uint16_t MapButtons(std::uint16_t phoneButtons) {
    std::uint16_t buttons = 0;
    for (const auto& pair : ButtonTable)
        if (phoneButtons & pair.phone) buttons |= pair.controller;
    // A game given both directions of an axis at once behaves unpredictably; neither is pressed.
    constexpr std::uint16_t upDown = ButtonDpadUp | ButtonDpadDown;
    constexpr std::uint16_t leftRight = ButtonDpadLeft | ButtonDpadRight;
    if ((buttons & upDown) == upDown) buttons &= ~upDown;
    if ((buttons & leftRight) == leftRight) buttons &= ~leftRight;
    return buttons;
}

std::uint8_t PedalToTrigger(std::uint16_t pedal) {
    return static_cast<std::uint8_t>((static_cast<std::uint32_t>(pedal) * 255u + 32767u) / 65535u);
}

ControllerReport MapInput(const InputState& input) {
    ControllerReport report{};
    report.buttons = MapButtons(input.buttons);
    report.leftTrigger = PedalToTrigger(input.leftTrigger);
    report.rightTrigger = PedalToTrigger(input.rightTrigger);
    report.leftStickX = input.leftX;
    report.leftStickY = input.leftY;
    report.rightStickX = input.rightX;
    report.rightStickY = input.rightY;
    return report;
}

} // namespace Velotrix
