// Control channel: the register channel of a camera operations object over the library's
// control protocol (the camera's HxComm thread).
#pragma once

#include "control/register_channel.h"

namespace halvex::control {

// Keyed by camera address like HxComm itself. release() recycles the camera's HxComm, so a camera
// that is recognised again later (a lost camera found again, a released handle looked up again)
// starts with a fresh channel whose fault flag is clear.
class ControlChannel : public RegisterChannel {
public:
    explicit ControlChannel(uint32_t cameraAddress);

    uint32_t readReg(uint32_t reg, uint32_t& value) override;
    uint32_t writeReg(uint32_t reg, uint32_t value) override;
    uint32_t readMultiReg(wire::RegisterPairs& pairs) override;
    uint32_t writeMultiReg(const wire::RegisterPairs& pairs) override;
    uint32_t readMem(uint32_t start, std::vector<uint8_t>& data, uint32_t count) override;
    uint32_t writeMem(uint32_t start, const std::vector<uint8_t>& data) override;
    uint32_t writeBriefly(const wire::RegisterPairs& pairs) override;
    bool faulted() const override;
    void release() override;

private:
    const uint32_t address_;
};

} // namespace halvex::control
