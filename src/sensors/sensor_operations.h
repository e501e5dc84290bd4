// Sensor operations: the answers that depend on the camera's image sensor (modes it offers, ROI
// limits and steps, bytes per frame in camera memory, highest frame rate for an ROI).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "registers/register_cache.h"

namespace halvex::sensors {

// One object per camera, built by factory() from the camera's sensor type register and owned by
// the camera's operations object. The queries that take a RegisterCache read it with
// insert-if-missing lookups; the owner serialises them with its state mutex. Only setFlag()
// changes the object.
class SensorOperations {
public:
    // A new object for a supported sensor type code; null (and a log line) for a known but
    // unsupported code or an unknown one.
    static std::unique_ptr<SensorOperations> factory(uint32_t sensorType);

    // Capability words: bit sets over the HX_ANALOG_GAIN_*, HX_BIT_MODE_*, HX_BNS_MODE_* and FPN
    // mode flags the sensor offers. They are fixed per sensor family, so each family only names them.
    struct Capabilities {
        uint32_t analogGain = 0;
        uint32_t bitMode = 0;
        uint32_t bnsMode = 0;
        uint32_t fpnMode = 0;
    };

    SensorOperations(uint32_t sensorType, const Capabilities& capabilities);
    virtual ~SensorOperations();
    SensorOperations(const SensorOperations&) = delete;
    SensorOperations& operator=(const SensorOperations&) = delete;

    uint32_t analogGainCapabilities() const { return capabilities_.analogGain; }
    uint32_t bitModeCapabilities() const { return capabilities_.bitMode; }
    uint32_t bnsModeCapabilities() const { return capabilities_.bnsMode; }
    uint32_t fpnModeCapabilities() const { return capabilities_.fpnMode; }

    // Highest frame rate for an ROI of width x height at X offset xOffset, with the BNS register
    // word bnsMode, never above ceiling. The fourth value does not enter the result.
    virtual uint32_t maxFrameRate(uint32_t width, uint32_t height, uint32_t xOffset, uint32_t unused, uint32_t bnsMode,
                                  uint32_t ceiling) const = 0;

    virtual void setFlag(uint8_t flag);

    // Bytes one frame of the cached ROI and pixel format occupies in camera memory. Throws
    // thread::LogicError when the cached ROI is empty.
    virtual uint64_t frameSize(registers::RegisterCache& regs) const;

    virtual uint32_t minFrameRate() const;
    virtual uint32_t frameRateStep() const;
    virtual bool isColour() const;

    virtual uint32_t maxWidth(registers::RegisterCache& regs) const;
    virtual uint32_t minWidth(registers::RegisterCache& regs) const;
    virtual uint32_t widthStep() const;
    virtual uint32_t maxHeight(registers::RegisterCache& regs) const;
    virtual uint32_t minHeight(registers::RegisterCache& regs) const;
    virtual uint32_t heightStep() const;
    virtual uint32_t maxXOffset(registers::RegisterCache& regs) const;
    virtual uint32_t minXOffset() const;
    virtual uint32_t xOffsetStep() const;
    virtual uint32_t maxYOffset(registers::RegisterCache& regs) const;
    virtual uint32_t minYOffset() const;
    virtual uint32_t yOffsetStep() const;

    // maxFrameRate() for the ROI, BNS mode and ceiling currently in the cache.
    uint32_t cachedMaxFrameRate(registers::RegisterCache& regs) const;

    // Sensor registers the owner must keep in its sensor register group.
    const std::vector<uint32_t>& registerList() const { return registers_; }
    uint32_t sensorType() const { return sensorType_; }
    uint8_t flag() const { return flag_; }

protected:
    std::vector<uint32_t> registers_;

private:
    uint32_t sensorType_;
    Capabilities capabilities_;
    uint8_t flag_ = 1;
};

} // namespace halvex::sensors
