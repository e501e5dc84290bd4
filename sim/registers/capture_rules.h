// What the camera makes of capture-setting writes: clamping, translation, and the recording
// geometry (frame size, record length, trigger frame) that follows from the registers.
#pragma once

#include <cstdint>
#include <optional>

#include "sim/registers/register_file.h"
#include "sim/registers/sensor_model.h"

namespace hxsim {

// Record mode numbers as hosts write them, and the bits the camera stores for them.
std::optional<uint32_t> recordModeBits(uint32_t modeNumber);

// The image memory layout the camera reports (16-byte units): two segments kept below the
// recording area, one above it.
struct MemoryLayout {
    static constexpr uint32_t kSegment = 0x1000000;
    uint32_t base = 2 * kSegment;
    uint32_t reserve = kSegment;
    uint32_t limit = 0; // base + memory + reserve
    uint32_t end = 0;   // limit - reserve: end of the recording area
    uint32_t pages = 0; // memory in 4096-byte pages

    static MemoryLayout forMemory(uint64_t memoryBytes);
};

class CaptureRules {
public:
    // `gainFlag`: the firmware takes bit 31 of analog gain writes as a flag, not as value.
    // `fractionalRates`: a frame rate with bit 31 set holds frames per second times 65536.
    CaptureRules(SensorModel sensor, bool gainFlag, bool fractionalRates = false)
        : sensor_(sensor), gainFlag_(gainFlag), fractionalRates_(fractionalRates)
    {
    }

    // The value to store for a host write to a capture register, or nothing to leave the
    // register unchanged (a mode the sensor does not offer). Registers without a rule keep what
    // was written.
    std::optional<uint32_t> accept(const RegisterFile& regs, uint32_t address, uint32_t value) const;

    // Brings the registers that depend on others back into range after a request: offsets
    // within the sensor, frame rate within the ROI's maximum, exposure within the frame period,
    // record length and trigger within memory.
    void reconcile(RegisterFile& regs) const;

    uint32_t maxFrameRate(const RegisterFile& regs) const;
    // The frame rate in force, in frames per second (never below the sensor's minimum).
    double frameRate(const RegisterFile& regs) const;
    uint32_t maxExposure(const RegisterFile& regs) const;
    uint64_t frameBytes(const RegisterFile& regs) const;
    // Frames that fit `units` of image memory (or the page memory, in page mode).
    uint32_t frameCapacity(const RegisterFile& regs, uint64_t units) const;
    uint32_t lengthMax(const RegisterFile& regs) const;
    // The frames one recording holds with the current settings.
    uint32_t recordLength(const RegisterFile& regs) const;
    // Frames kept before the trigger in a recording of `length` frames.
    uint32_t triggerFrames(const RegisterFile& regs, uint32_t length) const;

private:
    uint32_t clampRoi(const RegisterFile& regs, uint32_t address, uint32_t value) const;
    uint32_t clampSegment(const RegisterFile& regs, uint32_t value) const;
    uint32_t clampTrigger(const RegisterFile& regs, uint32_t value) const;
    std::optional<uint32_t> acceptGain(uint32_t value) const;
    uint32_t clampFrameRate(const RegisterFile& regs, uint32_t value) const;
    double decodeRate(uint32_t value) const;

    SensorModel sensor_;
    bool gainFlag_;
    bool fractionalRates_;
};

} // namespace hxsim
