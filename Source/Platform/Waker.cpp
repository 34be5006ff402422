#include "Platform/Waker.h"

namespace Velotrix {

std::int64_t WaitMilliseconds(std::int64_t timeout, std::int64_t longest) {
    if (timeout < 0) return -1;
    constexpr std::int64_t NanosecondsPerMs = 1'000'000;
    const std::int64_t rounded = timeout / NanosecondsPerMs + (timeout % NanosecondsPerMs != 0 ? 1 : 0);
    return rounded < longest ? rounded : longest;
}

} // namespace Velotrix
