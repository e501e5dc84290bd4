// Packs rows of pixel samples into little-endian words holding several pixels each.
#include "pixel_packer.h"

namespace halvex::internal {

std::optional<PixelPacker> PixelPacker::forDepth(uint32_t depth)
{
    // The groups match how the cameras hold frames in memory: four 8-bit pixels per 32 bits
    // (plain bytes, rows padded to whole words), three 10-bit pixels per 32 bits and five
    // 12-bit pixels per 64 bits.
    switch (depth) {
    case 8: return PixelPacker(8, 4, 4, 1);
    case 10: return PixelPacker(10, 3, 4, 2);
    case 12: return PixelPacker(12, 5, 8, 2);
    default: return std::nullopt;
    }
}

PixelPacker::PixelPacker(uint32_t depth, uint32_t pixelsPerGroup, uint32_t groupBytes, uint32_t sampleBytes)
    : depth_(depth), pixelsPerGroup_(pixelsPerGroup), groupBytes_(groupBytes), sampleBytes_(sampleBytes)
{
}

uint64_t PixelPacker::rowBytes(uint32_t width) const
{
    const uint64_t groups = (uint64_t{width} + pixelsPerGroup_ - 1) / pixelsPerGroup_;
    return groups * groupBytes_;
}

uint64_t PixelPacker::packedSize(uint32_t width, uint32_t height) const
{
    return rowBytes(width) * height;
}

uint64_t PixelPacker::sourceSize(uint32_t width, uint32_t height) const
{
    return uint64_t{width} * height * sampleBytes_;
}

void PixelPacker::pack(const uint8_t* source, uint8_t* destination, uint32_t width, uint32_t height) const
{
    const uint64_t sourceRow = uint64_t{width} * sampleBytes_;
    const uint64_t packedRow = rowBytes(width);
    for (uint32_t row = 0; row < height; ++row)
        packRow(source + row * sourceRow, destination + row * packedRow, width);
}

void PixelPacker::packRow(const uint8_t* source, uint8_t* destination, uint32_t width) const
{
    for (uint64_t first = 0; first < width; first += pixelsPerGroup_) {
        uint64_t word = 0;
        for (uint32_t k = 0; k < pixelsPerGroup_ && first + k < width; ++k)
            word |= sample(source, first + k) << (k * depth_);
        for (uint32_t byte = 0; byte < groupBytes_; ++byte)
            *destination++ = static_cast<uint8_t>(word >> (8 * byte));
    }
}

uint64_t PixelPacker::sample(const uint8_t* source, uint64_t index) const
{
    const uint8_t* at = source + index * sampleBytes_;
    uint64_t value = at[0];
    if (sampleBytes_ == 2)
        value |= uint64_t{at[1]} << 8;
    // Bits above the depth carry nothing the packed word has room for.
    return value & ((uint64_t{1} << depth_) - 1);
}

} // namespace halvex::internal
