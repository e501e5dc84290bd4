// TIFF files of recorded frames, written with the shared little-endian layout of baseline TIFF.
#include "sim/frames/tiff_frames.h"

#include <array>

namespace hxsim {
namespace TiffFrame {
namespace {

enum TagType : uint16_t { kShort = 3, kLong = 4 };

struct Entry {
    uint16_t tag;
    uint16_t type;
    uint32_t value;
};

class LittleEndianWriter {
public:
    explicit LittleEndianWriter(std::vector<uint8_t>& out) : out_(out) {}
    void u16(uint16_t value)
    {
        out_.push_back(static_cast<uint8_t>(value));
        out_.push_back(static_cast<uint8_t>(value >> 8));
    }
    void u32(uint32_t value)
    {
        u16(static_cast<uint16_t>(value));
        u16(static_cast<uint16_t>(value >> 16));
    }
    // A directory entry with one value; a SHORT sits in the first two bytes of the value field.
    void entry(const Entry& item)
    {
        u16(item.tag);
        u16(item.type);
        u32(1);
        if (item.type == kShort) {
            u16(static_cast<uint16_t>(item.value));
            u16(0);
        } else {
            u32(item.value);
        }
    }

private:
    std::vector<uint8_t>& out_;
};

// The frame seen with one byte per pixel, which is what the samples show.
FrameGeometry bytePerPixel(uint32_t width, uint32_t height)
{
    return FrameGeometry{width, height, 16, uint64_t{width} * height};
}

} // namespace

uint16_t bitsPerSample(uint32_t pixelFormat)
{
    const bool wide = pixelFormat == 48 || pixelFormat == 3 || (pixelFormat >= 32 && pixelFormat <= 35);
    return wide ? 16 : 8;
}

uint16_t sample(uint32_t frameNumber, uint32_t serial, uint32_t width, uint32_t height, uint32_t x, uint32_t y)
{
    uint8_t value = 0;
    SyntheticImage::renderPart(frameNumber, serial, bytePerPixel(width, height), uint64_t{y} * width + x, {&value, 1});
    return value;
}

std::vector<uint8_t> directory(const FrameGeometry& geometry)
{
    const uint32_t width = geometry.width;
    const uint32_t height = geometry.height;
    const uint16_t bits = bitsPerSample(geometry.pixelFormat);
    const auto dataBytes = static_cast<uint32_t>(uint64_t{width} * height * (bits / 8));
    const std::array<Entry, 10> entries{{{256, kLong, width},        // ImageWidth
                                         {257, kLong, height},       // ImageLength
                                         {258, kShort, bits},        // BitsPerSample
                                         {259, kShort, 1},           // Compression: none
                                         {262, kShort, 1},           // PhotometricInterpretation: black is zero
                                         {273, kLong, kPixelOffset}, // StripOffsets
                                         {277, kShort, 1},           // SamplesPerPixel
                                         {278, kLong, height},       // RowsPerStrip: one strip
                                         {279, kLong, dataBytes},    // StripByteCounts
                                         {284, kShort, 1}}};         // PlanarConfiguration: chunky
    std::vector<uint8_t> file;
    file.reserve(kPixelOffset);
    LittleEndianWriter out(file);
    out.u16(0x4949); // "II"
    out.u16(42);
    out.u32(8); // the first directory follows the header
    out.u16(static_cast<uint16_t>(entries.size()));
    for (const Entry& item : entries) {
        out.entry(item);
    }
    out.u32(0); // no further directory
    file.resize(kPixelOffset, 0);
    return file;
}

std::vector<uint8_t> encode(uint32_t frameNumber, uint32_t serial, const FrameGeometry& geometry)
{
    const uint16_t bits = bitsPerSample(geometry.pixelFormat);
    const uint64_t samples = uint64_t{geometry.width} * geometry.height;
    std::vector<uint8_t> file = directory(geometry);
    file.reserve(kPixelOffset + samples * (bits / 8));
    std::vector<uint8_t> pixels(samples);
    SyntheticImage::render(frameNumber, serial, bytePerPixel(geometry.width, geometry.height), pixels);
    for (uint8_t value : pixels) {
        file.push_back(value);
        if (bits == 16) {
            file.push_back(0);
        }
    }
    return file;
}

} // namespace TiffFrame
} // namespace hxsim
