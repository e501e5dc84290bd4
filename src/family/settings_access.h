// Settings access: the steps every settings getter and setter of a register-based family takes
// around its own work, over the family's shared camera state.
#pragma once

#include <cstdint>
#include <mutex>

#include <hlv_thread/log.h>

#include "family/family_camera.h"

namespace halvex::family::settings {

// While clients are subscribed, events keep a valid cache current and reads use it as it is.
bool cacheTrusted(const FamilyCamera& camera, uint32_t valid);
// Reads a register group afresh; throws RuntimeError naming `method` when the camera does not answer.
void refreshGroupOrThrow(FamilyCamera& camera, registers::RegisterGroup group, const char* method);
// A setter's entry: traced, and refused (LogicError) without a record to work on.
void enterSetter(const FamilyCamera& camera, const char* method, const void* inOut);

// A getter's work for a settings record computed from one group: copies the cached record out,
// after reading the group afresh and recomputing it (computeLocked, state mutex held) unless
// trusted.
template <typename Record, typename Valid, typename Compute>
void readSettings(FamilyCamera& camera, registers::RegisterGroup group, const char* method, Valid& valid,
                  Compute computeLocked, const Record& cached, Record* out)
{
    if (!cacheTrusted(camera, valid)) {
        refreshGroupOrThrow(camera, group, method);
        std::lock_guard<std::mutex> lock(camera.state);
        computeLocked();
        // Without subscribers nothing reports changes, so every read goes to the camera.
        valid = camera.subscriptions != 0 ? 1 : 0;
    }
    std::lock_guard<std::mutex> lock(camera.state);
    if (out != nullptr)
        *out = cached;
}

// A setter's end: writes what was accepted in one exchange (a failure marks the record), then
// reads the record afresh from the camera (get) and merges what it holds into the caller's.
template <typename Record, typename Valid, typename Writes, typename Get>
void writeAndMerge(FamilyCamera& camera, const char* method, const Writes& writes, Valid& valid, Get get,
                   void (*merge)(const Record&, Record&), Record& record)
{
    if (!writes.empty() && camera.channel.writeMultiReg(writes) != 0) {
        HLV_LOG("%s: Unable to write register to the camera %s", method, camera.name.c_str());
        record.flags |= HX_FLAG_ERR;
    }
    {
        std::lock_guard<std::mutex> lock(camera.state);
        valid = 0;
    }
    Record held{};
    get(&held);
    merge(held, record);
}

} // namespace halvex::family::settings
