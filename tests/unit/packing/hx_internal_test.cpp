// The run-time loader with and without the packing library, and packing of downloaded TIFF
// frames in their buffers: hand-worked results per bit mode, and every reason to leave one as is.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <hx/hx.h>

#include "hlv_thread/log.h"
#include "log_capture.h"
#include "packing/hx_internal.h"
#include "tiff_files.h"

using namespace halvex::packing;

namespace {

using halvex::packing::PackingImage;
using PACKING_TEST::HandTiff;
using PACKING_TEST::TiffImage;

// A downloaded frame in a host buffer, as the receiver hands it back: complete, lengths set.
struct Download {
    explicit Download(const std::vector<uint8_t>& file, std::size_t spare = 16) : bytes(file)
    {
        bytes.resize(file.size() + spare, 0xCC);
        received = bytes;
        record.ver_maj = HX_API_VERSION_MAJ;
        record.ver_min = HX_API_VERSION_MIN;
        record.buffer = bytes.data();
        record.buffer_size = bytes.size();
        record.status = HX_STREAM_STATUS_LEADER | HX_STREAM_STATUS_COMPLETE;
        record.frame_id = 42;
        record.received_length = static_cast<uint32_t>(file.size());
        record.image_length = record.received_length;
    }

    void expectBytesAsReceived() const { EXPECT_TRUE(bytes == received) << "the buffer was changed"; }

    std::vector<uint8_t> bytes;
    std::vector<uint8_t> received;
    HX_READ_STREAM record{};
};

class TraceScope {
public:
    explicit TraceScope(uint32_t mask) : saved_(halvex::thread::traceMask()) { halvex::thread::setTraceMask(mask); }
    ~TraceScope() { halvex::thread::setTraceMask(saved_); }

private:
    uint32_t saved_;
};

TiffImage image16(uint32_t width, uint32_t height, std::vector<uint16_t> samples, uint32_t rowsPerStrip = 0)
{
    return TiffImage{width, height, 16, rowsPerStrip, false, std::move(samples)};
}

TEST(HxInternalLoaderTest, DownloadsStayTiffWithoutTheLibraryAndPackOnceItIsFound)
{
    TraceScope trace(halvex::thread::TRACE_PACKING);
    halvex::packing::test_hooks::useModule("libhlv_internal_absent.so");
    Download download(PACKING_TEST::writeTiff({4, 1, 8, 0, false, {1, 2, 3, 4}}));
    {
        hx_test::LogCapture log;
        EXPECT_EQ(HxInternal::factory(), nullptr);
        EXPECT_EQ(HxInternal::getConvertTiffFuncPtr(), nullptr);
        EXPECT_EQ(HxInternal::getPackedSizeFuncPtr(), nullptr);
        halvex::packing::convertToPacked(download.record, {4, 1, HX_BIT_MODE_8A}, "cam");
        download.expectBytesAsReceived();
        EXPECT_EQ(download.record.received_length, download.record.image_length);
        EXPECT_EQ(log.count("HxInternal::factory: 'libhlv_internal_absent.so' did not loaded."), 2u);
        EXPECT_EQ(log.count("HxInternal::getConvertTiffFuncPtr: 'libhlv_internal_absent.so' is not loaded."), 1u);
        EXPECT_EQ(log.count("HX_INTERNAL::convertToPacked: Packed stream not supported!"), 1u);
    }

    halvex::packing::test_hooks::useModule("");
    HxInternal* loaded = HxInternal::factory();
    ASSERT_NE(loaded, nullptr) << "libhlv_internal.so not found through the loader search";
    EXPECT_EQ(HxInternal::factory(), loaded);
    halvex::packing::convertToPacked(download.record, {4, 1, HX_BIT_MODE_8A}, "cam");
    EXPECT_EQ(download.record.received_length, 4u);
    EXPECT_EQ(download.record.image_length, 4u);
    EXPECT_EQ(std::vector<uint8_t>(download.bytes.begin(), download.bytes.begin() + 4),
              (std::vector<uint8_t>{1, 2, 3, 4}));
}

class ConvertToPackedTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        halvex::packing::test_hooks::useModule("");
        ASSERT_NE(HxInternal::factory(), nullptr) << "libhlv_internal.so not found through the loader search";
    }
};

