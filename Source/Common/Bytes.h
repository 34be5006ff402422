#pragma once

// Bounds-checked little-endian reading and writing. Every datagram and every driver request goes
// through these, so no struct with padding is ever copied onto the wire.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

namespace Velotrix {

// Reads at explicit offsets of a borrowed buffer. A read past the end answers false and leaves the
// output untouched; nothing is ever read outside [data, data + size).
class ByteReader {
public:
    ByteReader(const std::uint8_t* data, std::size_t size) : data(data), size(size) {}
    explicit ByteReader(std::span<const std::uint8_t> bytes) : data(bytes.data()), size(bytes.size()) {}

    std::size_t Size() const { return size; }
    bool Has(std::size_t offset, std::size_t count) const { return offset <= size && count <= size - offset; }

    [[nodiscard]] bool U8(std::size_t offset, std::uint8_t& out) const {
        if (!Has(offset, 1)) return false;
        out = data[offset];
        return true;
    }
    [[nodiscard]] bool U16(std::size_t offset, std::uint16_t& out) const {
        if (!Has(offset, 2)) return false;
        out = static_cast<std::uint16_t>(data[offset] | (data[offset + 1] << 8));
        return true;
    }
    [[nodiscard]] bool I16(std::size_t offset, std::int16_t& out) const {
        std::uint16_t raw = 0;
        if (!U16(offset, raw)) return false;
        out = static_cast<std::int16_t>(raw);
        return true;
    }
    [[nodiscard]] bool U32(std::size_t offset, std::uint32_t& out) const {
        if (!Has(offset, 4)) return false;
        out = static_cast<std::uint32_t>(data[offset]) | (static_cast<std::uint32_t>(data[offset + 1]) << 8) |
              (static_cast<std::uint32_t>(data[offset + 2]) << 16) |
              (static_cast<std::uint32_t>(data[offset + 3]) << 24);
        return true;
    }
    [[nodiscard]] bool Bytes(std::size_t offset, void* out, std::size_t count) const {
        if (!Has(offset, count)) return false;
        if (count > 0) std::memcpy(out, data + offset, count);
        return true;
    }
    // A view into the buffer; valid as long as the buffer is.
    [[nodiscard]] bool Text(std::size_t offset, std::size_t count, std::string_view& out) const {
        if (!Has(offset, count)) return false;
        out = std::string_view(reinterpret_cast<const char*>(data) + offset, count);
        return true;
    }

private:
    const std::uint8_t* data;
    std::size_t size;
};

// Writes at explicit offsets of a borrowed fixed buffer. A write past the end is refused and
// remembered, so a builder can write everything and check Ok() once.
class ByteWriter {
public:
    ByteWriter(std::uint8_t* data, std::size_t size) : data(data), size(size) {}
    explicit ByteWriter(std::span<std::uint8_t> bytes) : data(bytes.data()), size(bytes.size()) {}

    bool Ok() const { return ok; }
    std::size_t Size() const { return size; }

    void U8(std::size_t offset, std::uint8_t value) {
        if (!Fits(offset, 1)) return;
        data[offset] = value;
    }
    void U16(std::size_t offset, std::uint16_t value) {
        if (!Fits(offset, 2)) return;
        data[offset] = static_cast<std::uint8_t>(value);
        data[offset + 1] = static_cast<std::uint8_t>(value >> 8);
    }
    void I16(std::size_t offset, std::int16_t value) { U16(offset, static_cast<std::uint16_t>(value)); }
    void U32(std::size_t offset, std::uint32_t value) {
        if (!Fits(offset, 4)) return;
        data[offset] = static_cast<std::uint8_t>(value);
        data[offset + 1] = static_cast<std::uint8_t>(value >> 8);
        data[offset + 2] = static_cast<std::uint8_t>(value >> 16);
        data[offset + 3] = static_cast<std::uint8_t>(value >> 24);
    }
    void Bytes(std::size_t offset, const void* source, std::size_t count) {
        if (!Fits(offset, count)) return;
        if (count > 0) std::memcpy(data + offset, source, count);
    }

private:
    bool Fits(std::size_t offset, std::size_t count) {
        if (offset <= size && count <= size - offset) return true;
        ok = false;
        return false;
    }

    std::uint8_t* data;
    std::size_t size;
    bool ok = true;
};

} // namespace Velotrix
