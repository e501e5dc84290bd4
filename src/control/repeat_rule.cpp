// The register map's settings registers, as the control channel's retransmission sees them.
#include "control/repeat_rule.h"

#include <algorithm>
#include <array>

#include "registers/register_map.h"

namespace halvex::control {

namespace {

namespace regs = registers;

// Registers whose write stores a value and starts nothing.
constexpr std::array SETTINGS_REGISTERS{
    regs::GIGE_REG_HEARTBEAT_TIMEOUT,
    regs::GIGE_REG_MCP,
    regs::GIGE_REG_MCDA,
    regs::GIGE_REG_SCPD0,
    regs::GIGE_REG_SCDA0,
    regs::GIGE_REG_SCP0,
    regs::GIGE_REG_RECORD_END_SEGMENT,
    regs::GIGE_REG_IO_A03C,
    regs::GIGE_REG_PIXEL_FORMAT,
    regs::GIGE_REG_FPN_MODE,
    regs::GIGE_REG_LOW_LIGHT_ENABLE,
    regs::GIGE_REG_LOW_LIGHT_EXPOSURE,
    regs::GIGE_REG_TRIGGER_POSITION,
    regs::GIGE_REG_IO_C084,
    regs::GIGE_REG_SYNC_IN_RATE,
    regs::GIGE_REG_BROC_LENGTH,
    regs::GIGE_REG_RECORD_MODE,
    regs::GIGE_REG_ROI_WIDTH,
    regs::GIGE_REG_ROI_HEIGHT,
    regs::GIGE_REG_ROI_X_OFFSET,
    regs::GIGE_REG_ROI_Y_OFFSET,
    regs::GIGE_REG_FRAME_RATE,
    regs::GIGE_REG_EXPOSURE,
    regs::GIGE_REG_CAPTURE_E838,
    regs::GIGE_REG_ANALOG_GAIN,
    regs::GIGE_REG_BNS_MODE,
    regs::GIGE_REG_IO_E8FC,
    regs::GIGE_REG_SYNC_IN,
    regs::GIGE_REG_SYNC_OUT,
    regs::GIGE_REG_IO_E90C,
    regs::GIGE_REG_TRIGGER_IN_ENABLE,
    regs::GIGE_REG_TRIGGER_IN_EDGE,
    regs::GIGE_REG_DOWNLOAD_START,
    regs::GIGE_REG_DOWNLOAD_END,
    regs::GIGE_REG_DOWNLOAD_E92C,
    regs::GIGE_REG_DOWNLOAD_E930,
    regs::GIGE_REG_IO_E954,
    regs::GIGE_REG_IO_E958,
    regs::GIGE_REG_IO_E95C,
    regs::GIGE_REG_TRIGGER_OUT,
    regs::GIGE_REG_DOWNLOAD_E918,
    regs::GIGE_REG_DOWNLOAD_C294,
    regs::GIGE_REG_DOWNLOAD_C0AC,
    regs::GIGE_REG_DOWNLOAD_C2B4,
    regs::GIGE_REG_DOWNLOAD_C2B8,
    regs::GIGE_REG_PB_B808,
    regs::GIGE_REG_PB_B814,
    regs::GIGE_REG_PB_B818,
    // The bracket around a batch of capture writes: a batch sent again applies the same values.
    regs::GIGE_REG_SETTINGS_BATCH,
};

// Documents read piece by piece from one address.
constexpr std::array DOCUMENTS{regs::GIGE_REG_MEDIA_INFO_JSON,  regs::GIGE_REG_SAVE_REQUEST_JSON,
                               regs::GIGE_REG_TELEMETRY_JSON,   regs::GIGE_REG_LENS_INFO_JSON,
                               regs::GIGE_REG_LENS_STATUS_JSON, regs::GIGE_REG_LENS_SETTINGS_JSON,
                               regs::GIGE_REG_SAVE_COMMENT};

template <typename List>
bool listed(const List& list, uint32_t address)
{
    return std::find(list.begin(), list.end(), address) != list.end();
}

} // namespace

bool repeatableWrite(uint32_t address, uint32_t value)
{
    if (address == regs::GIGE_REG_STREAM_CONTROL)
        return value == regs::STREAM_CONTROL_PAUSE || value == regs::STREAM_CONTROL_RESUME;
    // A packet size is a setting; with the trial bit it fires a test packet.
    if (address == regs::GIGE_REG_SCPS0)
        return (value & regs::SCPS0_FIRE_TEST_PACKET) == 0;
    return listed(SETTINGS_REGISTERS, address);
}

bool repeatableWrite(std::span<const wire::RegisterPair> pairs)
{
    return std::all_of(pairs.begin(), pairs.end(),
                       [](const wire::RegisterPair& pair) { return repeatableWrite(pair.address, pair.value); });
}

bool repeatableMemoryRead(uint32_t start)
{
    return !listed(DOCUMENTS, start);
}

} // namespace halvex::control
