// Lince sensor: its capabilities and its frame-rate timing model.
#include "sensors/lince_operations.h"

#include <algorithm>

#include <hx/hx.h>

namespace halvex::sensors {

namespace {

// The sensor reads out whole 64-column blocks of a 2560 x 2048 pixel array.
constexpr int64_t arrayColumns = 2560;
constexpr int64_t arrayRows = 2048;
constexpr int64_t columnBlock = 64;
// A readout window narrower than 80 columns per binning step is widened by one block at its
// start (unless it starts in the first block) and, if still too narrow, at its end (unless that
// would reach into the last block).
constexpr int64_t minimumColumnsPerStep = 80;
constexpr int64_t lastWidenableEnd = arrayColumns - columnBlock;
constexpr uint32_t fastTimingBit = 1u << 28;

// Row time (in sensor clocks) with the lead-in converted to rows and the fixed frame overhead.
struct RowTiming {
    int64_t rowTime;
    int64_t leadIn;
    int64_t overhead;
};

struct Binning {
    int64_t horizontal; // bits 0 to 7 of the BNS word
    int64_t factor;     // product of both factors, at least 1
};

Binning binningOf(uint32_t bnsMode)
{
    int64_t horizontal = bnsMode & 0xFF;
    int64_t factor = horizontal * ((bnsMode >> 8) & 0xFF);
    return {horizontal, factor == 0 ? 1 : factor};
}

int64_t roundDownToBlock(int64_t column)
{
    return column / columnBlock * columnBlock;
}

// Width in sensor columns of the block-aligned window the sensor reads for the ROI. A window
// that would run past the array is moved left to end at its last column.
int64_t readoutWindowColumns(int64_t factor, int64_t width, int64_t xOffset)
{
    int64_t columns = std::min(factor * width, arrayColumns);
    int64_t start = factor * xOffset + columns <= arrayColumns ? factor * xOffset : arrayColumns - columns;
    int64_t first = roundDownToBlock(start);
    int64_t end = roundDownToBlock(start + columns + columnBlock - 1);
    int64_t minimum = minimumColumnsPerStep * factor;
    if (end - first < minimum) {
        if (first >= columnBlock) {
            first -= columnBlock;
        }
        if (end - first < minimum && end < lastWidenableEnd) {
            end += columnBlock;
        }
    }
    return end - first;
}

int64_t rowTimeFor(int64_t columnsPerStep, bool horizontallyBinned)
{
    if (columnsPerStep < 769) {
        return horizontallyBinned ? 52 : 84;
    }
    if (columnsPerStep < 1281) {
        return 84;
    }
    if (columnsPerStep <= 1920) {
        return 124;
    }
    if (columnsPerStep <= 2048) {
        return 132;
    }
    return 165;
}

RowTiming timingFor(int64_t rowTime, bool fast)
{
    switch (rowTime) {
    case 52: return {52, 203, 680};
    case 84: return fast ? RowTiming{84, 98, 211} : RowTiming{84, 117, 251};
    case 165: return fast ? RowTiming{165, 168, 723} : RowTiming{165, 203, 858};
    default: return fast ? RowTiming{rowTime, 168, 735} : RowTiming{rowTime, 203, 1022};
    }
}

} // namespace

constexpr SensorOperations::Capabilities kLinceCapabilities{
    .analogGain = HX_ANALOG_GAIN_1_00 | HX_ANALOG_GAIN_2_00 | HX_ANALOG_GAIN_4_00,
    .bitMode = HX_BIT_MODE_8A | HX_BIT_MODE_8B | HX_BIT_MODE_8C | HX_BIT_MODE_8D | HX_BIT_MODE_8E | HX_BIT_MODE_10A |
               HX_BIT_MODE_10B | HX_BIT_MODE_10C | HX_BIT_MODE_12,
    .bnsMode =
        HX_BNS_MODE_1X1 | HX_BNS_MODE_1X2 | HX_BNS_MODE_1X4 | HX_BNS_MODE_2X1 | HX_BNS_MODE_4X1 | HX_BNS_MODE_2X2,
    .fpnMode = HX_FPN_MODE_OFF | HX_FPN_MODE_A | HX_FPN_MODE_B,
};

LinceOperations::LinceOperations(uint32_t sensorType) : SensorOperations(sensorType, kLinceCapabilities) {}

// The ROI geometry of this sensor is 16 bits wide; higher bits are not part of it.
uint32_t LinceOperations::maxFrameRate(uint32_t width, uint32_t height, uint32_t xOffset, uint32_t /*unused*/,
                                       uint32_t bnsMode, uint32_t ceiling) const
{
    Binning binning = binningOf(bnsMode);
    bool fast = (bnsMode & fastTimingBit) != 0;
    int64_t rows = std::min(binning.factor * static_cast<uint16_t>(height), arrayRows);
    int64_t columnsPerStep =
        readoutWindowColumns(binning.factor, static_cast<uint16_t>(width), static_cast<uint16_t>(xOffset)) /
        binning.factor;
    RowTiming timing = timingFor(rowTimeFor(columnsPerStep, binning.horizontal > 1), fast);
    int64_t leadInRows = (timing.leadIn + timing.rowTime - 1) / timing.rowTime;
    int64_t period = timing.overhead + 2 + (leadInRows + rows / binning.factor + 8) * timing.rowTime;
    int64_t clock = fast ? 72000000 : 86400000;
    return static_cast<uint32_t>(std::min<int64_t>(clock / period, ceiling));
}

} // namespace halvex::sensors
