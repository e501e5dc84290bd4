// Family commands, camera state and in-camera playback: arm, trigger and the other state
// commands, the state record, and playback forward, reverse, paused and frame by frame.
#include "family/commands.h"

#include <chrono>
#include <thread>

#include <hlv_thread/log.h>
#include <hlv_thread/note.h>
#include <hlv_thread/period_scale.h>

#include "family/family_operations.h"
#include "family/merge.h"
#include "family/notifications.h"
#include "family/streaming.h"
#include "records/field_flags.h"
#include "registers/register_map.h"
#include "stream/hx_stream_operations.h"

using namespace HX_REGISTERS;
using HX_RECORDS::flagSet;
using namespace FAMILY_COMMANDS;
using FAMILY_MERGE::mergeGroup;

namespace {

constexpr uint32_t REVERSE_BIT = 1u << 31;
constexpr uint32_t INTERVAL_MASK = 0xFFF;
constexpr uint32_t REVIEW_FRAME_VALID = 1u << 0;
// What the camera is given when playback starts: its frame pace and the download format it
// streams played frames in.
constexpr uint32_t PLAY_PACE = 25;
constexpr uint32_t PLAY_B808 = 50;
constexpr uint32_t PLAY_FORMAT = 1;
constexpr uint32_t PLAY_PACKET_DELAY = 100;
constexpr uint32_t CONTROL_KEY_A = 0xAAAA;
constexpr uint32_t CONTROL_KEY_B = 0x5555;
// Playback writes and their confirmation are retried; a frame step waits for a running stream to stop.
constexpr int PLAYBACK_ATTEMPTS = 5;
constexpr uint32_t PLAYBACK_RETRY_MILLISECONDS = 500;
constexpr uint32_t STOP_WAIT_MILLISECONDS = 100;

void pause(uint32_t milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(HLV_THREAD::scaledMilliseconds(milliseconds)));
}

void appendCuts(const HX_PLAYBACK_SETTINGS& record, RegisterPairs& writes)
{
    if (flagSet(record.cut_in_flags))
        writes.push_back({GIGE_REG_PB_B814, record.cut_in});
    if (flagSet(record.cut_out_flags))
        writes.push_back({GIGE_REG_PB_B818, record.cut_out});
}

void clearPlaybackOutcome(HX_PLAYBACK_SETTINGS& record)
{
    using R = HX_PLAYBACK_SETTINGS;
    FAMILY_MERGE::clearOutcome(record, {&R::flags, &R::mode_flags, &R::current_frame_flags, &R::cut_in_flags,
                                        &R::cut_out_flags, &R::interval_flags, &R::trigger_flags});
}

} // namespace

namespace FAMILY_COMMANDS {

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
        HLV_THREAD::TRACE_OPERATIONS,
        "%s(%s): GIGE_REG_PB_STATUS: 0x%08x, GIGE_REG_CSI_RVW_FRAME_NUM: 0x%08x, GIGE_REG_ACTIVE_FRAME_NUM: 0x%08x, "
        "GIGE_REG_PB_LAST_FRAME: 0x%08x",
        "TarrowOperations::getPlaybackFrame", cameraName.c_str(), status,
        cachedValue(playback, GIGE_REG_CSI_RVW_FRAME_NUM), cachedValue(playback, GIGE_REG_ACTIVE_FRAME_NUM),
        cachedValue(playback, GIGE_REG_PB_LAST_FRAME));
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
    HLV_TRACE(HLV_THREAD::TRACE_OPERATIONS, "%s(%s): GIGE_REG_PB_CONTROL=0x%08x", "TarrowOperations::getPlaybackMode",
              cameraName.c_str(), control);
    if (modeSource == PlaybackModeSource::Status) {
        const uint32_t status = playback[GIGE_REG_PB_STATUS];
        HLV_TRACE(HLV_THREAD::TRACE_OPERATIONS, "%s(%s): GIGE_REG_STREAM_CONTROL=0x%08x, GIGE_REG_PB_CONTROL=0x%08x",
                  "MorvaneOperations::getPlaybackMode", cameraName.c_str(),
                  cachedValue(playback, GIGE_REG_STREAM_CONTROL), control);
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
    writes.push_back({GIGE_REG_STREAM_CONTROL, STREAM_PLAY});
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
    writes.push_back({GIGE_REG_STREAM_CONTROL, STREAM_SHOW});
    return writes;
}