TEST_F(ConvertToPackedTest, PacksEachBitModeOverTheTiffInItsBuffer)
{
    struct PackCase {
        const char* name;
        uint32_t bitMode;
        TiffImage tiff;
        std::vector<uint8_t> packed;
    };
    const std::vector<PackCase> cases = {
        {"8-bit mode 0x10",
         HX_BIT_MODE_8E,
         {5, 2, 8, 0, false, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
         {1, 2, 3, 4, 5, 0, 0, 0, 6, 7, 8, 9, 10, 0, 0, 0}},
        // Row 0: 0x3FF | 0x001 << 10 | 0x2AA << 20, then 0x155. Row 1: 0x3FF << 10, then 0x200.
        // Bits above the depth (0xFC00 of the first sample) have no room and drop.
        {"10-bit mode 0x40, a strip per row",
         HX_BIT_MODE_10B,
         image16(4, 2, {0xFFFF, 0x001, 0x2AA, 0x155, 0x000, 0x3FF, 0x000, 0x200}, 1),
         {0xFF, 0x07, 0xA0, 0x2A, 0x55, 0x01, 0, 0, 0x00, 0xFC, 0x0F, 0x00, 0x00, 0x02, 0, 0}},
        // 0xABC | 0x123 << 12 | 0xFFF << 24 | 0x801 << 48, then 0x7FE.
        {"12-bit mode 0x100",
         HX_BIT_MODE_12,
         image16(6, 1, {0xABC, 0x123, 0xFFF, 0x000, 0x801, 0xF7FE}),
         {0xBC, 0x3A, 0x12, 0xFF, 0x0F, 0x00, 0x01, 0x08, 0xFE, 0x07, 0, 0, 0, 0, 0, 0}},
    };
    for (const PackCase& c : cases) {
        SCOPED_TRACE(c.name);
        Download download(PACKING_TEST::writeTiff(c.tiff));
        halvex::packing::convertToPacked(download.record, {c.tiff.width, c.tiff.height, c.bitMode}, "cam");
        const HX_READ_STREAM& record = download.record;
        EXPECT_EQ(record.received_length, c.packed.size());
        EXPECT_EQ(record.image_length, c.packed.size());
        EXPECT_EQ(record.frame_id, 42u);
        EXPECT_EQ(record.status, uint32_t{HX_STREAM_STATUS_LEADER | HX_STREAM_STATUS_COMPLETE});
        EXPECT_EQ(std::vector<uint8_t>(download.bytes.begin(), download.bytes.begin() + c.packed.size()), c.packed);
    }
}

TEST_F(ConvertToPackedTest, LeavesTheDownloadAsReceivedWhenItCannotPack)
{
    const std::vector<uint8_t> tiff8 = PACKING_TEST::writeTiff({4, 2, 8, 0, false, {1, 2, 3, 4, 5, 6, 7, 8}});
    // The camera reports 5 x 2, so ten pixel bytes are due; the strip holds six.
    const uint32_t pixelsAt = 8 + 2 + 4 * 12 + 4; // right after a four-entry directory
    HandTiff cut;
    cut.entry(256, 3, 1, 5).entry(257, 3, 1, 2).entry(273, 4, 1, pixelsAt).entry(279, 4, 1, 10);
    ASSERT_EQ(cut.tailOffset(), pixelsAt);
    const std::vector<uint8_t> cutFile = cut.bytes(std::vector<uint8_t>(6, 9));

    struct RefusedCase {
        const char* name;
        std::vector<uint8_t> file;
        PackingImage image;
        std::size_t spare;
        std::function<void(HX_READ_STREAM&)> adjust;
        std::string logged;
    };
    const auto incomplete = [](HX_READ_STREAM& r) {
        r.image_length = r.received_length + 100;
        r.status = HX_STREAM_STATUS_LEADER;
    };
    const std::vector<RefusedCase> cases = {
        {"image still incomplete", tiff8, {4, 2, HX_BIT_MODE_8A}, 16, incomplete, "length mismatch ["},
        {"bit mode 512", tiff8, {4, 2, 0x200}, 16, nullptr, "Unsupported bit mode [0x200]"},
        {"no strip offsets",
         HandTiff().entry(256, 3, 1, 4).bytes(std::vector<uint8_t>(8, 1)),
         {4, 2, HX_BIT_MODE_8A},
         16,
         nullptr,
         "Could not find the strip offset tag!"},
        {"camera's width differs",
         tiff8,
         {6, 2, HX_BIT_MODE_8A},
         16,
         nullptr,
         "the TIFF's size is not the camera's 6x2"},
        {"10-bit mode on 8-bit samples", tiff8, {4, 2, HX_BIT_MODE_10A}, 16, nullptr, "samples are not 16 bits wide"},
        {"pixel data cut short", cutFile, {5, 2, HX_BIT_MODE_8A}, 64, nullptr, "is not within the"},
        {"packed image larger than the buffer",
         PACKING_TEST::writeTiff({1, 100, 8, 0, false, std::vector<uint16_t>(100, 7)}),
         {1, 100, HX_BIT_MODE_8A},
         0,
         nullptr,
         "does not fit the buffer"},
        {"big-endian 16-bit samples",
         PACKING_TEST::writeTiff({3, 1, 16, 0, true, {1, 2, 3}}),
         {3, 1, HX_BIT_MODE_12},
         16,
         nullptr,
         "big-endian"},
    };
    for (const RefusedCase& c : cases) {
        SCOPED_TRACE(c.name);
        Download download(c.file, c.spare);
        if (c.adjust)
            c.adjust(download.record);
        const HX_READ_STREAM before = download.record;
        hx_test::LogCapture log;
        halvex::packing::convertToPacked(download.record, c.image, "cam");
        download.expectBytesAsReceived();
        EXPECT_EQ(download.record.received_length, before.received_length);
        EXPECT_EQ(download.record.image_length, before.image_length);
        EXPECT_EQ(log.count(c.logged), 1u) << "expected a line with: " << c.logged;
    }
}

} // namespace
