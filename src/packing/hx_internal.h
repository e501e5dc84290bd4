// Image packing: finds the packing library at run time and rewrites downloaded TIFF frames with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include <hx/hx.h>

namespace halvex::packing {

// Test seam, never called by the library: unloads the packing library and makes later loads look
// for `moduleName` (empty: the library's own name), so tests can see both configurations.
namespace test_hooks {
void useModule(const std::string& moduleName);
}

// The packing library (libhlv_internal.so), loaded by name through the ordinary loader search.
// An HxInternal exists only while the library is loaded; once loaded it stays loaded for the
// life of the process. Its absence is a normal configuration. Any thread may call these.
class HxInternal {
public:
    using ConvertTiffFunc = uint32_t (*)(const void* pixels, void* destination, uint32_t frameId, uint32_t width,
                                         uint32_t height, uint32_t depth);
    using PackedSizeFunc = uint32_t (*)(uint32_t width, uint32_t height, uint32_t depth);

    // The singleton, loading the library on first use; nullptr when it cannot be loaded (traced
    // on the packing category; a later call tries again).
    static HxInternal* factory();
    // The entry points, looked up on every call; nullptr when the library is not loaded or lacks them.
    static ConvertTiffFunc getConvertTiffFuncPtr();
    static PackedSizeFunc getPackedSizeFuncPtr();

    HxInternal(const HxInternal&) = delete;
    HxInternal& operator=(const HxInternal&) = delete;

private:
    friend void test_hooks::useModule(const std::string& moduleName);
    HxInternal() = default;
    ~HxInternal() = default;

    // Looks an entry point up in the loaded library; traces and answers nullptr when none is loaded.
    static void* lookUp(const char* caller, const char* entryName);
};

// What the camera reports about the image it is sending: its current size and bit mode.
struct PackingImage {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t bitMode = 0; // HX_BIT_MODE_*
};

constexpr uint32_t TAG_NOT_FOUND = 0xFFFFFFFF;

// The value field of `tag` in the first image directory of the TIFF file in buffer[0, size),
// or TAG_NOT_FOUND. A null buffer is logged.
uint32_t parseTiff(const void* buffer, std::size_t size, uint16_t tag);

// Bits per packed pixel for a bit mode (8, 10 or 12); none, logged, for modes that cannot be packed.
std::optional<uint32_t> packedDepth(uint32_t bitMode, const std::string& cameraName);

// Rewrites a completely received TIFF frame in the buffer of a stream record (the message's
// copy) into packed pixels in place, and sets the record's received and image lengths to the
// packed size; the caller stores the record's results back into its message. Anything that
// stops it is logged and leaves the buffer and the record as received. Runs on the camera's
// service thread.
void convertToPacked(HX_READ_STREAM& record, const PackingImage& image, const std::string& cameraName);

} // namespace halvex::packing
