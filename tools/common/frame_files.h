// Frame files: received images as TIFF files and 8-bit grey pixels, for hxcam and hxview.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace halvex::common {

// What a frame's pixels look like: its size and the bits each pixel holds (8, 10 or 12).
struct FrameGeometry {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t depth = 8;
};

// Bytes of one row of packed pixels: groups of 4 (depth 8) or 3 (depth 10) pixels in 32-bit words,
// 5 pixels (depth 12) in 64-bit words, every row starting on a fresh word.
std::size_t packedRowBytes(uint32_t width, uint32_t depth);

// What a buffer holds.
enum class Content { Tiff, Jpeg, Pixels };
Content sniffContent(const uint8_t* data, std::size_t size);

// DIR/PREFIX-NNNNNN.EXT for a frame id.
std::string framePath(const std::string& directory, const std::string& prefix, uint32_t frameId, const char* extension);

// Writes packed pixel rows (the cameras' own frame layout, little-endian groups with the leftmost
// pixel in the low bits) as a one-strip grey TIFF: 8-bit samples at depth 8, 16-bit samples
// holding the value at depths 10 and 12. Rows are taken as size / height bytes when that is a
// whole number of at least the packed row, else as packed rows. False with a reason on error.
bool writePixelsAsTiff(const std::string& path, const uint8_t* data, std::size_t size, const FrameGeometry& geometry,
                       std::string& error);
// The frame's pixels as 8-bit grey (the top bits of deeper pixels), one byte per pixel, rows as
// writePixelsAsTiff takes them. False with a reason when the frame does not fit the geometry.
bool eightBitPixels(const uint8_t* data, std::size_t size, const FrameGeometry& geometry, std::vector<uint8_t>& pixels,
                    std::string& error);
// The frame's pixels as samples: one byte each at depth 8, two (little-endian, the value in the
// low bits) at depths 10 and 12; rows as writePixelsAsTiff takes them. False with a reason when
// the frame does not fit the geometry.
bool unpackPixels(const uint8_t* data, std::size_t size, const FrameGeometry& geometry, std::vector<uint8_t>& samples,
                  std::string& error);
// The TIFF file writePixelsAsTiff writes, in memory.
bool pixelsAsTiff(const uint8_t* data, std::size_t size, const FrameGeometry& geometry, std::vector<uint8_t>& tiff,
                  std::string& error);
// Writes a file the camera made itself (TIFF or JPEG) byte for byte.
bool writeBytes(const std::string& path, const uint8_t* data, std::size_t size, std::string& error);

} // namespace halvex::common
