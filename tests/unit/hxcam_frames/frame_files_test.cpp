// Frames written as TIFF: packed rows of each depth come back from libtiff as the pixel values
// that were packed, whatever the row stride, and short frames are refused.
#include <gtest/gtest.h>

#include <tiffio.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "frame_files.h"

namespace {

using halvex::common::FrameGeometry;

struct TiffCloser {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};

// The samples of every row of a grey TIFF, 8 or 16 bits each.
std::vector<std::vector<uint16_t>> readSamples(const std::string& path, uint16_t& bitsPerSample)
{
    std::unique_ptr<TIFF, TiffCloser> tiff(TIFFOpen(path.c_str(), "r"));
    EXPECT_TRUE(tiff) << path;
    if (!tiff)
        return {};
    uint32_t width = 0;
    uint32_t height = 0;
    TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &height);
    TIFFGetField(tiff.get(), TIFFTAG_BITSPERSAMPLE, &bitsPerSample);
    std::vector<std::vector<uint16_t>> rows;
    std::vector<uint8_t> line(static_cast<std::size_t>(TIFFScanlineSize(tiff.get())));
    for (uint32_t y = 0; y < height; ++y) {
        TIFFReadScanline(tiff.get(), line.data(), y, 0);
        std::vector<uint16_t> samples;
        for (uint32_t x = 0; x < width; ++x)
            samples.push_back(bitsPerSample == 8 ? line[x] : static_cast<uint16_t>(line[2 * x] | line[2 * x + 1] << 8));
        rows.push_back(samples);
    }
    return rows;
}

class FrameFiles : public ::testing::Test {
protected:
    // ctest runs each case in its own process at the same time: one file per process.
    std::string path = ::testing::TempDir() + "hxcam_frame_test_" + std::to_string(getpid()) + ".tif";
    void TearDown() override { std::remove(path.c_str()); }

    std::vector<std::vector<uint16_t>> roundTrip(const std::vector<uint8_t>& bytes, const FrameGeometry& geometry,
                                                 uint16_t expectedBits)
    {
        std::string error;
        EXPECT_TRUE(halvex::common::writePixelsAsTiff(path, bytes.data(), bytes.size(), geometry, error)) << error;
        uint16_t bits = 0;
        auto rows = readSamples(path, bits);
        EXPECT_EQ(bits, expectedBits);
        return rows;
    }
};

// Three 10-bit pixels per little-endian 32-bit word, the leftmost in the low bits; a row of four
// pixels takes two words, the second holding one pixel.
TEST_F(FrameFiles, TenBitRowsUnpackToTheirPixels)
{
    const std::vector<uint8_t> bytes{0xFF, 0x07, 0x50, 0x15, 0xAA, 0x02, 0x00, 0x00,  // 0x3FF 0x001 0x155 | 0x2AA
                                     0x00, 0x04, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00}; // 0x000 0x001 0x000 | 0x001
    const auto rows = roundTrip(bytes, {4, 2, 10}, 16);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], (std::vector<uint16_t>{0x3FF, 0x001, 0x155, 0x2AA}));
    EXPECT_EQ(rows[1], (std::vector<uint16_t>{0x000, 0x001, 0x000, 0x001}));
}

// Five 12-bit pixels per little-endian 64-bit word; a row of six pixels takes two words.
TEST_F(FrameFiles, TwelveBitRowsUnpackToTheirPixels)
{
    const std::vector<uint8_t> bytes{0xFF, 0x3F, 0x12, 0x56, 0x94, 0x78, 0xBC, 0x0A,  // 0xFFF 0x123 0x456 0x789 0xABC
                                     0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}; // 0x001
    const auto rows = roundTrip(bytes, {6, 1, 12}, 16);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], (std::vector<uint16_t>{0xFFF, 0x123, 0x456, 0x789, 0xABC, 0x001}));
}

// Eight-bit rows are padded to whole words; a camera that pads further is followed by its stride.
TEST_F(FrameFiles, EightBitRowsFollowThePaddingAndTheFramesOwnStride)
{
    const std::vector<uint8_t> padded{1, 2, 3, 4, 5, 0, 0, 0, 6, 7, 8, 9, 10, 0, 0, 0};
    EXPECT_EQ(roundTrip(padded, {5, 2, 8}, 8), (std::vector<std::vector<uint16_t>>{{1, 2, 3, 4, 5}, {6, 7, 8, 9, 10}}));
    const std::vector<uint8_t> wide{1, 2, 3, 4, 0xEE, 0xEE, 5, 6, 7, 8, 0xEE, 0xEE};
    EXPECT_EQ(roundTrip(wide, {4, 2, 8}, 8), (std::vector<std::vector<uint16_t>>{{1, 2, 3, 4}, {5, 6, 7, 8}}));
}