RegisterPairs stopWrites(const HX_PLAYBACK_SETTINGS& record)
{
    return {{GIGE_REG_PB_CONTROL, (record.interval & INTERVAL_MASK) << 16}, {GIGE_REG_STREAM_CONTROL, STREAM_STOP}};
}

} // namespace FAMILY_COMMANDS

// --- Commands and camera state ----------------------------------------------------------------

void FamilyOperations::computeStateLocked()
{
    computeCommand(groups_.registers(RegisterGroup::State)[GIGE_REG_CAMERA_STATE], command_);
    commandValid_ = 1;
}

void FamilyOperations::refreshStateGroup()
{
    refreshGroupOrThrow(RegisterGroup::State, "TarrowOperations::getCommand");
}

// The state is read from the camera every time: it changes on its own while the camera records.
void FamilyOperations::getCommand(HX_COMMAND* out)
{
    refreshStateGroup();
    HX_COMMAND state;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        computeStateLocked();
        state = command_;
    }
    checkProgressPoller(progressPlayMode());
    if (out != nullptr)
        *out = state;
}

// The record comes back with the state read right after the write. A state that has not moved
// yet is no refusal: a camera may take a moment to switch.
void FamilyOperations::sendCommand(HX_COMMAND* inOut)
{
    static constexpr const char* method = "TarrowOperations::sendCommand";
    enterSetter(method, inOut);
    HX_COMMAND& record = *inOut;
    if (!flagSet(record.code_flags))
        return;
    const uint32_t code = record.code;
    try {
        if (code == HX_CMD_LIVE) {
            if (!streaming().startLiveStream()) {
                record.code_flags |= HX_FLAG_ERR;
                record.flags |= HX_FLAG_ERR;
            }
            return;
        }
        const auto write = commandWrite(code);
        if (!write)
            HLV_THROW(SettingsException, "Format is not one of HX_CMD_*");
        if (const uint32_t result = channel().writeMultiReg({*write}); result != 0) {
            HLV_LOG("%s(%s): Unable to change the camera state register to %d", method, name_.c_str(), write->value);
            record.code_flags |= HX_FLAG_ERR;
            record.flags |= HX_FLAG_ERR;
            return;
        }
        HX_COMMAND after;
        getCommand(&after);
        mergeCommand(after, record);
    } catch (const SettingsException& error) {
        HLV_LOG("Settings exception: %s", error.str().c_str());
        record.code_flags |= HX_FLAG_ERR;
        record.flags |= HX_FLAG_ERR;
    } catch (const HLV_THREAD::Exception& error) {
        HLV_LOG("%s", error.str().c_str());
        record.flags |= HX_FLAG_ERR;
    }
}

// --- Playback ---------------------------------------------------------------------------------

void FamilyOperations::computePlaybackLocked()
{
    computePlayback(groups_.registers(RegisterGroup::Playback), name_, playbackSettings_, traits_.playModeSource);
}

uint32_t FamilyOperations::playMode() const
{
    std::lock_guard<std::mutex> lock(stateMutex_);
    return playbackSettings_.mode;
}

uint32_t FamilyOperations::progressPlayMode() const
{
    return traits_.pollsShownFrame ? playMode() : uint32_t{HX_PLAY_PAUSE};
}

void FamilyOperations::getPlaybackSettings(HX_PLAYBACK_SETTINGS* out)
{
    readSettings(RegisterGroup::Playback, "TarrowOperations::getPlaybackSettings", playbackSettingsValid_,
                 &FamilyOperations::computePlaybackLocked, playbackSettings_, out);
}

uint32_t FamilyOperations::cachedStreamControl() const
{
    std::lock_guard<std::mutex> lock(stateMutex_);
    return cachedValue(groups_.registers(RegisterGroup::Playback), GIGE_REG_STREAM_CONTROL);
}

