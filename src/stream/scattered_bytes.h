// The bytes of one receive scattered over several pieces of memory, read back in their order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace halvex::stream {

// A receive fills its pieces one after the other; `received` bytes arrived in all. The pieces
// stay the caller's. Nothing is read past what arrived or past a piece's end.
class ScatteredBytes {
public:
    ScatteredBytes(std::span<const std::span<uint8_t>> pieces, std::size_t received);

    // The `length` bytes from `from` where they lie in one piece; empty when they do not (or
    // did not all arrive).
    std::span<const uint8_t> contiguous(std::size_t from, std::size_t length) const;
    // Copies the bytes from `from` on into `out`, as many as arrived and fit; returns how many.
    std::size_t copyOut(std::size_t from, std::span<uint8_t> out) const;

private:
    std::span<const std::span<uint8_t>> pieces_;
    std::size_t received_;
};

} // namespace halvex::stream
