// Packs rows of pixel samples into little-endian words holding several pixels each.
#pragma once

#include <cstdint>
#include <optional>

namespace halvex::internal {

// One depth's packed layout: every row is cut into groups of pixelsPerGroup pixels; pixel k of
// a group occupies bits [k * depth, (k + 1) * depth) of a little-endian word of groupBytes bytes,
// whose remaining high bits are zero. A row that ends inside a group fills the group's missing
// pixels with zeros, so every row starts on a fresh word.
class PixelPacker {
public:
    // The packer for 8, 10 or 12 bits per pixel; none for any other depth.
    static std::optional<PixelPacker> forDepth(uint32_t depth);

    uint64_t rowBytes(uint32_t width) const;
    uint64_t packedSize(uint32_t width, uint32_t height) const;
    // Bytes of input: one byte per sample for depth 8, two (little-endian) for 10 and 12.
    uint64_t sourceSize(uint32_t width, uint32_t height) const;
    // Packs width x height samples from source into destination; the two must not overlap.
    void pack(const uint8_t* source, uint8_t* destination, uint32_t width, uint32_t height) const;

private:
    PixelPacker(uint32_t depth, uint32_t pixelsPerGroup, uint32_t groupBytes, uint32_t sampleBytes);

    void packRow(const uint8_t* source, uint8_t* destination, uint32_t width) const;
    uint64_t sample(const uint8_t* source, uint64_t index) const;

    uint32_t depth_;
    uint32_t pixelsPerGroup_;
    uint32_t groupBytes_;
    uint32_t sampleBytes_;
};

} // namespace halvex::internal
