#pragma once

// Bytes from the operating system's cryptographic generator (BCryptGenRandom on Windows, getrandom
// elsewhere): session numbers must not be predictable from the ones a phone has seen.

#include <cstddef>

namespace Velotrix {

// Fills `size` bytes; false when the generator failed (then the bytes are not to be used).
[[nodiscard]] bool SecureRandom(void* out, std::size_t size);

} // namespace Velotrix
