// Family commands: state commands, the camera state read back, and in-camera playback started,
// stepped and stopped, each write retried and confirmed.
#include "family/family_commands.h"

#include <chrono>
#include <thread>

#include <hlv_thread/log.h>
#include <hlv_thread/log_label.h>
#include <hlv_thread/note.h>
#include <hlv_thread/period_scale.h>

#include "family/commands.h"
#include "family/family_progress.h"
#include "family/merge.h"
#include "family/notifications.h"
#include "family/operation_labels.h"
#include "family/pollers.h"
#include "family/settings_access.h"
#include "family/streaming.h"
#include "records/field_flags.h"
#include "registers/register_map.h"
#include "stream/hx_stream_operations.h"

namespace halvex::family {

using thread::SettingsException;
using wire::RegisterPairs;

using namespace registers;
using records::flagSet;
using namespace commands;

namespace {

// The interpacket delay the camera is given for played frames.
constexpr uint32_t PLAY_PACKET_DELAY = 100;
// Playback writes and their confirmation are retried; a frame step waits for a running stream to stop.
constexpr int PLAYBACK_ATTEMPTS = 5;
constexpr uint32_t PLAYBACK_RETRY_MILLISECONDS = 500;
constexpr uint32_t STOP_WAIT_MILLISECONDS = 100;

void pause(uint32_t milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(thread::scaledMilliseconds(milliseconds)));
}

void clearPlaybackOutcome(HX_PLAYBACK_SETTINGS& record)
{
    using R = HX_PLAYBACK_SETTINGS;
    merge::clearOutcome(record, {&R::flags, &R::mode_flags, &R::current_frame_flags, &R::cut_in_flags,
                                 &R::cut_out_flags, &R::interval_flags, &R::trigger_flags});
}

} // namespace

FamilyCommands::FamilyCommands(FamilyCamera& camera, FamilyStreaming& streaming, FamilyProgress& progress,
                               pollers::PollerControl& pollers)
    : camera_(camera), streaming_(streaming), progress_(progress), pollers_(pollers)
{
}

void FamilyCommands::computeStateLocked()
{
    computeCommand(camera_.groups.registers(RegisterGroup::State)[GIGE_REG_CAMERA_STATE], camera_.cached.command);
    camera_.cached.commandValid = 1;
}

void FamilyCommands::refreshStateGroup()
{
    settings::refreshGroupOrThrow(camera_, RegisterGroup::State, HLV_LABEL("getCommand"));
}

// The state is read from the camera every time: it changes on its own while the camera records.
void FamilyCommands::getCommand(HX_COMMAND* out)
{
    refreshStateGroup();
    HX_COMMAND state;
    {
        std::lock_guard<std::mutex> lock(camera_.state);
        computeStateLocked();
        state = camera_.cached.command;
    }
    progress_.checkProgressPoller();
    if (out != nullptr)
        *out = state;
}

