// Power-up register values of the stand-in camera.
#include "sim/device/register_defaults.h"

#include <algorithm>

#include "sim/registers/camera_registers.h"
#include "sim/registers/capture_rules.h"

namespace hxsim {

using namespace halvex::sim;

namespace {

constexpr uint32_t kExposureOverhead = 12;
constexpr uint32_t kExposureMin = 2;
constexpr uint32_t kHeartbeatDefaultMs = 3000;
constexpr uint32_t kDefaultPacketSize = 1500;
// Battery present and charging (state 1) at 100 percent.
constexpr uint32_t kBattery = (100u << 8) | 1u;
// Trigger output: mode 0x10, pulse width 2000 microseconds.
constexpr uint32_t kTriggerOut = (2000u << 16) | 0x10u;
constexpr uint32_t kSaveIdle = 1u << 31;

void defineBootstrap(RegisterFile& regs)
{
    regs.define(GIGE_REG_HEARTBEAT_TIMEOUT, kHeartbeatDefaultMs);
    regs.define(GIGE_REG_CCP, 0);
    for (uint32_t address : {GIGE_REG_MCP, GIGE_REG_MCDA, GIGE_REG_SCP0, GIGE_REG_SCPD0, GIGE_REG_SCDA0}) {
        regs.define(address, 0);
    }
    regs.define(GIGE_REG_SCPS0, kDefaultPacketSize);
}

void defineSensor(RegisterFile& regs, const CameraConfig& config)
{
    const SensorSpec& spec = config.sensor.spec();
    regs.define(GIGE_REG_SENSOR_TYPE, config.sensor.typeCode(), Access::ReadOnly);
    regs.define(GIGE_REG_SENSOR_WIDTH_MAX, spec.widthMax, Access::ReadOnly);
    regs.define(GIGE_REG_SENSOR_HEIGHT_MAX, spec.heightMax, Access::ReadOnly);
    regs.define(GIGE_REG_SENSOR_WIDTH_MIN, spec.widthMin, Access::ReadOnly);
    regs.define(GIGE_REG_SENSOR_HEIGHT_MIN, spec.heightMin, Access::ReadOnly);
    regs.define(GIGE_REG_FRAME_RATE_LIMIT, spec.frameRateCeiling, Access::ReadOnly);
    regs.define(GIGE_REG_ROI_WIDTH, spec.widthMax);
    regs.define(GIGE_REG_ROI_HEIGHT, spec.heightMax);
    regs.define(GIGE_REG_ROI_X_OFFSET, 0);
    regs.define(GIGE_REG_ROI_Y_OFFSET, 0);
    regs.define(GIGE_REG_PIXEL_FORMAT, 16);
    regs.define(GIGE_REG_BNS_MODE, 0x101);
    regs.define(GIGE_REG_ANALOG_GAIN, 100);
}

void defineCapture(RegisterFile& regs, const CameraConfig& config)
{
    const MemoryLayout layout = MemoryLayout::forMemory(config.memoryBytes);
    regs.define(GIGE_REG_IMAGE_MEM_BASE, layout.base, Access::ReadOnly);
    regs.define(GIGE_REG_IMAGE_MEM_RESERVE, layout.reserve, Access::ReadOnly);
    regs.define(GIGE_REG_IMAGE_MEM_LIMIT, layout.limit, Access::ReadOnly);
    regs.define(GIGE_REG_IMAGE_MEM_END, layout.end, Access::ReadOnly);
    regs.define(GIGE_REG_IMAGE_MEM_PAGES, layout.pages, Access::ReadOnly);
    regs.define(GIGE_REG_RECORD_END_SEGMENT, layout.reserve >> 24);
    regs.define(GIGE_REG_RECORD_MODE, 0);
    regs.define(GIGE_REG_BROC_LENGTH, 100);
    regs.define(GIGE_REG_TRIGGER_POSITION, 1u << 31);
    regs.define(GIGE_REG_FPN_MODE, 0);
    regs.define(GIGE_REG_EXPOSURE_OVERHEAD, kExposureOverhead, Access::ReadOnly);
    regs.define(GIGE_REG_EXPOSURE_MIN, kExposureMin, Access::ReadOnly);
    regs.define(GIGE_REG_CAPTURE_E838, 1);
    regs.define(GIGE_REG_LOW_LIGHT_ENABLE, 0);
    regs.define(GIGE_REG_LOW_LIGHT_EXPOSURE, 10000);
    regs.define(GIGE_REG_SETTINGS_BATCH, 0);

    const CaptureRules rules(config.sensor, false);
    const uint32_t fastest = rules.maxFrameRate(regs);
    regs.define(GIGE_REG_FRAME_RATE, std::max(fastest / 10 * 10, SensorModel::kMinFrameRate));
    regs.define(GIGE_REG_EXPOSURE, 0);
    regs.set(GIGE_REG_EXPOSURE, std::min(1000u, rules.maxExposure(regs)));
}

void defineIo(RegisterFile& regs)
{
    for (uint32_t address :
         {GIGE_REG_SYNC_IN_RATE, GIGE_REG_IO_E8FC, GIGE_REG_SYNC_IN, GIGE_REG_IO_E90C, GIGE_REG_TRIGGER_IN_ENABLE,
          GIGE_REG_TRIGGER_IN_EDGE, GIGE_REG_IO_E954, GIGE_REG_IO_E958, GIGE_REG_IO_A03C, GIGE_REG_IO_C084}) {
        regs.define(address, 0);
    }
    regs.define(GIGE_REG_SYNC_OUT, 0x2);
    regs.define(GIGE_REG_IO_E95C, 0x10);
    regs.define(GIGE_REG_TRIGGER_OUT, kTriggerOut);
    regs.define(GIGE_REG_BATTERY_CHARGE, kBattery, Access::ReadOnly);
}

void defineStateAndProgress(RegisterFile& regs)
{
    regs.define(GIGE_REG_CAMERA_STATE, 1, Access::ReadOnly);
    regs.define(GIGE_REG_STATE_COMMAND, 1);
    regs.define(GIGE_REG_CONTROL_KEY, 0);
    // Hosts write 0 here before live; the camera decides which values it takes.
    regs.define(GIGE_REG_PARTITION_STATE, 0);
    for (uint32_t address :
         {GIGE_REG_PROGRESS_C008, GIGE_REG_PROGRESS_A050, GIGE_REG_PROGRESS_A054, GIGE_REG_PROGRESS_A058,
          GIGE_REG_PROGRESS_C08C, GIGE_REG_PROGRESS_C090, GIGE_REG_PROGRESS_C180, GIGE_REG_PB_C140}) {
        regs.define(address, 0, Access::ReadOnly);
    }
}

void definePlaybackAndDownload(RegisterFile& regs)
{
    for (uint32_t address :
         {GIGE_REG_PB_CONTROL, GIGE_REG_PB_B808, GIGE_REG_PB_B814, GIGE_REG_PB_B818, GIGE_REG_ACTIVE_FRAME_NUM,
          GIGE_REG_STREAM_CONTROL, GIGE_REG_STREAM_D318, GIGE_REG_STREAM_D518, GIGE_REG_DOWNLOAD_E918,
          GIGE_REG_DOWNLOAD_START, GIGE_REG_DOWNLOAD_END, GIGE_REG_DOWNLOAD_E930, GIGE_REG_DOWNLOAD_C2B4,
          GIGE_REG_DOWNLOAD_C2B8, GIGE_REG_WRITE_GATE}) {
        regs.define(address, 0);
    }
    for (uint32_t address : {GIGE_REG_PB_STATUS, GIGE_REG_CSI_RVW_FRAME_NUM, GIGE_REG_PB_LAST_FRAME}) {
        regs.define(address, 0, Access::ReadOnly);
    }
    regs.define(GIGE_REG_DOWNLOAD_E92C, 1);
    regs.define(GIGE_REG_DOWNLOAD_C294, 1);
    regs.define(GIGE_REG_DOWNLOAD_C0AC, 90);
}

void defineSecondFamily(RegisterFile& regs)
{
    regs.define(GIGE_REG_SAVE_STATE, kSaveIdle);
    regs.define(GIGE_REG_PROGRESS, 0, Access::ReadOnly);
    regs.define(GIGE_REG_MORVANE_C7D8, 0, Access::ReadOnly);
    regs.define(GIGE_REG_MORVANE_C308, 0, Access::ReadOnly);
    for (uint32_t address :
         {GIGE_REG_MEDIA_INFO_JSON, GIGE_REG_SAVE_REQUEST_JSON, GIGE_REG_TELEMETRY_JSON, GIGE_REG_LENS_INFO_JSON,
          GIGE_REG_LENS_STATUS_JSON, GIGE_REG_LENS_SETTINGS_JSON, GIGE_REG_SAVE_COMMENT}) {
        regs.define(address, 0);
    }
}

} // namespace

RegisterFile defaultRegisters(const CameraConfig& config)
{
    RegisterFile regs;
    defineBootstrap(regs);
    defineSensor(regs, config);
    defineCapture(regs, config);
    defineIo(regs);
    defineStateAndProgress(regs);
    definePlaybackAndDownload(regs);
    if (config.family() == CameraFamily::Morvane) {
        defineSecondFamily(regs);
    }
    return regs;
}

} // namespace hxsim
