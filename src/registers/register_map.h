// Register map: every camera register address, its name, and the register groups through which
// the first camera family caches them. Shared by the library and the stand-in camera.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace halvex::registers {

// Bootstrap memory texts (read with memory reads of up to 536 bytes).
inline constexpr uint32_t GIGE_REG_MANUFACTURER_NAME = 0x0048;
inline constexpr uint32_t GIGE_REG_MODEL_NAME = 0x0068;
inline constexpr uint32_t GIGE_REG_DEVICE_VERSION = 0x0088;
inline constexpr uint32_t GIGE_REG_MANUFACTURER_INFO = 0x00A8;
inline constexpr uint32_t GIGE_REG_SERIAL_NUMBER = 0x00D8;
inline constexpr uint32_t GIGE_REG_USER_DEFINED_NAME = 0x00E8;

// Bootstrap registers: heartbeat, control privilege, message and stream channels.
inline constexpr uint32_t GIGE_REG_HEARTBEAT_TIMEOUT = 0x0938;
inline constexpr uint32_t GIGE_REG_CCP = 0x0A00;
inline constexpr uint32_t GIGE_REG_MCP = 0x0B00;
inline constexpr uint32_t GIGE_REG_MCDA = 0x0B10;
inline constexpr uint32_t GIGE_REG_SCP0 = 0x0D00;
inline constexpr uint32_t GIGE_REG_SCPS0 = 0x0D04;
// Bits above the packet size in SCPS0: send one test packet of that size now; never fragment
// stream packets.
inline constexpr uint32_t SCPS0_FIRE_TEST_PACKET = 0x80000000;
inline constexpr uint32_t SCPS0_DO_NOT_FRAGMENT = 0x40000000;
// The packet size every Ethernet carries: the smallest a stream may ask for, and the size of a
// stream whose negotiation gave none.
inline constexpr uint32_t STANDARD_PACKET_SIZE = 1500;
// The jumbo packet size: the largest a stream may ask for.
inline constexpr uint32_t JUMBO_PACKET_SIZE = 9000;
inline constexpr uint32_t GIGE_REG_SCPD0 = 0x0D08;
inline constexpr uint32_t GIGE_REG_SCDA0 = 0x0D18;

