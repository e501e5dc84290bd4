// Morvane save: the camera-save request built from the host's settings, and the camera's save
// state turned into progress figures.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <json/json.h>

#include <hx/hx.h>

namespace halvex::morvane::save {

// Save state word: idle, error (with a C library error number), or the progress value.
inline constexpr uint32_t kSaveIdle = 0x80000000;
inline constexpr uint32_t kSaveError = 0x40000000;
inline constexpr uint32_t kSaveValueMask = 0x0FFFFFFF;
// dst_info flags: a tag is present; the camera names the files after itself.
inline constexpr uint32_t kTagged = 0x20000000;
inline constexpr uint32_t kUseCameraName = 0x40000000;
inline constexpr uint32_t kDefaultPlaybackRate = 25;

// What the camera is sent for one save, and what goes to it beforehand.
struct SaveRequest {
    Json::Value request; // tag, dstpath, frame_start, frame_end, frame_count, dst_info, shared_mem
    uint32_t frameCount = 0;
    uint32_t jpegQuality = 0;           // written to the camera when above 0
    std::optional<std::string> comment; // written before the request
};

// Checks and translates the host's settings; nothing, after a log line naming what is wrong,
// when they cannot make a save. A member of the wrong type throws Json::LogicError.
std::optional<SaveRequest> translate(const Json::Value& settings, bool colourSensor, const char* method);

// The save state word read as progress: the percentage or 100 when idle, the error number.
struct SaveStatus {
    enum class Kind { Running, Idle, Failed } kind = Kind::Running;
    uint32_t value = 0; // progress while running, the error number when failed
};
SaveStatus interpret(uint32_t saveState);

// Fills the progress record of a running save.
void fillProgress(const SaveStatus& status, uint32_t frameCount, uint32_t cameraProgress, HX_PROGRESS& record);

} // namespace halvex::morvane::save
