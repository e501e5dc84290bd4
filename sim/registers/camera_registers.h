// The stand-in camera's register addresses as the camera itself knows them: the bootstrap texts
// and registers every camera of this kind has, and its own registers. Written from the camera's
// side of the protocol and kept apart from the library's map, so that a wrong address on either
// side is a disagreement a test sees rather than one both sides share.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

// HXSIM_CAMERA_REGISTERS(X) expands X(name, address) once per register, in ascending address
// order; the constants and the name table below are both made from it, so they cannot drift apart.
// clang-format off
#define HXSIM_CAMERA_REGISTERS(X) \
    /* Bootstrap memory texts, read with memory reads. */ \
    X(GIGE_REG_MANUFACTURER_NAME, 0x0048) \
    X(GIGE_REG_MODEL_NAME, 0x0068) \
    X(GIGE_REG_DEVICE_VERSION, 0x0088) \
    X(GIGE_REG_MANUFACTURER_INFO, 0x00A8) \
    X(GIGE_REG_SERIAL_NUMBER, 0x00D8) \
    X(GIGE_REG_USER_DEFINED_NAME, 0x00E8) \
    /* Bootstrap registers: heartbeat, control privilege, message and stream channels. */ \
    X(GIGE_REG_HEARTBEAT_TIMEOUT, 0x0938) \
    X(GIGE_REG_CCP, 0x0A00) \
    X(GIGE_REG_MCP, 0x0B00) \
    X(GIGE_REG_MCDA, 0x0B10) \
    X(GIGE_REG_SCP0, 0x0D00) \
    X(GIGE_REG_SCPS0, 0x0D04) \
    X(GIGE_REG_SCPD0, 0x0D08) \
    X(GIGE_REG_SCDA0, 0x0D18) \
    /* The camera's own registers, both families. */ \
    X(GIGE_REG_SENSOR_WIDTH_MAX, 0xA020) \
    X(GIGE_REG_SENSOR_HEIGHT_MAX, 0xA024) \
    X(GIGE_REG_RECORD_END_SEGMENT, 0xA030) \
    X(GIGE_REG_IO_A03C, 0xA03C) \
    X(GIGE_REG_PROGRESS_A050, 0xA050) \
    X(GIGE_REG_PROGRESS_A054, 0xA054) \
    X(GIGE_REG_PROGRESS_A058, 0xA058) \
    X(GIGE_REG_PB_CONTROL, 0xB800) \
    X(GIGE_REG_PB_STATUS, 0xB804) \
    X(GIGE_REG_PB_B808, 0xB808) \
    X(GIGE_REG_PB_B814, 0xB814) \
    X(GIGE_REG_PB_B818, 0xB818) \
    X(GIGE_REG_CSI_RVW_FRAME_NUM, 0xB824) \
    X(GIGE_REG_PROGRESS_C008, 0xC008) \
    X(GIGE_REG_IMAGE_MEM_END, 0xC010) \
    X(GIGE_REG_IMAGE_MEM_RESERVE, 0xC014) \
    X(GIGE_REG_IMAGE_MEM_LIMIT, 0xC018) \
    X(GIGE_REG_IMAGE_MEM_BASE, 0xC01C) \
    X(GIGE_REG_PIXEL_FORMAT, 0xC020) \
    X(GIGE_REG_FPN_MODE, 0xC028) \
    X(GIGE_REG_LOW_LIGHT_ENABLE, 0xC04C) \
    X(GIGE_REG_LOW_LIGHT_EXPOSURE, 0xC050) \
    X(GIGE_REG_SENSOR_WIDTH_MIN, 0xC054) \
    X(GIGE_REG_SENSOR_HEIGHT_MIN, 0xC058) \
    X(GIGE_REG_CONTROL_KEY, 0xC060) \
    X(GIGE_REG_SENSOR_TYPE, 0xC064) \
    X(GIGE_REG_TRIGGER_POSITION, 0xC080) \
    X(GIGE_REG_IO_C084, 0xC084) \
    X(GIGE_REG_SYNC_IN_RATE, 0xC088) \
    X(GIGE_REG_PROGRESS_C08C, 0xC08C) \
    X(GIGE_REG_PROGRESS_C090, 0xC090) \
    X(GIGE_REG_BATTERY_CHARGE, 0xC098) \
    X(GIGE_REG_BROC_LENGTH, 0xC09C) \
    X(GIGE_REG_DOWNLOAD_C0AC, 0xC0AC) \
    X(GIGE_REG_MEDIA_INFO_JSON, 0xC0B0) \
    X(GIGE_REG_SAVE_REQUEST_JSON, 0xC0BC) \
    X(GIGE_REG_TELEMETRY_JSON, 0xC0C0) \
    X(GIGE_REG_LENS_INFO_JSON, 0xC0C8) \
    X(GIGE_REG_LENS_STATUS_JSON, 0xC0CC) \
    X(GIGE_REG_LENS_SETTINGS_JSON, 0xC0D0) \
    X(GIGE_REG_EXPOSURE_OVERHEAD, 0xC0F0) \
    X(GIGE_REG_PB_LAST_FRAME, 0xC0F8) \
    X(GIGE_REG_PARTITION_STATE, 0xC100) \
    X(GIGE_REG_PB_C140, 0xC140) \
    X(GIGE_REG_PROGRESS_C180, 0xC180) \
    X(GIGE_REG_SETTINGS_BATCH, 0xC24C) \
    X(GIGE_REG_DOWNLOAD_C294, 0xC294) \
    X(GIGE_REG_SAVE_STATE, 0xC298) \
    X(GIGE_REG_DOWNLOAD_C2B4, 0xC2B4) \
    X(GIGE_REG_DOWNLOAD_C2B8, 0xC2B8) \
    X(GIGE_REG_SAVE_COMMENT, 0xC2BC) \
    X(GIGE_REG_ACTIVE_FRAME_NUM, 0xC304) \
    X(GIGE_REG_MORVANE_C308, 0xC308) \
    X(GIGE_REG_WRITE_GATE, 0xC58C) \
    X(GIGE_REG_RECORD_MODE, 0xC7B0) \
    X(GIGE_REG_IMAGE_MEM_PAGES, 0xC7B4) \
    X(GIGE_REG_PROGRESS, 0xC7D0) \
    X(GIGE_REG_MORVANE_C7D8, 0xC7D8) \
    X(GIGE_REG_ROI_WIDTH, 0xD300) \
    X(GIGE_REG_ROI_HEIGHT, 0xD304) \
    X(GIGE_REG_STATE_COMMAND, 0xD310) \
    X(GIGE_REG_STREAM_CONTROL, 0xD314) \
    X(GIGE_REG_STREAM_D318, 0xD318) \
    X(GIGE_REG_STREAM_D518, 0xD518) \
    X(GIGE_REG_ROI_X_OFFSET, 0xE81C) \
    X(GIGE_REG_ROI_Y_OFFSET, 0xE820) \
    X(GIGE_REG_FRAME_RATE, 0xE824) \
    X(GIGE_REG_EXPOSURE, 0xE82C) \
    X(GIGE_REG_FRAME_RATE_LIMIT, 0xE830) \
    X(GIGE_REG_CAPTURE_E838, 0xE838) \
    X(GIGE_REG_EXPOSURE_MIN, 0xE83C) \
    X(GIGE_REG_ANALOG_GAIN, 0xE844) \
    X(GIGE_REG_BNS_MODE, 0xE84C) \
    X(GIGE_REG_CAMERA_STATE, 0xE854) \
    X(GIGE_REG_IO_E8FC, 0xE8FC) \
    X(GIGE_REG_SYNC_IN, 0xE900) \
    X(GIGE_REG_SYNC_OUT, 0xE904) \
    X(GIGE_REG_IO_E90C, 0xE90C) \
    X(GIGE_REG_TRIGGER_IN_ENABLE, 0xE910) \
    X(GIGE_REG_TRIGGER_IN_EDGE, 0xE914) \
    X(GIGE_REG_DOWNLOAD_E918, 0xE918) \
    X(GIGE_REG_DOWNLOAD_START, 0xE924) \
    X(GIGE_REG_DOWNLOAD_END, 0xE928) \
    X(GIGE_REG_DOWNLOAD_E92C, 0xE92C) \
    X(GIGE_REG_DOWNLOAD_E930, 0xE930) \
    X(GIGE_REG_IO_E954, 0xE954) \
    X(GIGE_REG_IO_E958, 0xE958) \
    X(GIGE_REG_IO_E95C, 0xE95C) \
    X(GIGE_REG_TRIGGER_OUT, 0xE960)
// clang-format on

namespace halvex::sim {

#define HXSIM_DEFINE_REGISTER(name, address) inline constexpr uint32_t name = address;
HXSIM_CAMERA_REGISTERS(HXSIM_DEFINE_REGISTER)
#undef HXSIM_DEFINE_REGISTER

struct NamedRegister {
    uint32_t address;
    std::string_view name;
};

// Every register and memory text the camera names, in ascending address order.
std::span<const NamedRegister> cameraRegisters();

// The camera's name for an address ("GIGE_REG_CAMERA_STATE"), for its log lines; empty for an
// address it does not name.
std::string_view registerName(uint32_t address);

} // namespace halvex::sim
