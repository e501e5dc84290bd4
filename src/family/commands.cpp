// Family commands, camera state and in-camera playback: the state commands' writes, the state
// record, and the writes and records of playback forward, reverse, paused and frame by frame.
#include "family/commands.h"

#include <hlv_thread/log.h>
#include <hlv_thread/log_label.h>
#include <hlv_thread/note.h>

#include "family/merge.h"
#include "records/field_flags.h"
#include "registers/register_map.h"

namespace halvex::family {

using wire::RegisterPair;
using wire::RegisterPairs;

using namespace registers;
using records::flagSet;
using namespace commands;
using merge::mergeGroup;

namespace {

constexpr uint32_t REVERSE_BIT = 1u << 31;
constexpr uint32_t INTERVAL_MASK = 0xFFF;
constexpr uint32_t REVIEW_FRAME_VALID = 1u << 0;
// What the camera is given when playback starts: its frame pace and the download format it
// streams played frames in.
constexpr uint32_t PLAY_PACE = 25;
constexpr uint32_t PLAY_B808 = 50;
constexpr uint32_t PLAY_FORMAT = 1;
constexpr uint32_t CONTROL_KEY_A = 0xAAAA;
constexpr uint32_t CONTROL_KEY_B = 0x5555;
void appendCuts(const HX_PLAYBACK_SETTINGS& record, RegisterPairs& writes)
{
    if (flagSet(record.cut_in_flags))
        writes.push_back({GIGE_REG_PB_B814, record.cut_in});
    if (flagSet(record.cut_out_flags))
        writes.push_back({GIGE_REG_PB_B818, record.cut_out});
}
} // namespace

namespace commands {

HLV_LOG_NAMESPACE(FAMILY_COMMANDS);

std::optional<RegisterPair> commandWrite(uint32_t code)
{
    switch (code) {
    case HX_CMD_ARM: return RegisterPair{GIGE_REG_STATE_COMMAND, STATE_ARM};
    case HX_CMD_TRIGGER: return RegisterPair{GIGE_REG_STATE_COMMAND, STATE_TRIGGER};
    case HX_CMD_KEY_A: return RegisterPair{GIGE_REG_CONTROL_KEY, CONTROL_KEY_A};
    case HX_CMD_KEY_B: return RegisterPair{GIGE_REG_CONTROL_KEY, CONTROL_KEY_B};
    case HX_CMD_BUSY: return RegisterPair{GIGE_REG_STATE_COMMAND, STATE_BUSY};
    default: return std::nullopt;
    }
}

bool isCommand(uint32_t code)
{
    return code == HX_CMD_LIVE || commandWrite(code).has_value();
}

uint32_t stateFromRegister(uint32_t value)
{
    switch (value) {
    case STATE_ARM:
    case STATE_TRIGGER:
    case STATE_REVIEW:
    case STATE_BUSY: return value;
    default: return STATE_IDLE;
    }
}

uint32_t commandCapabilities(uint32_t value)
{
    switch (value) {
    case 0:
    case STATE_IDLE: return HX_CMD_LIVE | HX_CMD_ARM;
    case STATE_ARM: return HX_CMD_LIVE | HX_CMD_TRIGGER;
    case STATE_TRIGGER: return 0;
    default: return HX_CMD_LIVE;
    }
}

void computeCommand(uint32_t cameraState, HX_COMMAND& cached)
{
    cached.code = stateFromRegister(cameraState);
    cached.code_caps = commandCapabilities(cameraState);
}

void mergeCommand(const HX_COMMAND& cached, HX_COMMAND& caller)
{
    using R = HX_COMMAND;
    mergeGroup(cached, caller, {&R::code, &R::code_caps}, {&R::code_flags, &R::flags});
    mergeGroup(cached, caller, {&R::shutdown_request}, {&R::flags});
}

uint32_t playbackMode(uint32_t playbackControl)
{
    if ((playbackControl & 0x1) == 0)
        return HX_PLAY_PAUSE;
    return (playbackControl & 0x2) != 0 ? HX_PLAY_REVERSE : HX_PLAY_FORWARD;
}

uint32_t statusPlaybackMode(uint32_t playbackStatus, uint32_t playbackControl)
{
    const bool busy = (playbackStatus & 0x1) != 0;
    const bool single = (playbackStatus & 0x2) != 0;
    if (!busy || single)
        return HX_PLAY_PAUSE;
    return (playbackControl & 0x2) != 0 ? HX_PLAY_REVERSE : HX_PLAY_FORWARD;
}

uint32_t playbackInterval(uint32_t playbackControl)
{
    return (playbackControl >> 16) & INTERVAL_MASK;
}

uint32_t playbackFrame(const RegisterCache& playback, const std::string& cameraName)
{
    const uint32_t status = cachedValue(playback, GIGE_REG_PB_STATUS);
    HLV_TRACE(
        thread::TRACE_OPERATIONS,
        "%s(%s): GIGE_REG_PB_STATUS: 0x%08x, GIGE_REG_CSI_RVW_FRAME_NUM: 0x%08x, GIGE_REG_ACTIVE_FRAME_NUM: 0x%08x, "
        "GIGE_REG_PB_LAST_FRAME: 0x%08x",
        HLV_LABEL("getPlaybackFrame"), cameraName.c_str(), status, cachedValue(playback, GIGE_REG_CSI_RVW_FRAME_NUM),
        cachedValue(playback, GIGE_REG_ACTIVE_FRAME_NUM), cachedValue(playback, GIGE_REG_PB_LAST_FRAME));
    return (status & REVIEW_FRAME_VALID) != 0 ? cachedValue(playback, GIGE_REG_CSI_RVW_FRAME_NUM)
                                              : cachedValue(playback, GIGE_REG_ACTIVE_FRAME_NUM);
}

void computePlayback(RegisterCache& playback, const std::string& cameraName, HX_PLAYBACK_SETTINGS& cached,
                     PlaybackModeSource modeSource)
{
    if (playback[GIGE_REG_CAMERA_STATE] != STATE_REVIEW) {
        cached.mode = HX_PLAY_PAUSE;
        cached.mode_caps = 0;
        cached.current_frame = 0;
        return;
    }
    // A recording of n frames plays frames 0 to n - 1; none recorded leaves every limit at 0.
    const uint32_t frames = playback[GIGE_REG_PB_C140];
    const uint32_t lastFrame = frames > 0 ? frames - 1 : 0;
    const uint32_t control = playback[GIGE_REG_PB_CONTROL];
    HLV_TRACE(thread::TRACE_OPERATIONS, "%s(%s): GIGE_REG_PB_CONTROL=0x%08x", HLV_LABEL("getPlaybackMode"),
              cameraName.c_str(), control);
    if (modeSource == PlaybackModeSource::Status) {
        const uint32_t status = playback[GIGE_REG_PB_STATUS];
        HLV_TRACE(thread::TRACE_OPERATIONS, "%s(%s): GIGE_REG_STREAM_CONTROL=0x%08x, GIGE_REG_PB_CONTROL=0x%08x",
                  HLV_LABEL("getPlaybackMode"), cameraName.c_str(), cachedValue(playback, GIGE_REG_STREAM_CONTROL),
                  control);
        cached.mode = statusPlaybackMode(status, control);
    } else {
        cached.mode = playbackMode(control);
    }
    cached.mode_caps = HX_PLAY_FORWARD | HX_PLAY_REVERSE | HX_PLAY_PAUSE;
    const uint32_t frame = playbackFrame(playback, cameraName);
    cached.current_frame = frame > lastFrame ? playback[GIGE_REG_PROGRESS_C180] : frame;
    cached.current_frame_max = lastFrame;
    cached.cut_in = playback[GIGE_REG_PB_B814];
    cached.cut_in_max = frames > 1 ? frames - 2 : 0;
    cached.cut_out = playback[GIGE_REG_PB_B818];
    cached.cut_out_max = lastFrame;
    cached.interval = playbackInterval(control);
    cached.trigger = playback[GIGE_REG_PROGRESS_C180];
}

void mergePlayback(const HX_PLAYBACK_SETTINGS& cached, HX_PLAYBACK_SETTINGS& caller)
{
    using R = HX_PLAYBACK_SETTINGS;
    mergeGroup(cached, caller, {&R::mode, &R::mode_caps}, {&R::mode_flags, &R::flags});
    mergeGroup(cached, caller, {&R::interval}, {&R::interval_flags, &R::flags});
    mergeGroup(cached, caller, {&R::cut_in, &R::cut_in_max}, {&R::cut_in_flags, &R::flags});
    mergeGroup(cached, caller, {&R::cut_out, &R::cut_out_max}, {&R::cut_out_flags, &R::flags});
    mergeGroup(cached, caller, {&R::current_frame, &R::current_frame_max}, {&R::current_frame_flags, &R::flags});
    mergeGroup(cached, caller, {&R::trigger}, {&R::trigger_flags, &R::flags});
}

RegisterPairs playWrites(const HX_PLAYBACK_SETTINGS& record, bool reverse)
{
    RegisterPairs writes{{GIGE_REG_DOWNLOAD_E930, PLAY_PACE},
                         {GIGE_REG_PB_B808, PLAY_B808},
                         {GIGE_REG_DOWNLOAD_START, record.cut_in},
                         {GIGE_REG_DOWNLOAD_END, record.cut_out},
                         {GIGE_REG_DOWNLOAD_E918, record.current_frame}};
    appendCuts(record, writes);
    writes.push_back({GIGE_REG_DOWNLOAD_C294, PLAY_FORMAT});
    const uint32_t interval = record.interval & INTERVAL_MASK;
    writes.push_back({GIGE_REG_DOWNLOAD_E92C, reverse ? interval | REVERSE_BIT : interval});
    writes.push_back({GIGE_REG_STREAM_CONTROL, registers::STREAM_CONTROL_PLAY});
    return writes;
}

RegisterPairs stepWrites(const HX_PLAYBACK_SETTINGS& record, uint32_t frame)
{
    RegisterPairs writes{{GIGE_REG_DOWNLOAD_E930, 0},
                         {GIGE_REG_DOWNLOAD_START, frame},
                         {GIGE_REG_DOWNLOAD_END, frame},
                         {GIGE_REG_DOWNLOAD_E918, frame}};
    appendCuts(record, writes);
    writes.push_back({GIGE_REG_DOWNLOAD_E92C, record.interval & INTERVAL_MASK});
    writes.push_back({GIGE_REG_DOWNLOAD_C294, PLAY_FORMAT});
    writes.push_back({GIGE_REG_STREAM_CONTROL, registers::STREAM_CONTROL_SHOW});
    return writes;
}

RegisterPairs stopWrites(const HX_PLAYBACK_SETTINGS& record)
{
    return {{GIGE_REG_PB_CONTROL, (record.interval & INTERVAL_MASK) << 16},
            {GIGE_REG_STREAM_CONTROL, registers::STREAM_CONTROL_STOP}};
}
} // namespace commands

} // namespace halvex::family

// --- Commands and camera state ----------------------------------------------------------------

// --- Playback ---------------------------------------------------------------------------------
