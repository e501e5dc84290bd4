// Capture settings end to end through the public C interface, against stand-in cameras of every
// sensor and both families on loopback: reading, writing, refusal and change marking, cameras the
// library does not recognise, a camera that takes only part of a write, and two host threads
// changing one camera at once.
#include <gtest/gtest.h>

#include <vector>

#include <algorithm>
#include <atomic>
#include <thread>

#include "log_capture.h"
#include <hx/hx.h>

#include "event_log.h"
#include "library_client.h"

using namespace hxsim;
using hx_test::standInCamera;

namespace {

constexpr uint32_t FIRST_CAMERA = 0x7F000002; // 127.0.0.2, host order
constexpr uint32_t SET = HX_FLAG_SET;

struct Model {
    const char* sensor;
    const char* model;
};

// Every sensor in both families, one camera each on consecutive addresses.
const std::vector<Model>& models()
{
    static const std::vector<Model> all{
        {"lince", "hxsim qT"}, {"lupa", "hxsim qT"}, {"lux13hs", "hxsim qX"}, {"lux19hs-mono", "hxsim qX"},
        {"lince", "hxsim qM"}, {"lupa", "hxsim qM"}, {"lux13hs", "hxsim qM"}, {"lux19hs", "hxsim qM"},
    };
    return all;
}

// Cameras after the round-trip ones: no family code, an unsupported sensor, and one whose write
// acknowledges report a pair fewer than it wrote.
constexpr uint32_t NO_FAMILY = FIRST_CAMERA + 8;
constexpr uint32_t UNSUPPORTED_SENSOR = FIRST_CAMERA + 9;
constexpr uint32_t SHORT_WRITES = FIRST_CAMERA + 10;
constexpr uint32_t VANISHING = FIRST_CAMERA + 11;
constexpr uint32_t RETURNING = FIRST_CAMERA + 12; // started and stopped by its test

std::vector<CameraConfig> allCameras()
{
    std::vector<CameraConfig> configs;
    for (std::size_t i = 0; i < models().size(); ++i) {
        configs.push_back(
            standInCamera(FIRST_CAMERA + static_cast<uint32_t>(i), models()[i].sensor, models()[i].model));
    }
    configs.push_back(standInCamera(NO_FAMILY, "lince", "hxsim"));
    configs.push_back(standInCamera(UNSUPPORTED_SENSOR, "x60", "hxsim qT"));
    configs.push_back(standInCamera(SHORT_WRITES, "lux13hs", "hxsim qT"));
    configs.back().faults.channel(FaultChannel::Control).wrongIndex = 1.0;
    configs.push_back(standInCamera(VANISHING, "lux19hs", "hxsim qT"));
    return configs;
}

// The cameras and one registered client for the whole test program; the camera that stops
// answering has its requests aged out in 250 ms instead of 5 s.
hx_test::LibraryClient& library = hx_test::LibraryClient::add(allCameras);

HX_CAMERA_HANDLE handleOf(uint32_t hostOrderAddress)
{
    return library.handleOf(hostOrderAddress);
}

// Lets a camera go again: the host has control channels for ten cameras at a time.
void release(HX_CAMERA_HANDLE camera)
{
    EXPECT_EQ(HX_release_handle(library.client(), camera), HX_STATUS_OK);
}

// Marks one field and its section for writing.
void ask(uint32_t& section, uint32_t& flags)
{
    section |= SET;
    flags = SET;
}

class RoundTrip : public ::testing::TestWithParam<std::size_t> {
protected:
    const Model& model() const { return models()[GetParam()]; }
    const SensorSpec& spec() const { return SensorModel::fromName(model().sensor)->spec(); }
    HX_CAMERA_HANDLE camera = handleOf(FIRST_CAMERA + static_cast<uint32_t>(GetParam()));
};

TEST_P(RoundTrip, TheCamerasSettingsComeBackWithTheSensorsLimits)
{
    const HX_CAPTURE_SETTINGS record = library.captureSettings(camera);
    EXPECT_EQ(record.width, spec().widthMax);
    EXPECT_EQ(record.width_max, spec().widthMax);
    EXPECT_EQ(record.width_min, spec().widthMin);
    EXPECT_EQ(record.height_max, spec().heightMax);
    EXPECT_EQ(record.bit_mode_caps, spec().bitModeCapabilities);
    EXPECT_EQ(record.bns_mode_caps, spec().bnsCapabilities);
    EXPECT_EQ(record.fpn_mode_caps & 0x7, spec().fpnCapabilities);
    EXPECT_GE(record.rate_max, record.rate_min);
    EXPECT_LE(record.exposure, record.exposure_max);
    EXPECT_GT(record.length_max, 0u);
}

TEST_P(RoundTrip, RoiRateAndExposureAreWrittenAndReadBack)
{
    HX_CAPTURE_SETTINGS record = library.captureSettings(camera);
    const uint32_t width = record.width_max / 2 / 8 * 8;
    const uint32_t height = record.height_max / 2 / 4 * 4;
    record.width = width;
    record.height = height;
    record.x_offset = (record.width_max - width) / 2 / 4 * 4;
    record.y_offset = (record.height_max - height) / 2 / 2 * 2;
    ask(record.sensor_group_flags, record.width_flags);
    ask(record.sensor_group_flags, record.height_flags);
    ask(record.sensor_group_flags, record.x_offset_flags);
    ask(record.sensor_group_flags, record.y_offset_flags);
    ASSERT_EQ(library.setupCapture(camera, record), HX_STATUS_OK);
    EXPECT_EQ(record.flags & HX_FLAG_ERR, 0u);
    EXPECT_EQ(record.width, width);
    EXPECT_EQ(record.height, height);

    // A smaller region runs faster; ask for half the new maximum, then an exposure that fits it.
    const uint32_t rate = std::max(record.rate_max / 2, record.rate_min);
    record.rate = rate;
    record.rate_divisor = 1;
    ask(record.record_group_flags, record.rate_flags);
    ASSERT_EQ(library.setupCapture(camera, record), HX_STATUS_OK);
    EXPECT_EQ(record.flags & HX_FLAG_ERR, 0u);
    EXPECT_EQ(record.rate, rate);
    EXPECT_EQ(record.rate_divisor, 1u);
    record.exposure = record.exposure_max / 2;
    ask(record.exposure_group_flags, record.exposure_flags);
    ASSERT_EQ(library.setupCapture(camera, record), HX_STATUS_OK);
    EXPECT_EQ(record.flags & HX_FLAG_ERR, 0u);
    EXPECT_EQ(library.captureSettings(camera).exposure, record.exposure);
}

TEST_P(RoundTrip, RefusedAndChangedFieldsAreMarked)
{
    HX_CAPTURE_SETTINGS record = library.captureSettings(camera);
    const uint32_t width = record.width;
    const uint32_t exposure = std::max(record.exposure_max / 3, record.exposure_min);
    record.width = record.width_max + record.width_constr; // off the sensor
    ask(record.sensor_group_flags, record.width_flags);
    record.length = 10; // the camera records up to the end of the memory segment
    ask(record.record_group_flags, record.length_flags);
    record.exposure = exposure;
    ask(record.exposure_group_flags, record.exposure_flags);
    ASSERT_EQ(library.setupCapture(camera, record), HX_STATUS_OK);

    EXPECT_EQ(record.width_flags & HX_FLAG_ERR, uint32_t{HX_FLAG_ERR});
    EXPECT_EQ(record.width, width) << "a refused width comes back as the camera holds it";
    EXPECT_EQ(record.sensor_group_flags & HX_FLAG_ERR, uint32_t{HX_FLAG_ERR});
    EXPECT_EQ(record.flags & (HX_FLAG_ERR | HX_FLAG_CHG), uint32_t{HX_FLAG_ERR | HX_FLAG_CHG});
    EXPECT_GT(record.length, 10u);
    EXPECT_EQ(record.length_flags & (HX_FLAG_ERR | HX_FLAG_CHG), uint32_t{HX_FLAG_CHG});
    EXPECT_EQ(record.exposure, exposure);
    EXPECT_EQ(record.exposure_flags & HX_FLAG_ERR, 0u);

    const HX_CAPTURE_SETTINGS camera_now = library.captureSettings(camera);
    EXPECT_EQ(camera_now.length, record.length);
    EXPECT_EQ(camera_now.exposure, exposure);
}

INSTANTIATE_TEST_SUITE_P(EverySensorBothFamilies, RoundTrip, ::testing::Range<std::size_t>(0, 8));

// The second family's cameras (the last four) hold fractional frame rates.
class SecondFamily : public RoundTrip {};

TEST_P(SecondFamily, FractionalRatesAreWrittenExactly)
{
    HX_CAPTURE_SETTINGS record = library.captureSettings(camera);
    record.rate = 2997;
    record.rate_divisor = 100;
    ask(record.record_group_flags, record.rate_flags);
    ASSERT_EQ(library.setupCapture(camera, record), HX_STATUS_OK);
    EXPECT_EQ(record.flags & HX_FLAG_ERR, 0u);
    EXPECT_EQ(record.rate_divisor, 65536u);
    EXPECT_NEAR(static_cast<double>(record.rate) / record.rate_divisor, 29.97, 0.0001);
}

INSTANTIATE_TEST_SUITE_P(EverySensor, SecondFamily, ::testing::Range<std::size_t>(4, 8));

TEST(UnrecognisedCameras, FailWithTheReasonInTheLog)
{
    hx_test::LogCapture log;
    HX_CAPTURE_SETTINGS record;
    HX_capture_settings_init(&record, sizeof(record));
    EXPECT_EQ(library.setupCapture(handleOf(NO_FAMILY), record), HX_STATUS_ERROR);
    EXPECT_GE(log.count("Camera model 'hxsim' is not supported."), 1u);
    EXPECT_EQ(library.setupCapture(handleOf(UNSUPPORTED_SENSOR), record), HX_STATUS_ERROR);
    EXPECT_GE(log.count("Sensor type not supported [0x58363043]"), 1u);
    EXPECT_EQ(record.flags, 0u) << "a failed call leaves the caller's record alone";

    // A command or state read has no family to run on either: an error, not an empty state.
    HX_COMMAND command;
    HX_command_init(&command, sizeof(command));
    HX_COMMAND state = command;
    log.clear();
    EXPECT_EQ(HX_command_syn(library.client(), handleOf(NO_FAMILY), &command, &state), HX_STATUS_ERROR);
    EXPECT_GE(log.count("Camera model 'hxsim' is not supported."), 1u);
    EXPECT_EQ(log.count("camera not recognised"), 1u);
    EXPECT_EQ(state.code, 0u);

    // Nothing would fill a buffer lent to it: the stream calls fail rather than hand it back
    // unfilled to a host that may lend it again at once.
    std::vector<unsigned char> memory(4096);
    HX_READ_STREAM buffer;
    HX_read_stream_init(&buffer, sizeof(buffer));
    buffer.buffer = memory.data();
    buffer.buffer_size = memory.size();
    log.clear();
    EXPECT_EQ(HX_download_syn(library.client(), handleOf(NO_FAMILY), &buffer), HX_STATUS_ERROR);
    EXPECT_EQ(HX_download(library.client(), handleOf(NO_FAMILY), &buffer), HX_STATUS_ERROR);
    EXPECT_EQ(HX_live_enable(library.client(), handleOf(NO_FAMILY), 1), HX_STATUS_ERROR);
    EXPECT_EQ(log.count("camera not recognised"), 3u);

    HX_CAPTURE_SETTINGS wrongVersion;
    HX_capture_settings_init(&wrongVersion, sizeof(wrongVersion));
    wrongVersion.ver_min = 11;
    EXPECT_EQ(library.setupCapture(handleOf(FIRST_CAMERA), wrongVersion), HX_STATUS_ERROR);
}

TEST(PartialWrites, AnUnconfirmedWriteMarksTheRecordAndKeepsTheCallersValues)
{
    const HX_CAMERA_HANDLE camera = handleOf(SHORT_WRITES);
    HX_CAPTURE_SETTINGS record = library.captureSettings(camera);
    const uint32_t exposure = std::max(record.exposure_max / 2, record.exposure_min);
    record.exposure = exposure;
    ask(record.exposure_group_flags, record.exposure_flags);
    record.rate = record.rate_min;
    ask(record.record_group_flags, record.rate_flags);
    ASSERT_EQ(library.setupCapture(camera, record), HX_STATUS_OK);
    EXPECT_EQ(record.flags & HX_FLAG_ERR, uint32_t{HX_FLAG_ERR});
    // Nothing is read back: the fields keep what the caller asked for, unmarked.
    EXPECT_EQ(record.exposure_flags & (HX_FLAG_ERR | HX_FLAG_CHG), 0u);
    EXPECT_EQ(record.rate_flags & (HX_FLAG_ERR | HX_FLAG_CHG), 0u);
    EXPECT_EQ(record.exposure, exposure);
    release(camera);
}

TEST(VanishedCamera, ASettingsCallFailsInTimeAndSaysSo)
{
    const HX_CAMERA_HANDLE camera = handleOf(VANISHING);
    HX_CAPTURE_SETTINGS record = library.captureSettings(camera);
    library.camera(VANISHING - FIRST_CAMERA).stop();
    record.exposure = record.exposure_min;
    ask(record.exposure_group_flags, record.exposure_flags);
    EXPECT_EQ(library.setupCapture(camera, record), HX_STATUS_OK);
    EXPECT_EQ(record.flags & HX_FLAG_ERR, uint32_t{HX_FLAG_ERR});
    release(camera);
}

TEST(LostCamera, IsUsedAgainWhenItReturns)
{
    static hx_test::EventLog events; // events queued before the client leaves may still come
    HX_CLIENT_HANDLE watcher = 0;
    ASSERT_EQ(HX_register(&watcher, &hx_test::EventLog::callback, &events), HX_STATUS_OK);
    auto returning = std::make_unique<Camera>(standInCamera(RETURNING, "lupa", "hxsim qT"));
    const HX_CAMERA_HANDLE handle = handleOf(RETURNING);
    library.captureSettings(handle);

    returning.reset();
    ASSERT_TRUE(events.waitForEvent(HX_END, handle, hx_test::DEADLINE)) << "the silent camera was never reported lost";
    HX_CAPTURE_SETTINGS record;
    HX_capture_settings_init(&record, sizeof(record));
    EXPECT_EQ(library.setupCapture(handle, record), HX_STATUS_ERROR) << "a lost camera cannot answer";

    returning = std::make_unique<Camera>(standInCamera(RETURNING, "lupa", "hxsim qT"));
    EXPECT_EQ(handleOf(RETURNING), handle);
    const HX_CAPTURE_SETTINGS again = library.captureSettings(handle);
    EXPECT_EQ(again.width_max, SensorModel::fromName("lupa")->spec().widthMax);
    release(handle);
    HX_unregister(watcher);
}

TEST(ConcurrentHosts, TwoThreadsChangingOneCameraEachReadTheirOwnValues)
{
    const HX_CAMERA_HANDLE camera = handleOf(FIRST_CAMERA + 2);
    const HX_CAPTURE_SETTINGS start = library.captureSettings(camera);
    const uint32_t low = start.exposure_min + 1;
    std::atomic<int> failures{0};
    auto writer = [&](uint32_t base) {
        for (uint32_t round = 0; round < 20; ++round) {
            HX_CAPTURE_SETTINGS record = start;
            record.exposure = base + round;
            ask(record.exposure_group_flags, record.exposure_flags);
            if (library.setupCapture(camera, record) != HX_STATUS_OK || record.exposure != base + round ||
                (record.exposure_flags & (HX_FLAG_ERR | HX_FLAG_CHG)) != 0) {
                ++failures;
            }
        }
    };
    std::thread first(writer, low);
    std::thread second(writer, low + 40);
    first.join();
    second.join();
    EXPECT_EQ(failures.load(), 0);
}

} // namespace