// The record comes back with the state read right after the write. A state that has not moved
// yet is no refusal: a camera may take a moment to switch.
void FamilyCommands::sendCommand(HX_COMMAND* inOut)
{
    static constexpr const char* method = HLV_LABEL("sendCommand");
    settings::enterSetter(camera_, labels::SEND_COMMAND, inOut);
    HX_COMMAND& record = *inOut;
    if (!flagSet(record.code_flags))
        return;
    const uint32_t code = record.code;
    try {
        if (code == HX_CMD_LIVE) {
            if (!streaming_.startLiveStream()) {
                record.code_flags |= HX_FLAG_ERR;
                record.flags |= HX_FLAG_ERR;
            }
            return;
        }
        const auto write = commandWrite(code);
        if (!write)
            HLV_THROW(SettingsException, "Format is not one of HX_CMD_*");
        if (const uint32_t result = camera_.channel.writeMultiReg({*write}); result != 0) {
            HLV_LOG("%s(%s): Unable to change the camera state register to %d", method, camera_.name.c_str(),
                    write->value);
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
    } catch (const thread::Exception& error) {
        HLV_LOG("%s", error.str().c_str());
        record.flags |= HX_FLAG_ERR;
    }
}

void FamilyCommands::computePlaybackLocked()
{
    computePlayback(camera_.groups.registers(RegisterGroup::Playback), camera_.name, camera_.cached.playbackSettings,
                    camera_.traits.playModeSource);
}

void FamilyCommands::getPlaybackSettings(HX_PLAYBACK_SETTINGS* out)
{
    settings::readSettings(
        camera_, RegisterGroup::Playback, HLV_LABEL("getPlaybackSettings"), camera_.cached.playbackSettingsValid,
        [this] { computePlaybackLocked(); }, camera_.cached.playbackSettings, out);
}

uint32_t FamilyCommands::cachedStreamControl() const
{
    std::lock_guard<std::mutex> lock(camera_.state);
    return cachedValue(camera_.groups.registers(RegisterGroup::Playback), GIGE_REG_STREAM_CONTROL);
}

// Plays, pauses or steps the recording the camera holds in review, then reports the playback
// the camera shows (and tells subscribed clients). Playback outside review, or a step beyond the
// recording, is refused: the camera would ignore it.
void FamilyCommands::setPlaybackSettings(HX_PLAYBACK_SETTINGS* inOut)
{
    static constexpr const char* method = HLV_LABEL("setPlaybackSettings");
    settings::enterSetter(camera_, method, inOut);
    HX_PLAYBACK_SETTINGS& record = *inOut;
    std::lock_guard<std::mutex> serialised(camera_.settings);
    clearPlaybackOutcome(record);
    try {
        if (flagSet(record.flags)) {
            bool step = false;
            const uint32_t frame = record.current_frame;
            const RegisterPairs writes = playbackWrites(record, step);
            if (!writePlayback(writes)) {
                HLV_LOG("%s: Unable to write register to the camera %s", method, camera_.name.c_str());
                record.flags |= HX_FLAG_ERR;
            } else {
                if (step)
                    camera_.channel.writeReg(GIGE_REG_ACTIVE_FRAME_NUM, frame);
                verifyPlayback(step, frame);
            }
        }
        getPlaybackSettings(nullptr);
    } catch (const SettingsException& error) {
        HLV_LOG("Settings exception: %s", error.str().c_str());
        record.flags |= HX_FLAG_ERR;
    } catch (const thread::Exception& error) {
        HLV_LOG("%s(%s): %s", method, camera_.name.c_str(), error.str().c_str());
        record.flags |= HX_FLAG_ERR;
    }
    HX_PLAYBACK_SETTINGS cached;
    {
        std::lock_guard<std::mutex> lock(camera_.state);
        cached = camera_.cached.playbackSettings;
        HLV_TRACE(
            thread::TRACE_OPERATIONS, "%s(%s): GIGE_REG_PB_STATUS=0x%08x, current=%d", method, camera_.name.c_str(),
            cachedValue(camera_.groups.registers(RegisterGroup::Playback), GIGE_REG_PB_STATUS), cached.current_frame);
    }
    if (record.current_frame != cached.current_frame)
        HLV_TRACE(thread::TRACE_OPERATIONS, "%s(%s): s->current=%d, playback_settings.current=%d", method,
                  camera_.name.c_str(), record.current_frame, cached.current_frame);
    mergePlayback(cached, record);
    progress_.checkProgressPoller();
    HLV_TRACE(thread::TRACE_OPERATIONS, "%s(%s): Send back the PLAYBACK_CHANGE message", method, camera_.name.c_str());
    events::post(HX_PLAYBACK_CHANGE, camera_.address, record);
    HLV_TRACE(thread::TRACE_OPERATIONS, "%s(%s): Done", method, camera_.name.c_str());
}

// The register writes for the requested mode. A refusal marks the field it concerns and throws.
RegisterPairs FamilyCommands::playbackWrites(HX_PLAYBACK_SETTINGS& record, bool& step)
{
    static constexpr const char* method = HLV_LABEL("setPlaybackSettings");
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
    camera_.streamOps.startPlayback();
    pollers_.startHeartBeat();
    RegisterPairs writes;
    if (const uint32_t packetSize = camera_.streamOps.getStreamPktLen(); packetSize != 0)
        writes.push_back({GIGE_REG_SCPS0, packetSize | SCPS0_DO_NOT_FRAGMENT});
    writes.push_back({GIGE_REG_SCPD0, PLAY_PACKET_DELAY});
    RegisterPairs modeWrites;
    if (mode == HX_PLAY_PAUSE && camera.mode != HX_PLAY_PAUSE) {
        HLV_TRACE(thread::TRACE_OPERATIONS, "%s(%s): [STOP REQUEST] GIGE_REG_STREAM_CONTROL=0x%08x", method,
                  camera_.name.c_str(), cachedStreamControl());
        modeWrites = stopWrites(record);
        camera_.streamOps.stopPlayback();
    } else if (mode == HX_PLAY_PAUSE) {
        const uint32_t frame = record.current_frame;
        if (frame > camera.current_frame_max) {
            record.current_frame_flags |= HX_FLAG_ERR;
            HLV_THROW(SettingsException, "Frame %u is beyond the last frame of the recording (%u)", frame,
                      camera.current_frame_max);
        }
        HLV_TRACE(thread::TRACE_OPERATIONS, "%s(%s): Stepping to frame %d", method, camera_.name.c_str(), frame);
        stepWhenStopped(method);
        modeWrites = stepWrites(record, frame);
        step = true;
    } else {
        HLV_TRACE(thread::TRACE_OPERATIONS, "%s(%s): Start playback %s, [%d, %d, %d]", method, camera_.name.c_str(),
                  mode == HX_PLAY_REVERSE ? "reverse" : "forward", record.cut_in, record.cut_out, record.current_frame);
        modeWrites = playWrites(record, mode == HX_PLAY_REVERSE);
    }
    writes.insert(writes.end(), modeWrites.begin(), modeWrites.end());
    return writes;
}

// A frame is shown only while the camera streams nothing else: stop what runs, and wait a little
// for the camera to say it stopped.
void FamilyCommands::stepWhenStopped(const char* method)
{
    for (int attempt = 0; attempt < PLAYBACK_ATTEMPTS; ++attempt) {
        const uint32_t control = cachedStreamControl();
        if (control == registers::STREAM_CONTROL_STOP || control == registers::STREAM_CONTROL_SHOW)
            return;
        HLV_TRACE(thread::TRACE_OPERATIONS, "%s(%s): Stopping stream control %d before the step", method,
                  camera_.name.c_str(), control);
        camera_.channel.writeReg(GIGE_REG_STREAM_CONTROL, registers::STREAM_CONTROL_STOP);
        pause(STOP_WAIT_MILLISECONDS);
        {
            std::lock_guard<std::mutex> lock(camera_.state);
            camera_.cached.playbackSettingsValid = 0;
        }
        getPlaybackSettings(nullptr);
    }
}

bool FamilyCommands::writePlayback(const RegisterPairs& writes)
{
    for (int attempt = 1; attempt <= PLAYBACK_ATTEMPTS; ++attempt) {
        if (camera_.channel.writeMultiReg(writes) == 0)
            return true;
        HLV_LOG("%s(%s): writeMultiReg failed. Delay and try again, retry=%d", HLV_LABEL("setPlaybackSettings"),
                camera_.name.c_str(), attempt);
        if (attempt < PLAYBACK_ATTEMPTS)
            pause(PLAYBACK_RETRY_MILLISECONDS);
    }
    return false;
}

// Reads the playback back; after a step, until the camera shows the frame asked for.
void FamilyCommands::verifyPlayback(bool step, uint32_t frame)
{
    for (int attempt = 1; attempt <= PLAYBACK_ATTEMPTS; ++attempt) {
        HX_PLAYBACK_SETTINGS camera;
        {
            std::lock_guard<std::mutex> lock(camera_.state);
            camera_.cached.playbackSettingsValid = 0;
        }
        getPlaybackSettings(&camera);
        if (!step || camera.current_frame == frame)
            return;
        HLV_LOG("%s(%s): s->current != playback_settings.current, retry=%d", HLV_LABEL("setPlaybackSettings"),
                camera_.name.c_str(), attempt);
        if (attempt < PLAYBACK_ATTEMPTS)
            pause(PLAYBACK_RETRY_MILLISECONDS);
    }
}

} // namespace halvex::family