// Plays, pauses or steps the recording the camera holds in review, then reports the playback
// the camera shows (and tells subscribed clients). Playback outside review, or a step beyond the
// recording, is refused: the camera would ignore it.
void FamilyOperations::setPlaybackSettings(HX_PLAYBACK_SETTINGS* inOut)
{
    static constexpr const char* method = "TarrowOperations::setPlaybackSettings";
    enterSetter(method, inOut);
    HX_PLAYBACK_SETTINGS& record = *inOut;
    std::lock_guard<std::mutex> serialised(settingsMutex_);
    clearPlaybackOutcome(record);
    try {
        if (flagSet(record.flags)) {
            bool step = false;
            const uint32_t frame = record.current_frame;
            const RegisterPairs writes = playbackWrites(record, step);
            if (!writePlayback(writes)) {
                HLV_LOG("%s: Unable to write register to the camera %s", method, name_.c_str());
                record.flags |= HX_FLAG_ERR;
            } else {
                if (step)
                    channel().writeReg(GIGE_REG_ACTIVE_FRAME_NUM, frame);
                verifyPlayback(step, frame);
            }
        }
        getPlaybackSettings(nullptr);
    } catch (const SettingsException& error) {
        HLV_LOG("Settings exception: %s", error.str().c_str());
        record.flags |= HX_FLAG_ERR;
    } catch (const HLV_THREAD::Exception& error) {
        HLV_LOG("%s(%s): %s", method, name_.c_str(), error.str().c_str());
        record.flags |= HX_FLAG_ERR;
    }
    HX_PLAYBACK_SETTINGS cached;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        cached = playbackSettings_;
        HLV_TRACE(HLV_THREAD::TRACE_OPERATIONS, "%s(%s): GIGE_REG_PB_STATUS=0x%08x, current=%d", method, name_.c_str(),
                  cachedValue(groups_.registers(RegisterGroup::Playback), GIGE_REG_PB_STATUS), cached.current_frame);
    }
    if (record.current_frame != cached.current_frame)
        HLV_TRACE(HLV_THREAD::TRACE_OPERATIONS, "%s(%s): s->current=%d, playback_settings.current=%d", method,
                  name_.c_str(), record.current_frame, cached.current_frame);
    mergePlayback(cached, record);
    checkProgressPoller(progressPlayMode());
    HLV_TRACE(HLV_THREAD::TRACE_OPERATIONS, "%s(%s): Send back the PLAYBACK_CHANGE message", method, name_.c_str());
    FAMILY_EVENTS::post(HX_PLAYBACK_CHANGE, address_, record);
    HLV_TRACE(HLV_THREAD::TRACE_OPERATIONS, "%s(%s): Done", method, name_.c_str());
}

