// The record initialisers (each record's size is asserted by the header): size checks, zero-fill, version word, the
// lifecycle trace line.
#include <hx/hx.h>

#include "log_capture.h"
#include <hlv_thread/log.h>

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include <gtest/gtest.h>

extern "C" int hx_header_check_c_command_init(void);

namespace {

using Initialiser = std::function<HX_STATUS(void*, uint32_t)>;

struct InitCase {
    const char* name;
    Initialiser init;
    uint32_t size;
};

template <typename Record>
InitCase initCase(const char* name, HX_STATUS (*init)(Record*, uint32_t))
{
    return {name, [init](void* record, uint32_t size) { return init(static_cast<Record*>(record), size); },
            uint32_t(sizeof(Record))};
}

std::array<InitCase, 14> allInitialisers()
{
    return {{
        initCase("HX_analog_gain_init", HX_analog_gain_init),
        initCase("HX_battery_info_init", HX_battery_info_init),
        initCase("HX_camera_information_init", HX_camera_information_init),
        initCase("HX_capture_settings_init", HX_capture_settings_init),
        initCase("HX_command_init", HX_command_init),
        initCase("HX_download_settings_init", HX_download_settings_init),
        initCase("HX_io_settings_init", HX_io_settings_init),
        initCase("HX_lens_settings_init", HX_lens_settings_init),
        initCase("HX_temperature_init", HX_temperature_init),
        initCase("HX_lens_status_init", HX_lens_status_init),
        initCase("HX_lens_info_init", HX_lens_info_init),
        initCase("HX_playback_settings_init", HX_playback_settings_init),
        initCase("HX_read_stream_init", HX_read_stream_init),
        initCase("HX_stream_settings_init", HX_stream_settings_init),
    }};
}

constexpr unsigned char kPoison = 0xAB;

// Room for the largest record plus a margin that must never be touched.
struct Storage {
    alignas(8) std::array<unsigned char, 400> bytes;
    Storage() { bytes.fill(kPoison); }
    bool untouched() const
    {
        for (unsigned char b : bytes) {
            if (b != kPoison)
                return false;
        }
        return true;
    }
};

TEST(RecordInitialisers, RefuseNullAndWrongSizesWithoutWriting)
{
    for (const InitCase& c : allInitialisers()) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.init(nullptr, c.size), HX_STATUS_ERROR);
        for (uint32_t wrong : {c.size - 1, c.size + 1, 0u}) {
            Storage storage;
            EXPECT_EQ(c.init(storage.bytes.data(), wrong), HX_STATUS_ERROR) << "size " << wrong;
            EXPECT_TRUE(storage.untouched()) << "size " << wrong;
        }
    }
}

TEST(RecordInitialisers, ZeroFillAndWriteVersionWordAtExactSize)
{
    for (const InitCase& c : allInitialisers()) {
        SCOPED_TRACE(c.name);
        Storage storage;
        ASSERT_EQ(c.init(storage.bytes.data(), c.size), HX_STATUS_OK);
        // 0x000C0002 little-endian: version 2.12.
        EXPECT_EQ(storage.bytes[0], 0x02);
        EXPECT_EQ(storage.bytes[1], 0x00);
        EXPECT_EQ(storage.bytes[2], 0x0C);
        EXPECT_EQ(storage.bytes[3], 0x00);
        for (uint32_t i = 4; i < c.size; ++i) {
            ASSERT_EQ(storage.bytes[i], 0) << "byte " << i;
        }
        for (uint32_t i = c.size; i < storage.bytes.size(); ++i) {
            ASSERT_EQ(storage.bytes[i], kPoison) << "written beyond the record at byte " << i;
        }
    }
}

TEST(RecordInitialisers, CameraInformationInitIsTracedUnderLifecycleOnly)
{
    const uint32_t saved = halvex::thread::traceMask();
    HX_CAMERA_INFORMATION info;
    {
        halvex::thread::setTraceMask(HX_TRACE_LIFECYCLE);
        hx_test::LogCapture capture;
        EXPECT_EQ(HX_camera_information_init(&info, sizeof info), HX_STATUS_OK);
        EXPECT_EQ(capture.count(": HX_camera_information_init"), 1u);
    }
    {
        halvex::thread::setTraceMask(HX_TRACE_ALL & ~HX_TRACE_LIFECYCLE);
        hx_test::LogCapture capture;
        EXPECT_EQ(HX_camera_information_init(&info, sizeof info), HX_STATUS_OK);
        HX_capture_settings_init(nullptr, 224);
        EXPECT_TRUE(capture.lines().empty());
    }
    halvex::thread::setTraceMask(saved);
}

TEST(RecordInitialisers, VersionQueriesAndCallsFromC)
{
    EXPECT_EQ(CS_HX_VersionMaj(), 2);
    EXPECT_EQ(CS_HX_VersionMin(), 12);
    EXPECT_EQ(hx_header_check_c_command_init(), 0);
}

} // namespace
