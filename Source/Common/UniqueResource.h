#pragma once

// A move-only owner of one OS resource (a handle, a socket, a registry key). It releases the resource
// exactly once, in its destructor or in Reset; there is no implicit conversion to the raw value, so a
// borrower must ask for it with get() and can never close it by accident.

#include <utility>

namespace Velotrix {

// Traits: `using Value = ...; static Value Invalid(); static void Release(Value);`
template <typename Traits>
class UniqueResource {
public:
    using Value = typename Traits::Value;

    UniqueResource() = default;
    explicit UniqueResource(Value value) : value(value) {}
    ~UniqueResource() { Reset(); }

    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : value(other.Release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }

    Value get() const { return value; }
    bool Valid() const { return value != Traits::Invalid(); }
    explicit operator bool() const { return Valid(); }

    // Gives up ownership without releasing.
    [[nodiscard]] Value Release() { return std::exchange(value, Traits::Invalid()); }
    void Reset(Value replacement = Traits::Invalid()) {
        Value old = std::exchange(value, replacement);
        if (old != Traits::Invalid()) Traits::Release(old);
    }

private:
    Value value = Traits::Invalid();
};

} // namespace Velotrix
