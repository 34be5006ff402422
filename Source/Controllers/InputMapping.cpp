#include "Controllers/InputMapping.h"

#include "Server/Server.h"

namespace Velotrix {

namespace {

struct ButtonPair {
    std::uint16_t phone;
    std::uint16_t controller;
};

constexpr ButtonPair ButtonTable[] = {
    {0x0001, 0x1000}, // A
    {0x0002, 0x2000}, // B
    {0x0004, 0x4000}, // X
    {0x0008, 0x8000}, // Y
    {0x0010, 0x0100}, // left shoulder
    {0x0020, 0x0200}, // right shoulder
    {0x0040, 0x0020}, // back (View)
    {0x0080, 0x0010}, // start (Menu)
    {0x0100, 0x0001}, // d-pad up
    {0x0200, 0x0002}, // d-pad down
    {0x0400, 0x0004}, // d-pad left
    {0x0800, 0x0008}, // d-pad right
    {0x1000, 0x0040}, // left stick press
    {0x2000, 0x0080}, // right stick press
    {0x4000, 0x0400}, // guide
};

constexpr std::uint16_t DpadUp = 0x0001, DpadDown = 0x0002, DpadLeft = 0x0004, DpadRight = 0x0008;

} // namespace

std::uint16_t MapButtons(std::uint16_t phoneButtons) {
    std::uint16_t buttons = 0;
    for (const auto& pair : ButtonTable)
        if (phoneButtons & pair.phone) buttons |= pair.controller;
    // A game given both directions of an axis at once behaves unpredictably; neither is pressed.
    if ((buttons & (DpadUp | DpadDown)) == (DpadUp | DpadDown)) buttons &= ~(DpadUp | DpadDown);
    if ((buttons & (DpadLeft | DpadRight)) == (DpadLeft | DpadRight)) buttons &= ~(DpadLeft | DpadRight);
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
