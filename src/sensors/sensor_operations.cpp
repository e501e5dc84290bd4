// Sensor operations: the answers that depend on the camera's image sensor (modes it offers, ROI
// limits and steps, bytes per frame in camera memory, highest frame rate for an ROI).
#include "sensors/sensor_operations.h"

#include <array>
#include <exception>

#include <hlv_thread/log.h>
#include <hlv_thread/note.h>

#include "registers/register_map.h"
#include "registers/sensor_types.h"
#include "sensors/lince_operations.h"
#include "sensors/lupa_operations.h"
#include "sensors/lux13hs_operations.h"
#include "sensors/lux19hs_operations.h"

namespace halvex::sensors {

using namespace registers;

namespace {

// Registers every sensor needs cached: limits, pixel format, ROI, frame-rate ceiling, BNS mode.
// An array, not a vector, so that nothing is left to destroy at process exit.
constexpr std::array<uint32_t, 9> sensorRegisters{
    GIGE_REG_SENSOR_WIDTH_MAX, GIGE_REG_SENSOR_HEIGHT_MAX, GIGE_REG_PIXEL_FORMAT,
    GIGE_REG_SENSOR_WIDTH_MIN, GIGE_REG_SENSOR_HEIGHT_MIN, GIGE_REG_ROI_WIDTH,
    GIGE_REG_ROI_HEIGHT,       GIGE_REG_FRAME_RATE_LIMIT,  GIGE_REG_BNS_MODE,
};

// Pixel formats that pack pixels more densely than one byte each: twelve-bit puts five pixels in
// eight bytes, the ten-bit codes (and the older code 3) three pixels in four bytes.
constexpr uint32_t twelveBitFormat = 48;

bool isTenBitFormat(uint32_t format)
{
    return format == 3 || (format >= 32 && format <= 35);
}

// The offset room is what the sensor maximum leaves beside the current ROI. A binned ROI may be
// wider than the unbinned maximum; the room is then 0 rather than a wrapped-around huge value.
uint32_t roomBeside(uint32_t limit, uint32_t size)
{
    return limit > size ? limit - size : 0;
}

uint64_t ceilDiv(uint64_t value, uint64_t divisor)
{
    return (value + divisor - 1) / divisor;
}

std::unique_ptr<SensorOperations> createForKind(SensorKind kind, uint32_t sensorType)
{
    switch (kind) {
    case SensorKind::Lince: return std::make_unique<LinceOperations>(sensorType);
    case SensorKind::Lupa: return std::make_unique<LupaOperations>(sensorType);
    case SensorKind::Lux13HS: return std::make_unique<Lux13HSOperations>(sensorType);
    case SensorKind::Lux19HS: return std::make_unique<Lux19HSOperations>(sensorType);
    case SensorKind::Unsupported: break;
    }
    HLV_LOG("Sensor type not supported [0x%08X]", sensorType);
    return nullptr;
}

std::unique_ptr<SensorOperations> createFor(uint32_t sensorType)
{
    auto info = findSensorType(sensorType);
    if (!info) {
        HLV_THROW(thread::LogicError, "Unknown sensor type [0x%08X]", sensorType);
    }
    return createForKind(info->kind, sensorType);
}

} // namespace

std::unique_ptr<SensorOperations> SensorOperations::factory(uint32_t sensorType)
{
    try {
        return createFor(sensorType);
    } catch (const thread::Exception& e) {
        HLV_LOG("Halvex Exception during sensor operations for %08X:\n%s", sensorType, e.str().c_str());
    } catch (const std::exception& e) {
        HLV_LOG("std::exception during sensor operations for %08X:\n%s", sensorType, e.what());
    }
    return nullptr;
}

SensorOperations::SensorOperations(uint32_t sensorType, const Capabilities& capabilities)
    : registers_(sensorRegisters.begin(), sensorRegisters.end()), sensorType_(sensorType), capabilities_(capabilities)
{
}

SensorOperations::~SensorOperations() = default;

void SensorOperations::setFlag(uint8_t flag)
{
    flag_ = flag;
}

uint64_t SensorOperations::frameSize(RegisterCache& regs) const
{
    uint64_t width = regs[GIGE_REG_ROI_WIDTH];
    uint64_t height = regs[GIGE_REG_ROI_HEIGHT];
    uint32_t format = regs[GIGE_REG_PIXEL_FORMAT];
    if (width == 0 || height == 0) {
        HLV_THROW(thread::LogicError, "Wrong W X H: %u X %u", static_cast<unsigned>(width),
                  static_cast<unsigned>(height));
    }
    if (format == twelveBitFormat) {
        return ceilDiv(width, 5) * height * 8;
    }
    if (isTenBitFormat(format)) {
        return ceilDiv(width, 3) * height * 4;
    }
    // One byte per pixel, each row padded to a multiple of four bytes.
    return ceilDiv(width, 4) * height * 4;
}

uint32_t SensorOperations::minFrameRate() const
{
    return 24;
}

uint32_t SensorOperations::frameRateStep() const
{
    return 1;
}

bool SensorOperations::isColour() const
{
    auto info = findSensorType(sensorType_);
    return info && info->colour && info->kind != SensorKind::Unsupported;
}

uint32_t SensorOperations::maxWidth(RegisterCache& regs) const
{
    return regs[GIGE_REG_SENSOR_WIDTH_MAX];
}

uint32_t SensorOperations::minWidth(RegisterCache& regs) const
{
    return regs[GIGE_REG_SENSOR_WIDTH_MIN];
}

uint32_t SensorOperations::widthStep() const
{
    return 4;
}

uint32_t SensorOperations::maxHeight(RegisterCache& regs) const
{
    return regs[GIGE_REG_SENSOR_HEIGHT_MAX];
}

uint32_t SensorOperations::minHeight(RegisterCache& regs) const
{
    return regs[GIGE_REG_SENSOR_HEIGHT_MIN];
}

uint32_t SensorOperations::heightStep() const
{
    return 2;
}

uint32_t SensorOperations::maxXOffset(RegisterCache& regs) const
{
    return roomBeside(maxWidth(regs), regs[GIGE_REG_ROI_WIDTH]);
}

uint32_t SensorOperations::minXOffset() const
{
    return 0;
}

uint32_t SensorOperations::xOffsetStep() const
{
    return 4;
}

uint32_t SensorOperations::maxYOffset(RegisterCache& regs) const
{
    return roomBeside(maxHeight(regs), regs[GIGE_REG_ROI_HEIGHT]);
}

uint32_t SensorOperations::minYOffset() const
{
    return 0;
}

uint32_t SensorOperations::yOffsetStep() const
{
    return 2;
}

uint32_t SensorOperations::cachedMaxFrameRate(RegisterCache& regs) const
{
    return maxFrameRate(regs[GIGE_REG_ROI_WIDTH], regs[GIGE_REG_ROI_HEIGHT], regs[GIGE_REG_ROI_X_OFFSET], 0,
                        regs[GIGE_REG_BNS_MODE], regs[GIGE_REG_FRAME_RATE_LIMIT]);
}

} // namespace halvex::sensors
