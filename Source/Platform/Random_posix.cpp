#include "Platform/Random.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdint>

namespace Velotrix {

bool SecureRandom(void* out, std::size_t size) {
    auto* bytes = static_cast<std::uint8_t*>(out);
    while (size > 0) {
        const ssize_t got = getrandom(bytes, size, 0);
        if (got < 0) {
            // A signal arrived before the pool answered; anything else is a real failure.
            if (errno == EINTR) continue;
            return false;
        }
        bytes += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

} // namespace Velotrix
