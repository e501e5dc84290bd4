// Camera save: the stand-in camera writing recorded frames to its own media on a host's request.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "sim/device/sim_time.h"
#include "sim/registers/register_file.h"

namespace hxsim {

// A save request (JSON text written to the save request channel) is taken at the next advance:
// the save state (0xC298) then counts the percentage saved and 0xC7D0 the frames saved, at
// kFramesPerSecond of camera time, until the state returns to idle. A request the camera cannot
// carry out sets the error bit with a C library error number: EINVAL for a text that is no
// request or has no frames, ENOENT for a destination path under "/missing".
class CameraSave {
public:
    static constexpr uint32_t kFramesPerSecond = 2000;

    // Remembers the request; it starts at the next advance().
    void request(std::string text) { pending_ = std::move(text); }
    void advance(SimTime now, RegisterFile& regs);
    SimTime nextDeadline() const;
    bool running() const { return running_; }

private:
    void start(const std::string& text, SimTime now, RegisterFile& regs);

    std::optional<std::string> pending_;
    bool running_ = false;
    SimTime started_{};
    uint32_t frames_ = 0;
};

} // namespace hxsim
