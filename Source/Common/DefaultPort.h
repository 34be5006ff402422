#pragma once

// The UDP port the phones try when nothing else is configured. The program, the dev server and the
// phone simulator all start from this one number.

#include <cstdint>

namespace Velotrix {

inline constexpr std::uint16_t DefaultPort = 47821;

} // namespace Velotrix
