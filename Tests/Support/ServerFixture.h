#pragma once

// For the tests that drive a whole Server over loopback: its log, and the next Status a real phone
// socket receives.

#include "LogCapture.h"
#include "Server/Server.h"
#include "TestPhone.h"

#include <gtest/gtest.h>

namespace Velotrix {

// The next Status `phone` receives; a failure, and an empty Status, when none comes within a second.
inline StatusDatagram NextStatus(TestPhone& phone) {
    const auto status = phone.ReceiveStatus(1000);
    EXPECT_TRUE(status) << "no Status for " << phone.Name();
    return status ? *status : StatusDatagram{};
}

inline std::uint8_t State(PhoneState state) { return static_cast<std::uint8_t>(state); }

} // namespace Velotrix
