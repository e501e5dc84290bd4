// Frame files: writes received images to disk as TIFF files.
#include "frame_files.h"

#include <tiffio.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace halvex::common {
namespace {

struct TiffCloser {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

uint64_t littleEndian(const uint8_t* bytes, std::size_t count)
{
    uint64_t value = 0;
    for (std::size_t i = count; i > 0; --i)
        value = value << 8 | bytes[i - 1];
    return value;
}

uint32_t pixelsPerGroup(uint32_t depth)
{
    return depth == 12 ? 5 : depth == 10 ? 3 : 4;
}

std::size_t groupBytes(uint32_t depth)
{
    return depth == 12 ? 8 : 4;
}

// One row of packed pixels as samples of 8 (depth 8) or 16 bits.
void unpackRow(const uint8_t* row, uint32_t width, uint32_t depth, std::vector<uint8_t>& samples)
{
    if (depth == 8) {
        std::memcpy(samples.data(), row, width);
        return;
    }
    const uint32_t perGroup = pixelsPerGroup(depth);
    const uint64_t mask = (uint64_t{1} << depth) - 1;
    for (uint32_t x = 0; x < width; ++x) {
        const uint64_t word = littleEndian(row + (x / perGroup) * groupBytes(depth), groupBytes(depth));
        const auto value = static_cast<uint16_t>(word >> ((x % perGroup) * depth) & mask);
        std::memcpy(samples.data() + std::size_t{x} * 2, &value, 2);
    }
}

} // namespace

std::size_t packedRowBytes(uint32_t width, uint32_t depth)
{
    const uint32_t perGroup = pixelsPerGroup(depth);
    return std::size_t{(width + perGroup - 1) / perGroup} * groupBytes(depth);
}

Content sniffContent(const uint8_t* data, std::size_t size)
{
    if (size >= 4 && ((data[0] == 'I' && data[1] == 'I' && data[2] == 42 && data[3] == 0) ||
                      (data[0] == 'M' && data[1] == 'M' && data[2] == 0 && data[3] == 42)))
        return Content::Tiff;
    if (size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF)
        return Content::Jpeg;
    return Content::Pixels;
}

std::string framePath(const std::string& directory, const std::string& prefix, uint32_t frameId, const char* extension)
{
    char name[64];
    std::snprintf(name, sizeof(name), "%s-%06u.%s", prefix.c_str(), frameId, extension);
    return directory + "/" + name;
}

namespace {

// The bytes of one row of a frame of `size` bytes: size / height when that is a whole number of at
// least the packed row, else the packed row. 0 with a reason when the frame cannot be that size.
std::size_t frameRowBytes(std::size_t size, const FrameGeometry& geometry, std::string& error)
{
    const uint32_t depth = geometry.depth;
    if (geometry.width == 0 || geometry.height == 0 || (depth != 8 && depth != 10 && depth != 12)) {
        error = "unknown frame geometry";
        return 0;
    }
    const std::size_t packed = packedRowBytes(geometry.width, depth);
    std::size_t rowBytes = size / geometry.height;
    if (size % geometry.height != 0 || rowBytes < packed)
        rowBytes = packed;
    if (rowBytes * geometry.height > size) {
        error = "the frame is shorter than " + std::to_string(geometry.width) + "x" + std::to_string(geometry.height) +
                " pixels";
        return 0;
    }
    return rowBytes;
}

} // namespace

bool eightBitPixels(const uint8_t* data, std::size_t size, const FrameGeometry& geometry, std::vector<uint8_t>& pixels,
                    std::string& error)
{
    const std::size_t rowBytes = frameRowBytes(size, geometry, error);
    if (rowBytes == 0)
        return false;
    const uint32_t depth = geometry.depth;
    pixels.resize(std::size_t{geometry.width} * geometry.height);
    std::vector<uint8_t> samples(std::size_t{geometry.width} * (depth == 8 ? 1 : 2));
    for (uint32_t y = 0; y < geometry.height; ++y) {
        uint8_t* out = pixels.data() + std::size_t{y} * geometry.width;
        unpackRow(data + std::size_t{y} * rowBytes, geometry.width, depth, samples);
        for (uint32_t x = 0; x < geometry.width && depth != 8; ++x) {
            uint16_t value = 0;
            std::memcpy(&value, samples.data() + std::size_t{x} * 2, 2);
            out[x] = static_cast<uint8_t>(value >> (depth - 8));
        }
        if (depth == 8)
            std::memcpy(out, samples.data(), geometry.width);
    }
    return true;
}

namespace {

// A TIFF file growing in memory, for libtiff's client I/O.
struct MemoryFile {
    std::vector<uint8_t> bytes;
    uint64_t position = 0;
};

tmsize_t memoryRead(thandle_t, void*, tmsize_t)
{
    return 0;
}

tmsize_t memoryWrite(thandle_t handle, void* data, tmsize_t size)
{
    auto& file = *static_cast<MemoryFile*>(handle);
    const auto count = static_cast<std::size_t>(size);
    if (file.bytes.size() < file.position + count)
        file.bytes.resize(file.position + count);
    std::memcpy(file.bytes.data() + file.position, data, count);
    file.position += count;
    return size;
}

toff_t memorySeek(thandle_t handle, toff_t offset, int whence)
{
    auto& file = *static_cast<MemoryFile*>(handle);
    const uint64_t base = whence == SEEK_CUR ? file.position : whence == SEEK_END ? file.bytes.size() : 0;
    file.position = base + offset;
    return file.position;
}

int memoryClose(thandle_t)
{
    return 0;
}

toff_t memorySize(thandle_t handle)
{
    return static_cast<MemoryFile*>(handle)->bytes.size();
}

int memoryMap(thandle_t, void**, toff_t*)
{
    return 0;
}

void memoryUnmap(thandle_t, void*, toff_t) {}

// One strip of grey samples: 8 bits at depth 8, 16 holding the value at depths 10 and 12.
bool fillTiff(TIFF* tiff, const uint8_t* data, std::size_t rowBytes, const FrameGeometry& geometry)
{
    const uint16_t bits = geometry.depth == 8 ? 8 : 16;
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, geometry.width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, geometry.height);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, uint16_t{1});
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, geometry.height);
    std::vector<uint8_t> samples(std::size_t{geometry.width} * (bits / 8));
    for (uint32_t y = 0; y < geometry.height; ++y) {
        unpackRow(data + std::size_t{y} * rowBytes, geometry.width, geometry.depth, samples);
        if (TIFFWriteScanline(tiff, samples.data(), y, 0) < 0)
            return false;
    }
    return true;
}

} // namespace

