// Recorded frames as the TIFF files a download delivers.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/frames/frame_store.h"

namespace hxsim {

// A little-endian baseline TIFF: one uncompressed grey strip of width x height samples, 8 bits
// per sample for 8-bit pixel formats and 16 (the value in the low bits) for 10- and 12-bit ones.
// The directory comes first, the samples start at kPixelOffset.
//
// Sample (x, y) is byte y * width + x of the frame rendered as if it had one byte per pixel:
// the frame number in the first four samples, the recording serial in the next four, then the
// moving diagonal pattern. For 8-bit frames (whose widths are multiples of four) that is
// exactly the frame as the camera holds it.
namespace TiffFrame {

inline constexpr uint32_t kPixelOffset = 256;

std::vector<uint8_t> encode(uint32_t frameNumber, uint32_t serial, const FrameGeometry& geometry);
// The kPixelOffset bytes ahead of the samples, the same for every frame of a geometry.
std::vector<uint8_t> directory(const FrameGeometry& geometry);
// 8 or 16.
uint16_t bitsPerSample(uint32_t pixelFormat);
// The value of sample (x, y).
uint16_t sample(uint32_t frameNumber, uint32_t serial, uint32_t width, uint32_t height, uint32_t x, uint32_t y);

} // namespace TiffFrame

} // namespace hxsim