// The register writes for the requested mode. A refusal marks the field it concerns and throws.
RegisterPairs FamilyOperations::playbackWrites(HX_PLAYBACK_SETTINGS& record, bool& step)
{
    static constexpr const char* method = "TarrowOperations::setPlaybackSettings";
    const uint32_t mode = record.mode;
    if (mode != HX_PLAY_FORWARD && mode != HX_PLAY_REVERSE && mode != HX_PLAY_PAUSE) {
        record.mode_flags |= HX_FLAG_ERR;
        HLV_THROW(SettingsException, "Command is not one of HX_PLAY_*");
    }
    HX_PLAYBACK_SETTINGS camera;
    getPlaybackSettings(&camera);
    if (camera.mode_caps == 0) {
        record.mode_flags |= HX_FLAG_ERR;
        HLV_THROW(SettingsException, "Playback needs a recording in review");
    }
    if (streamOps_)
        streamOps_->startPlayback();
    startHeartBeatPoller();
    RegisterPairs writes;
    if (const uint32_t packetSize = streamOps_ ? streamOps_->getStreamPktLen() : 0; packetSize != 0)
        writes.push_back({GIGE_REG_SCPS0, packetSize | SCPS0_DO_NOT_FRAGMENT});
    writes.push_back({GIGE_REG_SCPD0, PLAY_PACKET_DELAY});
    RegisterPairs modeWrites;
    if (mode == HX_PLAY_PAUSE && camera.mode != HX_PLAY_PAUSE) {
        HLV_TRACE(HLV_THREAD::TRACE_OPERATIONS, "%s(%s): [STOP REQUEST] GIGE_REG_STREAM_CONTROL=0x%08x", method,
                  name_.c_str(), cachedStreamControl());
        modeWrites = stopWrites(record);
        if (streamOps_)
            streamOps_->stopPlayback();
    } else if (mode == HX_PLAY_PAUSE) {
        const uint32_t frame = record.current_frame;
        if (frame > camera.current_frame_max) {
            record.current_frame_flags |= HX_FLAG_ERR;
            HLV_THROW(SettingsException, "Frame %u is beyond the last frame of the recording (%u)", frame,
                      camera.current_frame_max);
        }
        HLV_TRACE(HLV_THREAD::TRACE_OPERATIONS, "%s(%s): Stepping to frame %d", method, name_.c_str(), frame);
        stepWhenStopped(method);
        modeWrites = stepWrites(record, frame);
        step = true;
    } else {
        HLV_TRACE(HLV_THREAD::TRACE_OPERATIONS, "%s(%s): Start playback %s, [%d, %d, %d]", method, name_.c_str(),
                  mode == HX_PLAY_REVERSE ? "reverse" : "forward", record.cut_in, record.cut_out, record.current_frame);
        modeWrites = playWrites(record, mode == HX_PLAY_REVERSE);
    }
    writes.insert(writes.end(), modeWrites.begin(), modeWrites.end());
    return writes;
}

// A frame is shown only while the camera streams nothing else: stop what runs, and wait a little
// for the camera to say it stopped.
void FamilyOperations::stepWhenStopped(const char* method)
{
    for (int attempt = 0; attempt < PLAYBACK_ATTEMPTS; ++attempt) {
        const uint32_t control = cachedStreamControl();
        if (control == STREAM_STOP || control == STREAM_SHOW)
            return;
        HLV_TRACE(HLV_THREAD::TRACE_OPERATIONS, "%s(%s): Stopping stream control %d before the step", method,
                  name_.c_str(), control);
        channel().writeReg(GIGE_REG_STREAM_CONTROL, STREAM_STOP);
        pause(STOP_WAIT_MILLISECONDS);
        {
            std::lock_guard<std::mutex> lock(stateMutex_);
            playbackSettingsValid_ = 0;
        }
        getPlaybackSettings(nullptr);
    }
}

bool FamilyOperations::writePlayback(const RegisterPairs& writes)
{
    for (int attempt = 1; attempt <= PLAYBACK_ATTEMPTS; ++attempt) {
        if (channel().writeMultiReg(writes) == 0)
            return true;
        HLV_LOG("%s(%s): writeMultiReg failed. Delay and try again, retry=%d", "TarrowOperations::setPlaybackSettings",
                name_.c_str(), attempt);
        if (attempt < PLAYBACK_ATTEMPTS)
            pause(PLAYBACK_RETRY_MILLISECONDS);
    }
    return false;
}

// Reads the playback back; after a step, until the camera shows the frame asked for.
void FamilyOperations::verifyPlayback(bool step, uint32_t frame)
{
    for (int attempt = 1; attempt <= PLAYBACK_ATTEMPTS; ++attempt) {
        HX_PLAYBACK_SETTINGS camera;
        {
            std::lock_guard<std::mutex> lock(stateMutex_);
            playbackSettingsValid_ = 0;
        }
        getPlaybackSettings(&camera);
        if (!step || camera.current_frame == frame)
            return;
        HLV_LOG("%s(%s): s->current != playback_settings.current, retry=%d", "TarrowOperations::setPlaybackSettings",
                name_.c_str(), attempt);
        if (attempt < PLAYBACK_ATTEMPTS)
            pause(PLAYBACK_RETRY_MILLISECONDS);
    }
}