bool unpackPixels(const uint8_t* data, std::size_t size, const FrameGeometry& geometry, std::vector<uint8_t>& samples,
                  std::string& error)
{
    const std::size_t rowBytes = frameRowBytes(size, geometry, error);
    if (rowBytes == 0)
        return false;
    const std::size_t sampleRow = std::size_t{geometry.width} * (geometry.depth == 8 ? 1 : 2);
    samples.resize(sampleRow * geometry.height);
    std::vector<uint8_t> row(sampleRow);
    for (uint32_t y = 0; y < geometry.height; ++y) {
        unpackRow(data + std::size_t{y} * rowBytes, geometry.width, geometry.depth, row);
        std::memcpy(samples.data() + std::size_t{y} * sampleRow, row.data(), sampleRow);
    }
    return true;
}

bool writePixelsAsTiff(const std::string& path, const uint8_t* data, std::size_t size, const FrameGeometry& geometry,
                       std::string& error)
{
    const std::size_t rowBytes = frameRowBytes(size, geometry, error);
    if (rowBytes == 0)
        return false;
    std::unique_ptr<TIFF, TiffCloser> tiff(TIFFOpen(path.c_str(), "w"));
    if (!tiff) {
        error = "cannot create " + path;
        return false;
    }
    if (!fillTiff(tiff.get(), data, rowBytes, geometry)) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

bool pixelsAsTiff(const uint8_t* data, std::size_t size, const FrameGeometry& geometry, std::vector<uint8_t>& tiff,
                  std::string& error)
{
    const std::size_t rowBytes = frameRowBytes(size, geometry, error);
    if (rowBytes == 0)
        return false;
    MemoryFile file;
    {
        std::unique_ptr<TIFF, TiffCloser> open(TIFFClientOpen("frame.tif", "w", &file, memoryRead, memoryWrite,
                                                              memorySeek, memoryClose, memorySize, memoryMap,
                                                              memoryUnmap));
        if (!open || !fillTiff(open.get(), data, rowBytes, geometry)) {
            error = "the frame could not be made a TIFF file";
            return false;
        }
    }
    tiff.swap(file.bytes);
    return true;
}

bool writeBytes(const std::string& path, const uint8_t* data, std::size_t size, std::string& error)
{
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
    if (!file || std::fwrite(data, 1, size, file.get()) != size) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

} // namespace halvex::common
