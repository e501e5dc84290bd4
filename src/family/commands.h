// Family commands, camera state and in-camera playback: the record and register encodings and the
// computations and merges of HX_COMMAND and HX_PLAYBACK_SETTINGS. Pure: no camera traffic.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include <hx/hx.h>

#include "control/register_channel.h"
#include "registers/register_cache.h"

namespace halvex::family::commands {

// Values of the camera state register.
enum : uint32_t { STATE_IDLE = 1, STATE_ARM = 2, STATE_TRIGGER = 4, STATE_REVIEW = 8, STATE_BUSY = 64 };

// The register write an HX_CMD_* code asks for: none for the live stream (a stream flow, not a
// register) and for anything that is not a command.
std::optional<wire::RegisterPair> commandWrite(uint32_t code);
bool isCommand(uint32_t code);

// The HX_COMMAND state and command capabilities for a camera state register value.
uint32_t stateFromRegister(uint32_t value);
uint32_t commandCapabilities(uint32_t value);
// Fills the state and capabilities of the cached command record.
void computeCommand(uint32_t cameraState, HX_COMMAND& cached);
// Copies the state (with its capabilities) and the shutdown request from the cache where the
// caller's record differs, marking HX_FLAG_CHG: state changes in the code and record flags, a
// shutdown request change in the record flags only.
void mergeCommand(const HX_COMMAND& cached, HX_COMMAND& caller);

// HX_PLAY_* mode of a playback control register value, and the interval it holds.
uint32_t playbackMode(uint32_t playbackControl);
// Which register tells a family's cameras' play mode: the first family's playback control, or the
// second family's playback status (bit 0 busy, bit 1 single frame).
enum class PlaybackModeSource { Control, Status };
// The second family's play mode: pause unless the camera is busy playing and not showing single
// frames; the direction then comes from the playback control register.
uint32_t statusPlaybackMode(uint32_t playbackStatus, uint32_t playbackControl);
uint32_t playbackInterval(uint32_t playbackControl);
// The frame the camera shows: the review frame number while its status says it is valid, else
// the active frame number.
uint32_t playbackFrame(const registers::RegisterCache& playback, const std::string& cameraName);

// Fills the cached playback record from the playback group. Outside review only the mode (pause,
// no capabilities) and the current frame (0) are set; the other fields keep their cached values.
// Reads through the cache's operator[], so registers the group lacks are added for its next refresh.
// The camera's name goes into its trace lines.
void computePlayback(registers::RegisterCache& playback, const std::string& cameraName, HX_PLAYBACK_SETTINGS& cached,
                     PlaybackModeSource modeSource = PlaybackModeSource::Control);
// Copies each field group whose values differ from the cache into the caller's record and marks
// the field and the record HX_FLAG_CHG. Flags words are never copied.
void mergePlayback(const HX_PLAYBACK_SETTINGS& cached, HX_PLAYBACK_SETTINGS& caller);

// The writes that start continuous playback (forward or reverse) from the record's current frame
// over its cut-in to cut-out range, ending with the stream control write that starts it.
wire::RegisterPairs playWrites(const HX_PLAYBACK_SETTINGS& record, bool reverse);
// The writes that show one frame while playback is paused.
wire::RegisterPairs stepWrites(const HX_PLAYBACK_SETTINGS& record, uint32_t frame);
// The writes that stop continuous playback.
wire::RegisterPairs stopWrites(const HX_PLAYBACK_SETTINGS& record);

} // namespace halvex::family::commands
