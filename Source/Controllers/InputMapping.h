#pragma once

// Turns a phone's input into an Xbox 360 controller report.

#include "Common/PhoneInput.h"
#include "Controllers/BusClient.h"

#include <cstdint>

namespace Velotrix {

// The phone's button bits as controller buttons, contradictory d-pad directions cancelled.
std::uint16_t MapButtons(std::uint16_t phoneButtons);
// A 16-bit pedal as an 8-bit trigger, rounded to the nearest step.
std::uint8_t PedalToTrigger(std::uint16_t pedal);
ControllerReport MapInput(const InputState& input);

} // namespace Velotrix
