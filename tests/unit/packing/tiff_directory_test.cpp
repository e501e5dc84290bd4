// Reading the camera's TIFF: tags and strips of files libtiff wrote in both byte orders, and
// hostile files whose offsets and counts point outside their bytes.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "log_capture.h"
#include "packing/hx_internal.h"
#include "packing/tiff_directory.h"
#include "tiff_files.h"

using namespace halvex::packing;

namespace {

using halvex::packing::parseTiff;
using halvex::packing::TAG_NOT_FOUND;
using PACKING_TEST::HandTiff;
using PACKING_TEST::TiffImage;

uint32_t tagOf(const std::vector<uint8_t>& file, uint16_t tag)
{
    return parseTiff(file.data(), file.size(), tag);
}

std::vector<uint16_t> ramp(std::size_t count, uint16_t step)
{
    std::vector<uint16_t> out;
    for (std::size_t i = 0; i < count; ++i)
        out.push_back(static_cast<uint16_t>((i + 1) * step));
    return out;
}

TEST(TiffDirectoryTest, FindsTagsAndPixelsInFilesLibtiffWrote)
{
    struct FileCase {
        const char* name;
        TiffImage image;
        std::vector<uint8_t> pixels; // the image's bytes as the file holds them
    };
    const std::vector<FileCase> cases = {
        {"little-endian, one strip",
         {5, 3, 8, 0, false, ramp(15, 1)},
         {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}},
        {"little-endian 16-bit, a strip per row",
         {2, 3, 16, 1, false, ramp(6, 0x101)},
         {0x01, 0x01, 0x02, 0x02, 0x03, 0x03, 0x04, 0x04, 0x05, 0x05, 0x06, 0x06}},
        {"big-endian, two rows per strip", {3, 3, 8, 2, true, ramp(9, 2)}, {2, 4, 6, 8, 10, 12, 14, 16, 18}},
    };
    for (const FileCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> file = PACKING_TEST::writeTiff(c.image);
        EXPECT_EQ(tagOf(file, halvex::packing::tiff_tag::IMAGE_WIDTH), c.image.width);
        EXPECT_EQ(tagOf(file, halvex::packing::tiff_tag::IMAGE_LENGTH), c.image.height);
        EXPECT_EQ(tagOf(file, halvex::packing::tiff_tag::BITS_PER_SAMPLE), c.image.bitsPerSample);
        EXPECT_EQ(tagOf(file, 0x1234), TAG_NOT_FOUND);

        const TiffDirectory tiff(file);
        EXPECT_EQ(tiff.bigEndian(), c.image.bigEndian);
        const std::optional<TiffByteRange> strips = tiff.stripRun();
        ASSERT_TRUE(strips.has_value());
        ASSERT_EQ(strips->length, c.pixels.size());
        ASSERT_LE(strips->offset + strips->length, file.size());
        EXPECT_EQ(std::vector<uint8_t>(file.begin() + strips->offset, file.begin() + strips->offset + strips->length),
                  c.pixels);
        if (c.image.rowsPerStrip == 0) {
            EXPECT_EQ(tagOf(file, halvex::packing::tiff_tag::STRIP_OFFSETS), strips->offset);
        }
    }
}

TEST(TiffDirectoryTest, AnswersNotFoundWhenTheDirectoryLiesOutsideTheBytes)
{
    const std::vector<uint8_t> matching = HandTiff().entry(273, 4, 1, 0x1234).bytes();
    ASSERT_EQ(tagOf(matching, 273), 0x1234u) << "the hostile variants below must fail for their own reason";

    std::vector<uint8_t> farDirectory = matching;
    farDirectory[4] = 0xF0, farDirectory[5] = 0xFF, farDirectory[6] = 0xFF, farDirectory[7] = 0xFF;
    std::vector<uint8_t> countCut = matching;
    countCut.resize(9); // the directory offset 8 holds only one byte of its count
    std::vector<uint8_t> noEntries = matching;
    noEntries[8] = 0; // count 0, although an entry follows
    std::vector<uint8_t> entryCut = matching;
    entryCut.resize(8 + 2 + 10); // the value field is cut short
    const std::vector<uint8_t> hugeCount = [] {
        std::vector<uint8_t> file = HandTiff().entry(256, 4, 1, 7).bytes();
        file[8] = 0xFF, file[9] = 0xFF; // 65535 entries claimed, one present
        return file;
    }();

    const std::vector<std::pair<const char*, std::vector<uint8_t>>> cases = {
        {"empty", {}},
        {"header cut", {'I', 'I', 42, 0, 8, 0, 0}},
        {"directory offset past the end", farDirectory},
        {"entry count cut", countCut},
        {"zero entries", noEntries},
        {"entry cut", entryCut},
        {"huge entry count", hugeCount},
    };
    const uint8_t anything = 0;
    for (const auto& [name, file] : cases)
        EXPECT_EQ(parseTiff(file.empty() ? &anything : file.data(), file.size(), 273), TAG_NOT_FOUND) << name;

    hx_test::LogCapture log;
    EXPECT_EQ(parseTiff(nullptr, 100, 273), TAG_NOT_FOUND);
    EXPECT_EQ(log.count("HX_INTERNAL::parseTiff: null buffer pointer!"), 1u);
}

TEST(TiffDirectoryTest, AcceptsOnlyStripTablesThatLieInTheFileWithoutGaps)
{
    // Strip tables are laid in the tail: two LONG offsets, then two LONG byte counts.
    const auto tables = [](uint32_t tail, std::vector<uint32_t> offsets, std::vector<uint32_t> counts) {
        std::vector<uint8_t> out;
        for (uint32_t v : offsets)
            PACKING_TEST::putU32(out, v + tail);
        for (uint32_t v : counts)
            PACKING_TEST::putU32(out, v);
        out.resize(out.size() + 16, 0xAB); // pixel bytes
        return out;
    };
    HandTiff layout;
    layout.entry(273, 4, 2, 0).entry(279, 4, 2, 0);
    const uint32_t tail = layout.tailOffset();
    const auto fileWith = [&](uint32_t offsetCount, uint32_t offsetsAt, uint32_t countCount,
                              const std::vector<uint8_t>& tailBytes) {
        return HandTiff().entry(273, 4, offsetCount, offsetsAt).entry(279, 4, countCount, tail + 8).bytes(tailBytes);
    };

    const std::vector<uint8_t> good = fileWith(2, tail, 2, tables(tail, {16, 20}, {4, 4}));
    const std::optional<TiffByteRange> run = TiffDirectory(good).stripRun();
    ASSERT_TRUE(run.has_value());
    EXPECT_EQ(run->offset, tail + 16u);
    EXPECT_EQ(run->length, 8u);

    const std::vector<std::pair<const char*, std::vector<uint8_t>>> refused = {
        {"gap between strips", fileWith(2, tail, 2, tables(tail, {16, 21}, {4, 4}))},
        {"offset table past the end", fileWith(2, 0xFFFFFFF0, 2, tables(tail, {16, 20}, {4, 4}))},
        {"huge strip count", fileWith(0xFFFFFFFF, tail, 0xFFFFFFFF, tables(tail, {16, 20}, {4, 4}))},
        {"counts disagree", fileWith(2, tail, 1, tables(tail, {16, 20}, {4, 4}))},
        {"no strip offsets", HandTiff().entry(279, 4, 1, 4).bytes(tables(tail, {}, {}))},
    };
    for (const auto& [name, file] : refused)
        EXPECT_FALSE(TiffDirectory(file).stripRun().has_value()) << name;

    // Two SHORT offsets fit in the entry itself.
    const std::vector<uint8_t> inline16 = HandTiff()
                                              .entry(273, 3, 2, (tail + 4) << 16 | tail)
                                              .entry(279, 3, 2, 4 << 16 | 4)
                                              .bytes(std::vector<uint8_t>(8));
    ASSERT_TRUE(TiffDirectory(inline16).stripRun().has_value());
    EXPECT_EQ(TiffDirectory(inline16).stripRun()->length, 8u);
}

} // namespace
