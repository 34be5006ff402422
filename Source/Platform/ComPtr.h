#pragma once

// Owner of one COM interface pointer: releases it exactly once, cannot be copied, and hands the raw
// pointer out only through get(). Windows' own ComPtr is not used because it copies (AddRef) freely.
// Here, below the window and sharing alike, since both hold COM interfaces; it needs no Windows
// header, only an interface with Release(), but only the Windows build has any.

#include <utility>

namespace Velotrix {

template <typename Interface>
class ComPtr {
public:
    ComPtr() = default;
    // Takes over a reference the caller already holds.
    explicit ComPtr(Interface* owned) : pointer(owned) {}
    ~ComPtr() { Reset(); }

    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : pointer(std::exchange(other.pointer, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) Reset(std::exchange(other.pointer, nullptr));
        return *this;
    }

    Interface* get() const { return pointer; }
    Interface* operator->() const { return pointer; }
    explicit operator bool() const { return pointer != nullptr; }

    // For creation functions that write an interface pointer: releases the old one first.
    Interface** Put() {
        Reset();
        return &pointer;
    }
    void Reset(Interface* replacement = nullptr) {
        Interface* old = std::exchange(pointer, replacement);
        if (old != nullptr) old->Release();
    }

private:
    Interface* pointer = nullptr;
};

} // namespace Velotrix