// The viewer's TIFF files are made in memory and its page gets the samples themselves: both hold the
// pixels the file on disk holds, at every depth.
TEST_F(FrameFiles, TheTiffInMemoryAndTheSamplesHoldTheFramesPixels)
{
    struct Case {
        std::vector<uint8_t> bytes;
        FrameGeometry geometry;
        std::vector<uint16_t> pixels;
    };
    const std::vector<Case> cases{
        {{0xFF, 0x3F, 0x12, 0x56, 0x94, 0x78, 0xBC, 0x0A}, {5, 1, 12}, {0xFFF, 0x123, 0x456, 0x789, 0xABC}},
        {{0xFF, 0x07, 0x50, 0x15}, {3, 1, 10}, {0x3FF, 0x001, 0x155}},
        {{9, 0, 255, 7, 1, 2, 3, 4}, {4, 2, 8}, {9, 0, 255, 7, 1, 2, 3, 4}},
    };
    for (const Case& frame : cases) {
        SCOPED_TRACE("depth " + std::to_string(frame.geometry.depth));
        std::vector<uint8_t> tiff;
        std::vector<uint8_t> samples;
        std::string error;
        ASSERT_TRUE(halvex::common::pixelsAsTiff(frame.bytes.data(), frame.bytes.size(), frame.geometry, tiff, error))
            << error;
        ASSERT_TRUE(halvex::common::writeBytes(path, tiff.data(), tiff.size(), error)) << error;
        uint16_t bits = 0;
        std::vector<uint16_t> fromFile;
        for (const auto& row : readSamples(path, bits))
            fromFile.insert(fromFile.end(), row.begin(), row.end());
        EXPECT_EQ(fromFile, frame.pixels);
        ASSERT_TRUE(
            halvex::common::unpackPixels(frame.bytes.data(), frame.bytes.size(), frame.geometry, samples, error))
            << error;
        const bool wide = frame.geometry.depth > 8;
        std::vector<uint16_t> sent;
        for (std::size_t i = 0; i < samples.size(); i += wide ? 2 : 1)
            sent.push_back(wide ? static_cast<uint16_t>(samples[i] | samples[i + 1] << 8) : samples[i]);
        EXPECT_EQ(sent, frame.pixels);
    }
    std::vector<uint8_t> tiff;
    std::string error;
    const std::vector<uint8_t> shortFrame(3, 0);
    EXPECT_FALSE(halvex::common::pixelsAsTiff(shortFrame.data(), shortFrame.size(), {4, 2, 8}, tiff, error));
    EXPECT_NE(error.find("shorter"), std::string::npos) << error;
}

TEST_F(FrameFiles, ShortFramesAndUnknownDepthsAreRefused)
{
    const std::vector<uint8_t> bytes(7, 0);
    std::string error;
    EXPECT_FALSE(halvex::common::writePixelsAsTiff(path, bytes.data(), bytes.size(), {4, 2, 10}, error));
    EXPECT_NE(error.find("shorter"), std::string::npos) << error;
    EXPECT_FALSE(halvex::common::writePixelsAsTiff(path, bytes.data(), bytes.size(), {2, 1, 9}, error));
    EXPECT_FALSE(halvex::common::writePixelsAsTiff(path, bytes.data(), bytes.size(), {0, 1, 8}, error));
}

TEST(FrameContent, FilesTheCameraWroteAreRecognised)
{
    const uint8_t little[] = {'I', 'I', 42, 0};
    const uint8_t big[] = {'M', 'M', 0, 42};
    const uint8_t jpeg[] = {0xFF, 0xD8, 0xFF, 0xE0};
    const uint8_t pixels[] = {2, 0, 0, 0};
    EXPECT_EQ(halvex::common::sniffContent(little, 4), halvex::common::Content::Tiff);
    EXPECT_EQ(halvex::common::sniffContent(big, 4), halvex::common::Content::Tiff);
    EXPECT_EQ(halvex::common::sniffContent(jpeg, 4), halvex::common::Content::Jpeg);
    EXPECT_EQ(halvex::common::sniffContent(pixels, 4), halvex::common::Content::Pixels);
    EXPECT_EQ(halvex::common::sniffContent(little, 2), halvex::common::Content::Pixels);
}

} // namespace
