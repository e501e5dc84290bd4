// Camera families against an in-memory camera: recognition from sensor type and model text, the
// capture settings exchange with the camera, analog gain, battery and identity.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <future>
#include <optional>

#include "log_capture.h"
#include <hlv_thread/note.h>

#include "api/camera_families.h"
#include "camera/camera_operations.h"
#include "fake_camera.h"
#include "morvane/morvane_operations.h"
#include "record_fields.h"
#include "registers/register_map.h"
#include "tarrow/tarrow_operations.h"

using namespace halvex::api;
using namespace halvex::camera;
using namespace halvex::morvane;
using namespace halvex::wire;

using namespace halvex::registers;
using hx_test::FakeCamera;

namespace {

using hx_test::setField;

constexpr uint32_t CAMERA = 0x0200007F; // 127.0.0.2 in network order
constexpr uint32_t SET = HX_FLAG_SET;

HX_CAPTURE_SETTINGS freshRecord()
{
    HX_CAPTURE_SETTINGS record;
    HX_capture_settings_init(&record, sizeof(record));
    return record;
}

std::shared_ptr<CameraOperations> build(const std::shared_ptr<FakeCamera>& camera)
{
    return recogniseCamera(CAMERA, camera);
}

bool isMorvane(const std::shared_ptr<CameraOperations>& operations)
{
    return dynamic_cast<MorvaneOperations*>(operations.get()) != nullptr;
}

TEST(CameraFamily, ModelCodesAnywhereInTheWindowChooseTheFamily)
{
    EXPECT_FALSE(isMorvane(build(FakeCamera::lux19hs("hxsim qT"))));
    EXPECT_FALSE(isMorvane(build(FakeCamera::lux19hs("HX-qX 2000"))));
    EXPECT_TRUE(isMorvane(build(FakeCamera::lux19hs("HX-qM 4000"))));
    // Both families named: the first family's codes are tried first.
    EXPECT_FALSE(isMorvane(build(FakeCamera::lux19hs("qM qX"))));

    // The code may sit past the first NUL, anywhere in the 536 bytes read.
    auto hidden = FakeCamera::lux19hs();
    std::vector<uint8_t> window(536, 0);
    const std::string name = "hxsim";
    std::copy(name.begin(), name.end(), window.begin());
    window[533] = 'q';
    window[534] = 'M';
    hidden->setMemory(GIGE_REG_MODEL_NAME, window);
    const auto operations = build(hidden);
    ASSERT_TRUE(operations);
    EXPECT_TRUE(isMorvane(operations));
    EXPECT_EQ(operations->cameraName(), "127.0.0.2");
}

TEST(CameraFamily, UnrecognisedCamerasYieldNothingWithTheReason)
{
    hx_test::LogCapture log;
    EXPECT_FALSE(build(FakeCamera::lux19hs("QT qt Tq")));
    EXPECT_EQ(log.count("Camera model 'QT qt Tq' is not supported."), 1u);

    auto unsupported = FakeCamera::lux19hs();
    unsupported->set(GIGE_REG_SENSOR_TYPE, 0x58363043);
    EXPECT_FALSE(build(unsupported));
    EXPECT_EQ(log.count("Sensor type not supported [0x58363043]"), 1u);
    EXPECT_EQ(log.count("Failed creating the SensorOperations object for camera 'hxsim qT'"), 1u);

    auto unknown = FakeCamera::lux19hs();
    unknown->set(GIGE_REG_SENSOR_TYPE, 0x12345678);
    EXPECT_FALSE(build(unknown));
    EXPECT_EQ(log.count("Unknown sensor type [0x12345678]"), 1u);

    auto silent = FakeCamera::lux19hs();
    silent->failReads(12);
    EXPECT_FALSE(build(silent));
    EXPECT_EQ(log.count("Could not retrieve sensor type from camera 127.0.0.2"), 1u);
}

TEST(CaptureSettings, OneWriteInOrderThenTheCamerasValuesComeBack)
{
    auto camera = FakeCamera::lux19hs();
    auto operations = build(camera);
    ASSERT_TRUE(operations);
    HX_CAPTURE_SETTINGS record = freshRecord();
    record.sensor_group_flags = SET;
    setField(record.width, record.width_flags, 1024);
    setField(record.height, record.height_flags, 512);
    setField(record.x_offset, record.x_offset_flags, 512);
    setField(record.y_offset, record.y_offset_flags, 256);
    record.record_group_flags = SET;
    setField(record.rate, record.rate_flags, 5000);
    record.exposure_group_flags = SET;
    setField(record.exposure, record.exposure_flags, 150);
    operations->setCaptureSettings(&record);

    ASSERT_EQ(camera->multiWrites().size(), 1u);
    EXPECT_EQ(camera->multiWrites().front(), (RegisterPairs{{GIGE_REG_SETTINGS_BATCH, 1},
                                                            {GIGE_REG_ROI_WIDTH, 1024},
                                                            {GIGE_REG_ROI_HEIGHT, 512},
                                                            {GIGE_REG_ROI_X_OFFSET, 512},
                                                            {GIGE_REG_ROI_Y_OFFSET, 256},
                                                            {GIGE_REG_FRAME_RATE, 5000},
                                                            {GIGE_REG_EXPOSURE, 150},
                                                            {GIGE_REG_SETTINGS_BATCH, 0}}));
    EXPECT_EQ(record.flags & HX_FLAG_ERR, 0u);
    EXPECT_EQ(record.width, 1024u);
    EXPECT_EQ(record.x_offset_max, 1024u);
    EXPECT_EQ(record.rate, 5000u);
    EXPECT_EQ(record.rate_max, 5200u);
    EXPECT_EQ(record.exposure_max, 188u); // 1000000 / 5000 - 12

    // The same request again: nothing differs from the camera, so nothing is marked changed.
    HX_CAPTURE_SETTINGS again = record;
    operations->setCaptureSettings(&again);
    EXPECT_EQ(again.flags, 0u);
    EXPECT_EQ(again.width_flags, SET);
}

TEST(CaptureSettings, RefusedFieldsAreMarkedAndTheRestWritten)
{
    auto camera = FakeCamera::lux19hs();
    auto operations = build(camera);
    ASSERT_TRUE(operations);
    // The camera keeps exposures of at most 100 microseconds.
    camera->setWriteRule(
        [](uint32_t reg, uint32_t value) { return reg == GIGE_REG_EXPOSURE ? std::min(value, 100u) : value; });
    HX_CAPTURE_SETTINGS record;
    operations->getCaptureSettings(&record);
    record.record_group_flags = SET;
    setField(record.rate, record.rate_flags, 9999);
    record.exposure_group_flags = SET;
    setField(record.exposure, record.exposure_flags, 300);
    hx_test::LogCapture log;
    operations->setCaptureSettings(&record);

    EXPECT_EQ(camera->get(GIGE_REG_EXPOSURE), 100u);
    EXPECT_EQ(camera->get(GIGE_REG_FRAME_RATE), 2000u);
    // The refused rate is replaced by the camera's.
    EXPECT_EQ(record.rate_flags, SET | HX_FLAG_ERR | HX_FLAG_CHG);
    EXPECT_EQ(record.rate, 2000u);
    EXPECT_EQ(record.exposure, 100u);
    EXPECT_EQ(record.exposure_flags, SET | HX_FLAG_CHG);
    EXPECT_EQ(record.flags, HX_FLAG_ERR | HX_FLAG_CHG);
    EXPECT_EQ(log.count("Frame rate not within constraints"), 1u);
}

TEST(CaptureSettings, AFailedWriteMarksTheRecordAndReadsNothingBack)
{
    auto camera = FakeCamera::lux19hs();
    auto operations = build(camera);
    ASSERT_TRUE(operations);
    camera->failWrites(12);
    std::size_t atWrite = 0;
    camera->setWriteHook([&] { atWrite = camera->exchanges(); });
    HX_CAPTURE_SETTINGS record = freshRecord();
    record.exposure_group_flags = SET;
    setField(record.exposure, record.exposure_flags, 300);
    setField(record.low_light, record.low_light_flags, 9000);
    hx_test::LogCapture log;
    operations->setCaptureSettings(&record);
    EXPECT_EQ(camera->exchanges(), atWrite + 1); // the write was the last exchange
    EXPECT_EQ(record.flags & HX_FLAG_ERR, HX_FLAG_ERR);
    EXPECT_EQ(record.exposure_flags, SET);
    EXPECT_EQ(record.low_light_flags, SET);
    EXPECT_EQ(record.exposure, 300u); // the caller's value, not the camera's 400
    EXPECT_EQ(log.count("Program exception"), 1u);
    EXPECT_EQ(log.count("HxComm::writeMultiReg was not successful [12]"), 1u);
    camera->setWriteHook({});

    // A camera that no longer answers: nothing is written and the record says so.
    camera->failWrites(0);
    camera->failReads(12);
    const std::size_t before = camera->multiWrites().size();
    HX_CAPTURE_SETTINGS silent = freshRecord();
    silent.exposure_group_flags = SET;
    setField(silent.exposure, silent.exposure_flags, 300);
    operations->setCaptureSettings(&silent);
    EXPECT_EQ(camera->multiWrites().size(), before);
    EXPECT_EQ(silent.flags & HX_FLAG_ERR, HX_FLAG_ERR);
    EXPECT_EQ(log.count("Unable to read the capture settings from the camera"), 1u);
    EXPECT_THROW(operations->getCaptureSettings(nullptr), halvex::thread::RuntimeError);
}

TEST(CaptureSettings, AnEmptyRoiOnTheCameraCanBeReplaced)
{
    auto camera = FakeCamera::lux19hs();
    auto operations = build(camera);
    ASSERT_TRUE(operations);
    camera->set(GIGE_REG_ROI_WIDTH, 0);
    hx_test::LogCapture log;
    EXPECT_THROW(operations->getCaptureSettings(nullptr), halvex::thread::LogicError);
    HX_CAPTURE_SETTINGS record = freshRecord();
    record.sensor_group_flags = SET;
    setField(record.width, record.width_flags, 1024);
    operations->setCaptureSettings(&record);
    EXPECT_EQ(camera->get(GIGE_REG_ROI_WIDTH), 1024u);
    EXPECT_EQ(record.flags & HX_FLAG_ERR, 0u);
    EXPECT_EQ(record.width, 1024u);
}

// The protocol has no checksum: a value damaged on the way back is read again rather than
// reported as the camera's, and a healthy camera costs no extra exchange.
TEST(CaptureSettings, ValuesDamagedOnTheWayBackAreReadAgain)
{
    auto camera = FakeCamera::lux19hs();
    auto operations = build(camera);
    ASSERT_TRUE(operations);
    hx_test::LogCapture log;
    camera->damageReads(GIGE_REG_ROI_WIDTH, {0x80000800});
    std::size_t before = camera->exchanges();
    HX_CAPTURE_SETTINGS record = freshRecord();
    operations->getCaptureSettings(&record);
    EXPECT_EQ(record.width, 2048u);
    EXPECT_EQ(camera->exchanges(), before + 4); // both groups, twice
    EXPECT_EQ(log.count("implausible capture setting (width 2147485696 above 2048), read 1 of 3"), 1u);
    camera->damageReads(GIGE_REG_EXPOSURE, {1u << 30, 1u << 30, 1u << 30});
    EXPECT_THROW(operations->getCaptureSettings(&record), halvex::thread::LogicError);
    EXPECT_EQ(log.count("(exposure 1073741824 above 41666), read 3 of 3"), 1u);

    // Read-backs that differ from the write count only when two in a row agree.
    const auto writeExposure = [&](uint32_t exposure, std::vector<uint32_t> damage) {
        camera->setWriteHook([&camera, damage] { camera->damageReads(GIGE_REG_EXPOSURE, damage); });
        before = camera->exchanges();
        record = freshRecord();
        record.exposure_group_flags = SET;
        setField(record.exposure, record.exposure_flags, exposure);
        operations->setCaptureSettings(&record);
        return camera->exchanges() - before;
    };
    EXPECT_EQ(writeExposure(150, {}), 5u); // validation's reads, the write, the read-back
    EXPECT_EQ(writeExposure(160, {161}), 7u);
    EXPECT_EQ(record.exposure, 160u);
    EXPECT_EQ(record.flags & HX_FLAG_ERR, 0u);
    writeExposure(170, {171, 172, 173});
    EXPECT_EQ(record.flags & HX_FLAG_ERR, HX_FLAG_ERR);
    EXPECT_EQ(log.count("read back differently each time after the write (3 reads)"), 1u);
    camera->setWriteRule([](uint32_t, uint32_t value) { return std::min(value, 100u); });
    EXPECT_EQ(writeExposure(180, {}), 7u); // the camera's own adjustment, confirmed
    EXPECT_EQ(record.exposure, 100u);
    EXPECT_EQ(record.flags & HX_FLAG_ERR, 0u);
}

// Binning lifts the sensor's upper limits on the region: a binned camera holding a region beyond
// them is no sign of damage, whoever wrote it (one read, no refusal), while an unbinned one holding
// it is, however it got there.
TEST(CaptureSettings, ARegionBeyondTheSensorIsTheCamerasOwnOnlyWhileBinned)
{
    auto camera = FakeCamera::lux19hs();
    auto operations = build(camera);
    ASSERT_TRUE(operations);
    HX_CAPTURE_SETTINGS record = freshRecord();
    operations->getCaptureSettings(&record);
    const uint32_t wide = record.width_max * 2;
    const uint32_t right = record.width_max + record.width_constr;
    const auto write = [&](uint32_t bns, std::optional<uint32_t> width, std::optional<uint32_t> x) {
        record = freshRecord();
        record.sensor_group_flags = SET;
        setField(record.bns_mode, record.bns_mode_flags, bns);
        if (width)
            setField(record.width, record.width_flags, *width);
        if (x)
            setField(record.x_offset, record.x_offset_flags, *x);
        operations->setCaptureSettings(&record);
    };
    hx_test::LogCapture log;
    write(HX_BNS_MODE_2X2, wide, right);
    EXPECT_EQ(camera->get(GIGE_REG_ROI_WIDTH), wide);
    EXPECT_EQ(record.flags & HX_FLAG_ERR, 0u) << "the library refused a region it wrote itself";
    EXPECT_EQ(record.width, wide);
    EXPECT_EQ(record.x_offset, right);
    EXPECT_EQ(log.count("implausible"), 0u);
    const std::size_t before = camera->exchanges();
    operations->getCaptureSettings(&record);
    EXPECT_EQ(camera->exchanges(), before + 2) << "a later read asked the camera again";

    // Unbinned with the region left beyond the sensor: no camera captures that, so it is damage again.
    write(HX_BNS_MODE_1X1, std::nullopt, std::nullopt);
    EXPECT_EQ(record.flags & HX_FLAG_ERR, HX_FLAG_ERR) << "an unbinned region beyond the sensor was believed";
    EXPECT_THROW(operations->getCaptureSettings(&record), halvex::thread::LogicError);
    EXPECT_GT(log.count("implausible"), 0u);

    // A camera first met already binned, holding such a region.
    auto binned = FakeCamera::lux19hs();
    binned->set(GIGE_REG_BNS_MODE, 0x202);
    binned->set(GIGE_REG_ROI_WIDTH, wide);
    binned->set(GIGE_REG_ROI_X_OFFSET, right);
    auto met = build(binned);
    ASSERT_TRUE(met);
    const std::size_t flagged = log.count("implausible");
    record = freshRecord();
    ASSERT_NO_THROW(met->getCaptureSettings(&record));
    EXPECT_EQ(record.bns_mode, static_cast<uint32_t>(HX_BNS_MODE_2X2));
    EXPECT_EQ(record.width, wide);
    EXPECT_EQ(log.count("implausible"), flagged);
}

// A read made while another thread's change waits on the camera is answered meanwhile: it costs
// its own exchanges, not the change's.
TEST(CaptureSettings, AReadIsNotHeldUpByAChangeWaitingOnTheCamera)
{
    auto camera = FakeCamera::lux19hs();
    auto operations = build(camera);
    ASSERT_TRUE(operations);
    std::promise<void> writing;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    camera->setWriteHook([&writing, released] {
        writing.set_value();
        released.wait();
    });
    auto change = std::async(std::launch::async, [&operations] {
        HX_CAPTURE_SETTINGS record = freshRecord();
        record.exposure_group_flags = SET;
        setField(record.exposure, record.exposure_flags, 150);
        operations->setCaptureSettings(&record);
    });
    ASSERT_EQ(writing.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready)
        << "the change never reached the camera";
    camera->setWriteHook(nullptr);
    auto read = std::async(std::launch::async, [&operations] {
        HX_CAPTURE_SETTINGS record = freshRecord();
        operations->getCaptureSettings(&record);
        return record.exposure;
    });
    const bool answered = read.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    release.set_value();
    EXPECT_TRUE(answered) << "the read waited for the change";
    change.get();
    EXPECT_NE(read.get(), 0u);
}

TEST(CaptureSettings, SecondFamilyReadsFractionalRates)
{
    auto camera = FakeCamera::lux19hs("HX-qM 4000");
    auto operations = build(camera);
    ASSERT_TRUE(operations);
    HX_CAPTURE_SETTINGS record = freshRecord();
    record.record_group_flags = SET;
    setField(record.rate, record.rate_flags, 2997);
    record.rate_divisor = 100;
    operations->setCaptureSettings(&record);
    EXPECT_EQ(camera->get(GIGE_REG_FRAME_RATE), 0x801DF851u);
    EXPECT_EQ(record.rate, 0x1DF851u);
    EXPECT_EQ(record.rate_divisor, 65536u);
    EXPECT_EQ(record.exposure_max, 33354u); // trunc(1000000 / 29.97) - 12
}

// Calls the first family does not offer fail, naming the operation, and leave the caller's
// records as they were.
TEST(CameraFamily, CallsTheFirstFamilyDoesNotOfferFailAndTouchNothing)
{
    auto camera = FakeCamera::lux19hs();
    auto operations = build(camera);
    ASSERT_TRUE(operations);
    const auto refuses = [](const char* name, const std::function<void()>& call) {
        try {
            call();
            ADD_FAILURE() << name << " succeeded";
        } catch (const halvex::thread::RuntimeError& error) {
            EXPECT_NE(error.str().find(name), std::string::npos) << error.str();
        }
    };
    HX_LENS_STATUS status;
    HX_lens_status_init(&status, sizeof(status));
    const HX_LENS_STATUS statusBefore = status;
    refuses("getLensStatus", [&] { operations->getLensStatus(&status); });
    EXPECT_EQ(std::memcmp(&status, &statusBefore, sizeof(status)), 0);
    HX_LENS_SETTINGS lens;
    HX_lens_settings_init(&lens, sizeof(lens));
    lens.flags = SET;
    refuses("setLensSettings", [&] { operations->setLensSettings(&lens); });
    char json[16] = "untouched";
    uint32_t length = sizeof(json);
    refuses("getCameraMedia", [&] { operations->getCameraMedia(json, &length); });
    EXPECT_STREQ(json, "untouched");
    EXPECT_EQ(length, sizeof(json));
    refuses("startCameraSave", [&] { operations->startCameraSave("{}"); });

    const std::size_t exchanges = camera->exchanges();
    HX_TEMPERATURE temperature;
    HX_temperature_init(&temperature, sizeof(temperature));
    const HX_TEMPERATURE temperatureBefore = temperature;
    hx_test::LogCapture log;
    EXPECT_FALSE(operations->getTemperature(&temperature));
    EXPECT_EQ(std::memcmp(&temperature, &temperatureBefore, sizeof(temperature)), 0);
    EXPECT_EQ(log.count("getTemperature"), 1u);
    EXPECT_EQ(camera->exchanges(), exchanges) << "the camera was asked for what this family does not offer";
}

TEST(camera_status, GainBatteryIdentityAndPrivilege)
{
    auto camera = FakeCamera::lux19hs();
    camera->set(GIGE_REG_SENSOR_TYPE, 0x414C354D); // Lince: gains 1.00, 2.00 and 4.00
    camera->setText(GIGE_REG_USER_DEFINED_NAME, "a-name-longer-than-sixteen");
    auto operations = build(camera);
    ASSERT_TRUE(operations);

    HX_ANALOG_GAIN gain;
    HX_analog_gain_init(&gain, sizeof(gain));
    gain.flags = SET;
    gain.gain = HX_ANALOG_GAIN_2_00;
    operations->setAnalogGain(&gain);
    // The camera's version text has not been read: no firmware flag.
    EXPECT_EQ(camera->get(GIGE_REG_ANALOG_GAIN), 200u);
    HX_ANALOG_GAIN read;
    operations->getAnalogGain(&read);
    EXPECT_EQ(read.gain, HX_ANALOG_GAIN_2_00);
    EXPECT_EQ(read.gain_caps, 0x45u);
    // A gain the sensor does not list goes to the camera all the same; one outside the table not.
    gain.gain = HX_ANALOG_GAIN_1_50;
    operations->setAnalogGain(&gain);
    EXPECT_EQ(gain.flags & HX_FLAG_ERR, 0u);
    EXPECT_EQ(camera->get(GIGE_REG_ANALOG_GAIN), 150u);
    gain.gain = 0x3;
    operations->setAnalogGain(&gain);
    EXPECT_EQ(gain.flags & HX_FLAG_ERR, HX_FLAG_ERR);
    EXPECT_EQ(camera->get(GIGE_REG_ANALOG_GAIN), 150u);

    // Once the identity texts were read, firmware 2.6.0 takes the flag and 2.4.9 does not.
    HX_CAMERA_INFORMATION texts;
    operations->getCameraInformation(&texts);
    gain.flags = SET;
    gain.gain = HX_ANALOG_GAIN_2_00;
    operations->setAnalogGain(&gain);
    EXPECT_EQ(camera->get(GIGE_REG_ANALOG_GAIN), 0x80000000u | 200);
    camera->setText(GIGE_REG_DEVICE_VERSION, "2.4.9");
    auto older = build(camera);
    older->getCameraInformation(&texts);
    gain.gain = HX_ANALOG_GAIN_4_00;
    older->setAnalogGain(&gain);
    EXPECT_EQ(camera->get(GIGE_REG_ANALOG_GAIN), 400u);

    // A refused write is reported in the words hosts match on, and the record says it failed.
    camera->failWrites(12);
    gain.flags = SET;
    gain.gain = HX_ANALOG_GAIN_1_00;
    {
        hx_test::LogCapture log;
        older->setAnalogGain(&gain);
        EXPECT_EQ(log.count("HxComm::writeReg was not successful [12]"), 1u);
    }
    EXPECT_EQ(gain.flags & HX_FLAG_ERR, HX_FLAG_ERR);
    EXPECT_EQ(camera->get(GIGE_REG_ANALOG_GAIN), 400u);
    camera->failWrites(0);

    HX_BATTERY_INFO battery;
    HX_battery_info_init(&battery, sizeof(battery));
    operations->getBatteryInfo(&battery);
    EXPECT_EQ(battery.battery_state, 3u);
    EXPECT_EQ(battery.charge, 87u);
    EXPECT_EQ(battery.flags, HX_FLAG_CHG);

    HX_CAMERA_INFORMATION info;
    HX_camera_information_init(&info, sizeof(info));
    operations->getCameraInformation(&info);
    EXPECT_STREQ(info.model_name, "hxsim qT");
    EXPECT_STREQ(info.manufacturer_name, "halvex");
    EXPECT_STREQ(info.serial_number, "HXS000001");
    EXPECT_STREQ(info.user_name, "a-name-longer-th");

    EXPECT_TRUE(operations->lockCamera());
    EXPECT_EQ(camera->get(GIGE_REG_CCP), 2u);
    EXPECT_TRUE(operations->unlockCamera());
    EXPECT_EQ(camera->get(GIGE_REG_CCP), 0u);
    camera->failWrites(11);
    EXPECT_FALSE(operations->lockCamera());
}

} // namespace