// Camera-specific registers.
inline constexpr uint32_t GIGE_REG_SENSOR_WIDTH_MAX = 0xA020;
inline constexpr uint32_t GIGE_REG_SENSOR_HEIGHT_MAX = 0xA024;
inline constexpr uint32_t GIGE_REG_RECORD_END_SEGMENT = 0xA030;
inline constexpr uint32_t GIGE_REG_IO_A03C = 0xA03C;
inline constexpr uint32_t GIGE_REG_PROGRESS_A050 = 0xA050;
inline constexpr uint32_t GIGE_REG_PROGRESS_A054 = 0xA054;
inline constexpr uint32_t GIGE_REG_PROGRESS_A058 = 0xA058;
inline constexpr uint32_t GIGE_REG_PB_CONTROL = 0xB800;
inline constexpr uint32_t GIGE_REG_PB_STATUS = 0xB804;
inline constexpr uint32_t GIGE_REG_PB_B808 = 0xB808;
inline constexpr uint32_t GIGE_REG_PB_B814 = 0xB814;
inline constexpr uint32_t GIGE_REG_PB_B818 = 0xB818;
inline constexpr uint32_t GIGE_REG_CSI_RVW_FRAME_NUM = 0xB824;
inline constexpr uint32_t GIGE_REG_PROGRESS_C008 = 0xC008;
inline constexpr uint32_t GIGE_REG_IMAGE_MEM_END = 0xC010;
inline constexpr uint32_t GIGE_REG_IMAGE_MEM_RESERVE = 0xC014;
inline constexpr uint32_t GIGE_REG_IMAGE_MEM_LIMIT = 0xC018;
inline constexpr uint32_t GIGE_REG_IMAGE_MEM_BASE = 0xC01C;
inline constexpr uint32_t GIGE_REG_PIXEL_FORMAT = 0xC020;
inline constexpr uint32_t GIGE_REG_FPN_MODE = 0xC028;
inline constexpr uint32_t GIGE_REG_LOW_LIGHT_ENABLE = 0xC04C;
inline constexpr uint32_t GIGE_REG_LOW_LIGHT_EXPOSURE = 0xC050;
inline constexpr uint32_t GIGE_REG_SENSOR_WIDTH_MIN = 0xC054;
inline constexpr uint32_t GIGE_REG_SENSOR_HEIGHT_MIN = 0xC058;
inline constexpr uint32_t GIGE_REG_CONTROL_KEY = 0xC060;
inline constexpr uint32_t GIGE_REG_SENSOR_TYPE = 0xC064;
inline constexpr uint32_t GIGE_REG_TRIGGER_POSITION = 0xC080;
inline constexpr uint32_t GIGE_REG_IO_C084 = 0xC084;
inline constexpr uint32_t GIGE_REG_SYNC_IN_RATE = 0xC088;
inline constexpr uint32_t GIGE_REG_PROGRESS_C08C = 0xC08C;
inline constexpr uint32_t GIGE_REG_PROGRESS_C090 = 0xC090;
inline constexpr uint32_t GIGE_REG_BATTERY_CHARGE = 0xC098;
inline constexpr uint32_t GIGE_REG_BROC_LENGTH = 0xC09C;
inline constexpr uint32_t GIGE_REG_DOWNLOAD_C0AC = 0xC0AC;
inline constexpr uint32_t GIGE_REG_MEDIA_INFO_JSON = 0xC0B0;
inline constexpr uint32_t GIGE_REG_SAVE_REQUEST_JSON = 0xC0BC;
inline constexpr uint32_t GIGE_REG_TELEMETRY_JSON = 0xC0C0;
inline constexpr uint32_t GIGE_REG_LENS_INFO_JSON = 0xC0C8;
inline constexpr uint32_t GIGE_REG_LENS_STATUS_JSON = 0xC0CC;
inline constexpr uint32_t GIGE_REG_LENS_SETTINGS_JSON = 0xC0D0;
inline constexpr uint32_t GIGE_REG_EXPOSURE_OVERHEAD = 0xC0F0;
inline constexpr uint32_t GIGE_REG_PB_LAST_FRAME = 0xC0F8;
inline constexpr uint32_t GIGE_REG_PARTITION_STATE = 0xC100;
inline constexpr uint32_t GIGE_REG_PB_C140 = 0xC140;
inline constexpr uint32_t GIGE_REG_PROGRESS_C180 = 0xC180;
inline constexpr uint32_t GIGE_REG_SETTINGS_BATCH = 0xC24C;
inline constexpr uint32_t GIGE_REG_DOWNLOAD_C294 = 0xC294;
inline constexpr uint32_t GIGE_REG_SAVE_STATE = 0xC298;
inline constexpr uint32_t GIGE_REG_DOWNLOAD_C2B4 = 0xC2B4;
inline constexpr uint32_t GIGE_REG_DOWNLOAD_C2B8 = 0xC2B8;
inline constexpr uint32_t GIGE_REG_SAVE_COMMENT = 0xC2BC;
inline constexpr uint32_t GIGE_REG_ACTIVE_FRAME_NUM = 0xC304;
inline constexpr uint32_t GIGE_REG_MORVANE_C308 = 0xC308;
inline constexpr uint32_t GIGE_REG_WRITE_GATE = 0xC58C;
inline constexpr uint32_t GIGE_REG_RECORD_MODE = 0xC7B0;
inline constexpr uint32_t GIGE_REG_IMAGE_MEM_PAGES = 0xC7B4;
inline constexpr uint32_t GIGE_REG_PROGRESS = 0xC7D0;
inline constexpr uint32_t GIGE_REG_MORVANE_C7D8 = 0xC7D8;
inline constexpr uint32_t GIGE_REG_ROI_WIDTH = 0xD300;
inline constexpr uint32_t GIGE_REG_ROI_HEIGHT = 0xD304;
inline constexpr uint32_t GIGE_REG_STATE_COMMAND = 0xD310;
inline constexpr uint32_t GIGE_REG_STREAM_CONTROL = 0xD314;
// What the stream control register asks of the camera: which stream it sends (none, live, a
// playback played or shown frame by frame, a download), and of a running stream when a receiver
// throttles it.
inline constexpr uint32_t STREAM_CONTROL_STOP = 0;
inline constexpr uint32_t STREAM_CONTROL_LIVE = 1;
inline constexpr uint32_t STREAM_CONTROL_PLAY = 2;
inline constexpr uint32_t STREAM_CONTROL_DOWNLOAD = 3;
inline constexpr uint32_t STREAM_CONTROL_SHOW = 4;
inline constexpr uint32_t STREAM_CONTROL_PAUSE = 16;
inline constexpr uint32_t STREAM_CONTROL_RESUME = 32;
inline constexpr uint32_t GIGE_REG_STREAM_D318 = 0xD318;
inline constexpr uint32_t GIGE_REG_STREAM_D518 = 0xD518;
inline constexpr uint32_t GIGE_REG_ROI_X_OFFSET = 0xE81C;
inline constexpr uint32_t GIGE_REG_ROI_Y_OFFSET = 0xE820;
inline constexpr uint32_t GIGE_REG_FRAME_RATE = 0xE824;
inline constexpr uint32_t GIGE_REG_EXPOSURE = 0xE82C;
inline constexpr uint32_t GIGE_REG_FRAME_RATE_LIMIT = 0xE830;
inline constexpr uint32_t GIGE_REG_CAPTURE_E838 = 0xE838;
inline constexpr uint32_t GIGE_REG_EXPOSURE_MIN = 0xE83C;
inline constexpr uint32_t GIGE_REG_ANALOG_GAIN = 0xE844;
inline constexpr uint32_t GIGE_REG_BNS_MODE = 0xE84C;
inline constexpr uint32_t GIGE_REG_CAMERA_STATE = 0xE854;
inline constexpr uint32_t GIGE_REG_IO_E8FC = 0xE8FC;
inline constexpr uint32_t GIGE_REG_SYNC_IN = 0xE900;
inline constexpr uint32_t GIGE_REG_SYNC_OUT = 0xE904;
inline constexpr uint32_t GIGE_REG_IO_E90C = 0xE90C;
inline constexpr uint32_t GIGE_REG_TRIGGER_IN_ENABLE = 0xE910;
inline constexpr uint32_t GIGE_REG_TRIGGER_IN_EDGE = 0xE914;
inline constexpr uint32_t GIGE_REG_DOWNLOAD_E918 = 0xE918;
inline constexpr uint32_t GIGE_REG_DOWNLOAD_START = 0xE924;
inline constexpr uint32_t GIGE_REG_DOWNLOAD_END = 0xE928;
inline constexpr uint32_t GIGE_REG_DOWNLOAD_E92C = 0xE92C;
inline constexpr uint32_t GIGE_REG_DOWNLOAD_E930 = 0xE930;
inline constexpr uint32_t GIGE_REG_IO_E954 = 0xE954;
inline constexpr uint32_t GIGE_REG_IO_E958 = 0xE958;
inline constexpr uint32_t GIGE_REG_IO_E95C = 0xE95C;
inline constexpr uint32_t GIGE_REG_TRIGGER_OUT = 0xE960;

// The register groups of the first camera family; each caches one public record.
enum class RegisterGroup { Capture, Download, IO, Lens, Playback, Progress, Sensor, State, Stream, Text };

struct RegisterInfo {
    uint32_t address;
    std::string_view name;
};

// Every named register and memory text, in ascending address order.
std::span<const RegisterInfo> allRegisters();

// The name of a register ("GIGE_REG_SENSOR_WIDTH_MAX"); empty for an address the map lacks.
std::string_view registerName(uint32_t address);

// The addresses a group holds at construction, in table order. The family appends its own
// lists (the stream session's to Download, the sensor object's to Sensor). Text holds the
// memory addresses of the bootstrap texts; Lens is empty.
std::span<const uint32_t> groupRegisters(RegisterGroup group);

// "capture", "download", ... for log lines.
std::string_view groupName(RegisterGroup group);

} // namespace halvex::registers
