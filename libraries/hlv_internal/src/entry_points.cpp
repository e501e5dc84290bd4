// The packing library's exported C entry points, which the camera library finds at run time.
#include "hlv_internal/hlv_internal.h"

#include <cstdint>
#include <new>
#include <vector>

#include "pixel_packer.h"

namespace halvex::internal {

namespace {

// Sizes that the 32-bit interface can state; larger images are refused rather than truncated.
bool fitsInterface(uint64_t bytes)
{
    return bytes <= UINT32_MAX;
}

bool overlaps(const uint8_t* a, uint64_t aBytes, const uint8_t* b, uint64_t bBytes)
{
    const auto aStart = reinterpret_cast<uintptr_t>(a);
    const auto bStart = reinterpret_cast<uintptr_t>(b);
    return aStart < bStart + bBytes && bStart < aStart + aBytes;
}

} // namespace

} // namespace halvex::internal

using halvex::internal::fitsInterface;
using halvex::internal::overlaps;
using halvex::internal::PixelPacker;

extern "C" uint32_t hxGetPackedSize(uint32_t width, uint32_t height, uint32_t depth)
{
    const std::optional<PixelPacker> packer = PixelPacker::forDepth(depth);
    if (!packer || width == 0 || height == 0)
        return 0;
    const uint64_t size = packer->packedSize(width, height);
    return fitsInterface(size) ? static_cast<uint32_t>(size) : 0;
}

extern "C" uint32_t hxConvertTiffImageData(const void* pixels, void* destination, uint32_t frame_id, uint32_t width,
                                           uint32_t height, uint32_t depth)
{
    static_cast<void>(frame_id);
    if (pixels == nullptr || destination == nullptr)
        return HLV_PACK_NULL_POINTER;
    const std::optional<PixelPacker> packer = PixelPacker::forDepth(depth);
    if (!packer)
        return HLV_PACK_BAD_DEPTH;
    const uint64_t sourceBytes = packer->sourceSize(width, height);
    if (hxGetPackedSize(width, height, depth) == 0 || !fitsInterface(sourceBytes))
        return HLV_PACK_BAD_SIZE;

    const auto* source = static_cast<const uint8_t*>(pixels);
    auto* target = static_cast<uint8_t*>(destination);
    // The packed image usually replaces the file it was read from, and its rows can be longer
    // than the input's (padding), so writing in place could overrun input not yet read.
    std::vector<uint8_t> staging;
    if (overlaps(source, sourceBytes, target, packer->packedSize(width, height))) {
        try {
            staging.assign(source, source + sourceBytes);
        } catch (const std::bad_alloc&) {
            return HLV_PACK_NO_MEMORY;
        }
        source = staging.data();
    }
    packer->pack(source, target, width, height);
    return HLV_PACK_OK;
}
