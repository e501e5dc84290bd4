// Capture-setting rules of the stand-in camera.
#include "sim/registers/capture_rules.h"

#include <algorithm>
#include <cmath>

#include "sim/registers/camera_registers.h"

namespace hxsim {

using namespace halvex::sim;

namespace {

constexpr uint32_t kPageMode = 1u << 31;
constexpr uint32_t kFramesTrigger = 1u << 31;
constexpr uint32_t kGainFlag = 1u << 31;
constexpr uint32_t kFractionalRate = 1u << 31;
constexpr uint32_t kMinBrocLength = 10;
constexpr uint32_t kLowLightFloor = 8000;
constexpr uint32_t kLowLightCeiling = 41666;

uint32_t clampStep(uint32_t value, uint32_t low, uint32_t high, uint32_t step)
{
    value = std::clamp(value, low, std::max(low, high));
    value -= value % step;
    return std::max(value, low);
}

uint32_t room(uint32_t whole, uint32_t part)
{
    return whole > part ? whole - part : 0;
}

bool isBrocMode(uint32_t recordModeRegister)
{
    return (recordModeRegister & kPageMode) == 0 && (recordModeRegister & (1u << 27)) != 0;
}

} // namespace

std::optional<uint32_t> recordModeBits(uint32_t modeNumber)
{
    switch (modeNumber) {
    case 0: return 0u;
    case 2: return 1u << 27;
    case 3: return kPageMode;
    case 4: return kPageMode | (1u << 29);
    case 5: return kPageMode | (1u << 28);
    default: return std::nullopt;
    }
}

MemoryLayout MemoryLayout::forMemory(uint64_t memoryBytes)
{
    MemoryLayout layout;
    const auto units = static_cast<uint32_t>(memoryBytes / 16);
    layout.limit = layout.base + units + layout.reserve;
    layout.end = layout.limit - layout.reserve;
    layout.pages = static_cast<uint32_t>(memoryBytes / 4096);
    return layout;
}

std::optional<uint32_t> CaptureRules::accept(const RegisterFile& regs, uint32_t address, uint32_t value) const
{
    switch (address) {
    case GIGE_REG_PIXEL_FORMAT: return sensor_.acceptsPixelFormat(value) ? std::optional(value) : std::nullopt;
    case GIGE_REG_BNS_MODE: return sensor_.acceptsBns(value) ? std::optional(value) : std::nullopt;
    case GIGE_REG_FPN_MODE: return sensor_.acceptsFpn(value) ? std::optional(value) : std::nullopt;
    case GIGE_REG_ANALOG_GAIN: return acceptGain(value);
    case GIGE_REG_RECORD_MODE: return recordModeBits(value);
    case GIGE_REG_ROI_WIDTH:
    case GIGE_REG_ROI_HEIGHT:
    case GIGE_REG_ROI_X_OFFSET:
    case GIGE_REG_ROI_Y_OFFSET: return clampRoi(regs, address, value);
    case GIGE_REG_FRAME_RATE: return clampFrameRate(regs, value);
    case GIGE_REG_EXPOSURE: return std::clamp(value, regs.get(GIGE_REG_EXPOSURE_MIN), maxExposure(regs));
    case GIGE_REG_LOW_LIGHT_ENABLE: return value != 0 ? 1u : 0u;
    case GIGE_REG_LOW_LIGHT_EXPOSURE: {
        const uint32_t overhead = regs.get(GIGE_REG_EXPOSURE_OVERHEAD);
        return std::clamp(value, kLowLightFloor - overhead, kLowLightCeiling - overhead);
    }
    case GIGE_REG_BROC_LENGTH: return std::clamp(value, kMinBrocLength, std::max(kMinBrocLength, lengthMax(regs)));
    case GIGE_REG_TRIGGER_POSITION: return clampTrigger(regs, value);
    case GIGE_REG_RECORD_END_SEGMENT: return clampSegment(regs, value);
    case GIGE_REG_DOWNLOAD_C0AC: return std::clamp(value, 1u, 100u);
    default: return value;
    }
}

std::optional<uint32_t> CaptureRules::acceptGain(uint32_t value) const
{
    if (gainFlag_) {
        value &= ~kGainFlag;
    }
    return sensor_.acceptsGain(value) ? std::optional(value) : std::nullopt;
}

uint32_t CaptureRules::clampRoi(const RegisterFile& regs, uint32_t address, uint32_t value) const
{
    const SensorSpec& spec = sensor_.spec();
    switch (address) {
    case GIGE_REG_ROI_WIDTH: return clampStep(value, spec.widthMin, spec.widthMax, 4);
    case GIGE_REG_ROI_HEIGHT: return clampStep(value, spec.heightMin, spec.heightMax, 2);
    case GIGE_REG_ROI_X_OFFSET: return clampStep(value, 0, room(spec.widthMax, regs.get(GIGE_REG_ROI_WIDTH)), 4);
    default: return clampStep(value, 0, room(spec.heightMax, regs.get(GIGE_REG_ROI_HEIGHT)), 2);
    }
}

// A segment at or below the start of the recording area means "to the end of the area", which
// is what hosts write when a recording fills it; anything else ends within the area.
uint32_t CaptureRules::clampSegment(const RegisterFile& regs, uint32_t value) const
{
    const uint32_t baseSegment = regs.get(GIGE_REG_IMAGE_MEM_BASE) >> 24;
    const uint32_t lastSegment = regs.get(GIGE_REG_IMAGE_MEM_END) >> 24;
    if (value <= baseSegment) {
        return value;
    }
    return std::min(value, lastSegment);
}

uint32_t CaptureRules::clampTrigger(const RegisterFile& regs, uint32_t value) const
{
    if ((value & kFramesTrigger) == 0) {
        return std::min(value, 100u);
    }
    return kFramesTrigger | std::min(value & ~kFramesTrigger, recordLength(regs));
}

void CaptureRules::reconcile(RegisterFile& regs) const
{
    for (uint32_t address : {GIGE_REG_ROI_X_OFFSET, GIGE_REG_ROI_Y_OFFSET}) {
        regs.set(address, clampRoi(regs, address, regs.get(address)));
    }
    regs.set(GIGE_REG_FRAME_RATE, clampFrameRate(regs, regs.get(GIGE_REG_FRAME_RATE)));
    regs.set(GIGE_REG_EXPOSURE,
             std::clamp(regs.get(GIGE_REG_EXPOSURE), regs.get(GIGE_REG_EXPOSURE_MIN), maxExposure(regs)));
    const uint32_t broc = regs.get(GIGE_REG_BROC_LENGTH);
    regs.set(GIGE_REG_BROC_LENGTH, std::clamp(broc, kMinBrocLength, std::max(kMinBrocLength, lengthMax(regs))));
    regs.set(GIGE_REG_TRIGGER_POSITION, clampTrigger(regs, regs.get(GIGE_REG_TRIGGER_POSITION)));
}

uint32_t CaptureRules::maxFrameRate(const RegisterFile& regs) const
{
    const uint32_t rate = sensor_.maxFrameRate(regs.get(GIGE_REG_ROI_WIDTH), regs.get(GIGE_REG_ROI_HEIGHT),
                                               regs.get(GIGE_REG_ROI_X_OFFSET), regs.get(GIGE_REG_BNS_MODE),
                                               regs.get(GIGE_REG_FRAME_RATE_LIMIT));
    return std::max(rate, SensorModel::kMinFrameRate);
}

double CaptureRules::decodeRate(uint32_t value) const
{
    if (fractionalRates_ && (value & kFractionalRate) != 0) {
        return static_cast<double>(value & ~kFractionalRate) / 65536.0;
    }
    return value;
}

// A fractional rate within range is kept exactly as written; one out of range becomes the
// nearest whole limit.
uint32_t CaptureRules::clampFrameRate(const RegisterFile& regs, uint32_t value) const
{
    const double rate = decodeRate(value);
    const uint32_t fastest = maxFrameRate(regs);
    if (rate < SensorModel::kMinFrameRate) {
        return SensorModel::kMinFrameRate;
    }
    if (rate > fastest) {
        return fastest;
    }
    return value;
}

double CaptureRules::frameRate(const RegisterFile& regs) const
{
    return std::max<double>(decodeRate(regs.get(GIGE_REG_FRAME_RATE)), SensorModel::kMinFrameRate);
}

uint32_t CaptureRules::maxExposure(const RegisterFile& regs) const
{
    const auto period = static_cast<uint32_t>(1000000.0 / frameRate(regs));
    const uint32_t overhead = regs.get(GIGE_REG_EXPOSURE_OVERHEAD);
    const uint32_t minimum = regs.get(GIGE_REG_EXPOSURE_MIN);
    return period > overhead + minimum ? period - overhead : minimum;
}

uint64_t CaptureRules::frameBytes(const RegisterFile& regs) const
{
    return hxsim::frameBytes(regs.get(GIGE_REG_ROI_WIDTH), regs.get(GIGE_REG_ROI_HEIGHT),
                             regs.get(GIGE_REG_PIXEL_FORMAT));
}

uint32_t CaptureRules::frameCapacity(const RegisterFile& regs, uint64_t units) const
{
    const uint64_t bytes = frameBytes(regs);
    if (bytes == 0) {
        return 0;
    }
    if ((regs.get(GIGE_REG_RECORD_MODE) & kPageMode) != 0) {
        const uint64_t pagesPerFrame = (bytes + 4095) / 4096;
        return static_cast<uint32_t>(regs.get(GIGE_REG_IMAGE_MEM_PAGES) / pagesPerFrame / 128 * 128);
    }
    const uint64_t unitsPerFrame = ((bytes + 15) / 16 * 16 + 32) / 16;
    return static_cast<uint32_t>(std::min<uint64_t>(units / unitsPerFrame, UINT32_MAX));
}

uint32_t CaptureRules::lengthMax(const RegisterFile& regs) const
{
    const uint64_t area = uint64_t{regs.get(GIGE_REG_IMAGE_MEM_LIMIT)} - regs.get(GIGE_REG_IMAGE_MEM_BASE) -
                          regs.get(GIGE_REG_IMAGE_MEM_RESERVE);
    return frameCapacity(regs, area);
}

uint32_t CaptureRules::recordLength(const RegisterFile& regs) const
{
    const uint32_t maximum = lengthMax(regs);
    if (isBrocMode(regs.get(GIGE_REG_RECORD_MODE))) {
        return std::clamp(regs.get(GIGE_REG_BROC_LENGTH), std::min(kMinBrocLength, maximum), maximum);
    }
    const uint64_t end = uint64_t{regs.get(GIGE_REG_RECORD_END_SEGMENT)} << 24;
    const uint64_t base = regs.get(GIGE_REG_IMAGE_MEM_BASE);
    const uint64_t area = uint64_t{regs.get(GIGE_REG_IMAGE_MEM_LIMIT)} - base - regs.get(GIGE_REG_IMAGE_MEM_RESERVE);
    if (end <= base || end - base >= area) {
        return maximum;
    }
    return frameCapacity(regs, end - base);
}

uint32_t CaptureRules::triggerFrames(const RegisterFile& regs, uint32_t length) const
{
    const uint32_t trigger = regs.get(GIGE_REG_TRIGGER_POSITION);
    if ((trigger & kFramesTrigger) != 0) {
        return std::min(trigger & ~kFramesTrigger, length);
    }
    if (length == 0) {
        return 0;
    }
    const double frames = std::floor(double(length - 1) * std::min(trigger, 100u) / 100.0 + 0.5);
    return std::min(static_cast<uint32_t>(frames), length);
}

} // namespace hxsim
