#include "Server/Outbox.h"

namespace Velotrix {

void Outbox::MoveTo(Outbox& other) {
    for (std::size_t i = 0; i < count; ++i) {
        if (other.count == Capacity) {
            other.dropped += count - i;
            break;
        }
        other.items[other.count++] = items[i];
    }
    count = 0;
}

} // namespace Velotrix
