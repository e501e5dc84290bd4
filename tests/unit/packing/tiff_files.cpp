// TIFF files for the packing tests: real ones written by libtiff, and hand-laid ones for hostile input.
#include "tiff_files.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>
#include <tiffio.h>
#include <unistd.h>

namespace PACKING_TEST {
namespace {

std::string temporaryPath()
{
    std::string path = ::testing::TempDir() + "hx_packing_XXXXXX";
    const int fd = ::mkstemp(path.data());
    if (fd < 0)
        throw std::runtime_error("mkstemp failed");
    ::close(fd);
    return path;
}

// One row in the host's order; libtiff swaps 16-bit samples itself for a big-endian file.
std::vector<uint8_t> rowBytes(const TiffImage& image, uint32_t row)
{
    std::vector<uint8_t> out;
    for (uint32_t x = 0; x < image.width; ++x) {
        const uint16_t sample = image.samples.at(row * image.width + x);
        if (image.bitsPerSample == 8)
            out.push_back(static_cast<uint8_t>(sample));
        else
            out.insert(out.end(), reinterpret_cast<const uint8_t*>(&sample),
                       reinterpret_cast<const uint8_t*>(&sample) + 2);
    }
    return out;
}

void writeFile(const std::string& path, const TiffImage& image)
{
    TIFF* tiff = TIFFOpen(path.c_str(), image.bigEndian ? "wb" : "wl");
    if (tiff == nullptr)
        throw std::runtime_error("TIFFOpen failed");
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, image.width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, image.height);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, image.bitsPerSample);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, image.rowsPerStrip == 0 ? image.height : image.rowsPerStrip);
    for (uint32_t row = 0; row < image.height; ++row) {
        std::vector<uint8_t> bytes = rowBytes(image, row);
        if (TIFFWriteScanline(tiff, bytes.data(), row, 0) < 0)
            throw std::runtime_error("TIFFWriteScanline failed");
    }
    TIFFClose(tiff);
}

} // namespace

std::vector<uint8_t> writeTiff(const TiffImage& image)
{
    const std::string path = temporaryPath();
    writeFile(path, image);
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::remove(path.c_str());
    return bytes;
}

HandTiff& HandTiff::entry(uint16_t tag, uint16_t type, uint32_t count, uint32_t value)
{
    entries_.push_back({tag, type, count, value});
    return *this;
}

std::vector<uint8_t> HandTiff::bytes(const std::vector<uint8_t>& tail) const
{
    std::vector<uint8_t> out{'I', 'I', 42, 0};
    putU32(out, 8);
    putU16(out, static_cast<uint16_t>(entries_.size()));
    for (const Entry& e : entries_) {
        putU16(out, e.tag);
        putU16(out, e.type);
        putU32(out, e.count);
        putU32(out, e.value);
    }
    putU32(out, 0); // no further directory
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

uint32_t HandTiff::tailOffset() const
{
    return static_cast<uint32_t>(8 + 2 + 12 * entries_.size() + 4);
}

void putU16(std::vector<uint8_t>& out, uint16_t value)
{
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void putU32(std::vector<uint8_t>& out, uint32_t value)
{
    putU16(out, static_cast<uint16_t>(value));
    putU16(out, static_cast<uint16_t>(value >> 16));
}

} // namespace PACKING_TEST
