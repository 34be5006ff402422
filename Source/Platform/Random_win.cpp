#include "Platform/Random.h"

#include <windows.h>
#include <bcrypt.h>

#include <climits>

namespace Velotrix {

bool SecureRandom(void* out, std::size_t size) {
    if (size > ULONG_MAX) return false;
    // No algorithm handle: the system-preferred generator, which needs no opening or closing.
    return BCRYPT_SUCCESS(
        BCryptGenRandom(nullptr, static_cast<PUCHAR>(out), static_cast<ULONG>(size), BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}

} // namespace Velotrix
