// TIFF files for the packing tests: real ones written by libtiff, and hand-laid ones for hostile input.
#pragma once

#include <cstdint>
#include <vector>

namespace PACKING_TEST {

// A grayscale image for libtiff to write, uncompressed.
struct TiffImage {
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t bitsPerSample = 8; // 8 or 16
    uint32_t rowsPerStrip = 0;  // 0: the whole image in one strip
    bool bigEndian = false;
    std::vector<uint16_t> samples; // width x height, row after row
};

// The bytes of the file libtiff writes for the image.
std::vector<uint8_t> writeTiff(const TiffImage& image);

// A little-endian TIFF laid out by hand: the 8-byte header pointing at a directory at offset 8
// whose entries are added in order. Offsets stored in entries are taken as given.
class HandTiff {
public:
    HandTiff& entry(uint16_t tag, uint16_t type, uint32_t count, uint32_t value);
    // Header and directory, then `tail` (whatever offsets the entries point at lies there).
    std::vector<uint8_t> bytes(const std::vector<uint8_t>& tail = {}) const;
    // Offset at which `tail` starts in bytes().
    uint32_t tailOffset() const;

private:
    struct Entry {
        uint16_t tag, type;
        uint32_t count, value;
    };
    std::vector<Entry> entries_;
};

void putU16(std::vector<uint8_t>& out, uint16_t value);
void putU32(std::vector<uint8_t>& out, uint32_t value);

} // namespace PACKING_TEST
