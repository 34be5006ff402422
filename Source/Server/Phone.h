#pragma once

// The server's record of one phone, and the phone as the window shows it.

#include "Common/PhoneInput.h"
#include "Platform/UdpSocket.h"
#include "Server/LinkStats.h"
#include "Server/Protocol.h"

#include <cstdint>
#include <string>

namespace Velotrix {

struct Pad;

struct Phone {
    PhoneId id;
    std::string name;
    // Where its latest Hello or applied Input came from; every answer goes there.
    SocketAddress address;
    std::uint32_t sessionId = 0;
    PhoneState state = PhoneState::Waiting;
    // Lent while a controller is plugged for the phone, never freed (see Controllers/Pad.h).
    Pad* pad = nullptr;
    std::int32_t player = 0;
    // While the bus is lost: the player number the phone had when its pad went with the bus (a number
    // past every player when it was not known yet), so that it is plugged again in its turn; 0 for a
    // phone that had no pad then.
    std::int32_t formerPlayer = 0;
    InputState input;
    bool idle = true;
    bool haveSequence = false;
    std::uint16_t lastSequence = 0;
    // Steady-clock nanoseconds, as the server's owner passed them in.
    std::int64_t lastHeard = 0;
    std::int64_t lastInput = 0;
    std::int64_t lastFeedback = 0;
    std::int64_t lastPlayerQuery = 0;
    std::int64_t rateStart = 0;
    std::uint32_t inputCount = 0;
    std::uint32_t inputRate = 0;
    // What the Wi-Fi does to its applied Inputs, and the figures taken with the rate, once a second.
    LinkStats link;
    LinkFigures figures;
};

// One phone as the window shows it: a value copied under the server's mutex, once per paint.
struct PhoneView {
    std::uint32_t sessionId = 0;
    std::string idText;
    std::string name;
    std::string address;
    std::uint8_t state = static_cast<std::uint8_t>(PhoneState::Waiting);
    std::int32_t player = 0;
    InputState input;
    bool idle = true;
    std::int32_t inputRate = 0;
    std::uint8_t rumbleLarge = 0;
    std::uint8_t rumbleSmall = 0;
    // The Wi-Fi of the last seconds (Server/LinkStats.h), as of the last completed rate window.
    double lossPercent = 0;
    double jitterMs = 0;
    double longestGapMs = 0;
};

} // namespace Velotrix
