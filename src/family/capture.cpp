// Family capture settings: encodings, image memory arithmetic, the record computed from the
// register caches, and the merge into a caller's record (validation: capture_validator.h).
#include "family/capture.h"

#include <array>
#include <cmath>
#include <limits>
#include <vector>

#include <hlv_thread/log.h>
#include <hlv_thread/log_label.h>
#include <hlv_thread/note.h>

#include "family/capture_rules.h"
#include "registers/register_map.h"

namespace halvex::family {

using sensors::SensorOperations;
using wire::RegisterPairs;

using namespace registers;

namespace capture {

HLV_LOG_NAMESPACE(FAMILY_CAPTURE);

using namespace rules;

namespace {

struct Code {
    uint32_t record;
    uint32_t reg;
};

constexpr std::array<Code, 9> bitModes{{{HX_BIT_MODE_8A, 16},
                                        {HX_BIT_MODE_8B, 17},
                                        {HX_BIT_MODE_8C, 18},
                                        {HX_BIT_MODE_8D, 19},
                                        {HX_BIT_MODE_8E, 20},
                                        {HX_BIT_MODE_10A, 32},
                                        {HX_BIT_MODE_10B, 33},
                                        {HX_BIT_MODE_10C, 35},
                                        {HX_BIT_MODE_12, 48}}};
constexpr std::array<Code, 6> bnsModes{{{HX_BNS_MODE_1X1, 0x101},
                                        {HX_BNS_MODE_1X2, 0x102},
                                        {HX_BNS_MODE_1X4, 0x104},
                                        {HX_BNS_MODE_2X1, 0x201},
                                        {HX_BNS_MODE_4X1, 0x401},
                                        {HX_BNS_MODE_2X2, 0x202}}};
constexpr std::array<Code, 3> fpnModes{{{HX_FPN_MODE_OFF, 0}, {HX_FPN_MODE_A, 1}, {HX_FPN_MODE_B, 4}}};
constexpr std::array<Code, 8> gains{{{HX_ANALOG_GAIN_1_00, 100},
                                     {HX_ANALOG_GAIN_1_50, 150},
                                     {HX_ANALOG_GAIN_2_00, 200},
                                     {HX_ANALOG_GAIN_2_50, 250},
                                     {HX_ANALOG_GAIN_3_00, 300},
                                     {HX_ANALOG_GAIN_3_50, 350},
                                     {HX_ANALOG_GAIN_4_00, 400},
                                     {HX_ANALOG_GAIN_4_50, 450}}};

template <std::size_t N>
std::optional<uint32_t> toRegister(const std::array<Code, N>& table, uint32_t record)
{
    for (const Code& code : table) {
        if (code.record == record) {
            return code.reg;
        }
    }
    return std::nullopt;
}

} // namespace

double decodeFrameRate(uint32_t value, RateEncoding encoding)
{
    if (encoding == RateEncoding::Fractional && (value & FRACTIONAL_RATE) != 0) {
        return static_cast<double>(value & ~FRACTIONAL_RATE) / FRACTION_UNIT;
    }
    return value;
}

std::optional<uint32_t> bitModeToRegister(uint32_t bitMode)
{
    return toRegister(bitModes, bitMode);
}

uint32_t bitModeFromRegister(uint32_t code)
{
    switch (code) {
    case 0:
    case 16: return HX_BIT_MODE_8A;
    case 1:
    case 18: return HX_BIT_MODE_8C;
    case 3:
    case 32: return HX_BIT_MODE_10A;
    case 17: return HX_BIT_MODE_8B;
    case 19: return HX_BIT_MODE_8D;
    case 33: return HX_BIT_MODE_10B;
    case 35: return HX_BIT_MODE_10C;
    case 48: return HX_BIT_MODE_12;
    default: return HX_BIT_MODE_8E;
    }
}

std::optional<uint32_t> bnsModeToRegister(uint32_t bnsMode)
{
    return toRegister(bnsModes, bnsMode);
}

uint32_t bnsModeFromRegister(uint32_t code)
{
    for (const Code& mode : bnsModes) {
        if (mode.reg == code) {
            return mode.record;
        }
    }
    return HX_BNS_MODE_1X1;
}

std::optional<uint32_t> fpnModeToRegister(uint32_t fpnMode)
{
    return toRegister(fpnModes, fpnMode);
}

uint32_t fpnModeFromRegister(uint32_t code)
{
    if ((code & 0x1) != 0) {
        return HX_FPN_MODE_A;
    }
    if ((code & 0x4) != 0) {
        return (code & 0x10) != 0 ? (HX_FPN_MODE_B | HX_FPN_MODE_B_EXTRA) : HX_FPN_MODE_B;
    }
    return HX_FPN_MODE_OFF;
}

bool isRecordMode(uint32_t mode)
{
    return mode == 0 || (mode >= 2 && mode <= 5);
}

uint32_t recordModeFromRegister(uint32_t code)
{
    if ((code & PAGE_MODE) == 0) {
        return (code & (1u << 27)) != 0 ? 2 : 0;
    }
    if ((code & (1u << 28)) != 0) {
        return 5;
    }
    return (code & (1u << 29)) != 0 ? 4 : 3;
}

namespace {

// The components of a version text, each built digit by digit without a check (as cameras write
// only digits and dots there).
std::vector<uint64_t> versionComponents(const std::string& text)
{
    std::vector<uint64_t> components{0};
    for (char c : text) {
        if (c == '\0') {
            break;
        }
        if (c == '.') {
            components.push_back(0);
            continue;
        }
        components.back() = components.back() * 10 + static_cast<uint64_t>(c - '0');
    }
    return components;
}

} // namespace

int compareVersions(const std::string& a, const std::string& b)
{
    const std::vector<uint64_t> left = versionComponents(a);
    const std::vector<uint64_t> right = versionComponents(b);
    for (std::size_t i = 0; i < std::max(left.size(), right.size()); ++i) {
        const uint64_t l = i < left.size() ? left[i] : 0;
        const uint64_t r = i < right.size() ? right[i] : 0;
        if (l != r) {
            return l > r ? 1 : -1;
        }
    }
    return 0;
}

uint32_t analogGainFromRegister(uint32_t value)
{
    for (const Code& gain : gains) {
        if (gain.reg == (value & ~GAIN_FLAG)) {
            return gain.record;
        }
    }
    return HX_ANALOG_GAIN_1_00;
}

std::optional<uint32_t> analogGainToRegister(uint32_t gain)
{
    return toRegister(gains, gain);
}

// --- Image memory -------------------------------------------------------------------------------

ImageMemory::ImageMemory(const RegisterCache& capture, uint64_t frameBytes)
    : frameBytes_(frameBytes), pageMode_((cachedValue(capture, GIGE_REG_RECORD_MODE) & PAGE_MODE) != 0),
      pages_(cachedValue(capture, GIGE_REG_IMAGE_MEM_PAGES)), base_(cachedValue(capture, GIGE_REG_IMAGE_MEM_BASE)),
      end_(cachedValue(capture, GIGE_REG_IMAGE_MEM_END)), reserve_(cachedValue(capture, GIGE_REG_IMAGE_MEM_RESERVE)),
      limit_(cachedValue(capture, GIGE_REG_IMAGE_MEM_LIMIT))
{
}

uint64_t ImageMemory::frameUnits() const
{
    return ((frameBytes_ + 15) / 16 * 16 + 32) / 16;
}

uint32_t ImageMemory::frameCapacity(uint64_t units) const
{
    if (frameBytes_ == 0) {
        HLV_THROW(thread::LogicError, "Computed 0-length frame");
    }
    if (pageMode_) {
        const uint64_t pagesPerFrame = (frameBytes_ + 4095) / 4096;
        return clamp32(pages_ / pagesPerFrame / 128 * 128);
    }
    return clamp32(units / frameUnits());
}

uint64_t ImageMemory::memoryEnd(uint32_t frames) const
{
    uint64_t end = frameUnits() * frames + base_;
    if (end % SEGMENT != 0) {
        end = (end / SEGMENT + 1) * SEGMENT;
    }
    // A recording ending exactly at the reserve wraps to the start of the memory; never below 0.
    if (end == reserve_ && end >= limit_) {
        end -= limit_;
    }
    return end;
}

uint64_t ImageMemory::room() const
{
    return limit_ > reserve_ ? uint64_t{limit_} - reserve_ : 0;
}

uint64_t ImageMemory::usableUnits() const
{
    const uint64_t above = uint64_t{base_} + reserve_;
    return limit_ > above ? limit_ - above : 0;
}

uint32_t ImageMemory::lengthMax() const
{
    return frameCapacity(usableUnits());
}

// --- Writes -----------------------------------------------------------------------------------

RegisterPairs CaptureWrites::ordered() const
{
    RegisterPairs all;
    if (!record.empty()) {
        all.push_back({GIGE_REG_SETTINGS_BATCH, 1});
        all.insert(all.end(), record.begin(), record.end());
        all.push_back({GIGE_REG_SETTINGS_BATCH, 0});
    }
    all.insert(all.end(), late.begin(), late.end());
    return all;
}

// --- Computation ------------------------------------------------------------------------------

namespace {

void computeSensorSection(const SensorOperations& sensor, RegisterCache& regs, HX_CAPTURE_SETTINGS& record)
{
    record.bit_mode = bitModeFromRegister(regs[GIGE_REG_PIXEL_FORMAT]);
    record.bit_mode_caps = sensor.bitModeCapabilities();
    record.bns_mode = bnsModeFromRegister(regs[GIGE_REG_BNS_MODE]);
    record.bns_mode_caps = sensor.bnsModeCapabilities();
    record.width = regs[GIGE_REG_ROI_WIDTH];
    record.width_max = sensor.maxWidth(regs);
    record.width_min = sensor.minWidth(regs);
    record.width_constr = sensor.widthStep();
    record.height = regs[GIGE_REG_ROI_HEIGHT];
    record.height_max = sensor.maxHeight(regs);
    record.height_min = sensor.minHeight(regs);
    record.height_constr = sensor.heightStep();
    record.x_offset = regs[GIGE_REG_ROI_X_OFFSET];
    record.x_offset_max = sensor.maxXOffset(regs);
    record.x_offset_min = sensor.minXOffset();
    record.x_offset_constr = sensor.xOffsetStep();
    record.y_offset = regs[GIGE_REG_ROI_Y_OFFSET];
    record.y_offset_max = sensor.maxYOffset(regs);
    record.y_offset_min = sensor.minYOffset();
    record.y_offset_constr = sensor.yOffsetStep();
}

uint32_t currentLength(RegisterCache& capture, const ImageMemory& memory, uint32_t recordMode, uint32_t lengthMax)
{
    if (recordMode == HX_RECORD_MODE_LTR) {
        return std::min(std::max(capture[GIGE_REG_BROC_LENGTH], MIN_BROC_LENGTH), lengthMax);
    }
    // A segment at or below the base (the reserve's partition byte) means the whole memory.
    const uint64_t end = uint64_t{capture[GIGE_REG_RECORD_END_SEGMENT]} << 24;
    if (end <= memory.base() || end - memory.base() >= memory.usableUnits()) {
        return lengthMax;
    }
    return memory.frameCapacity(end - memory.base());
}

uint32_t currentTrigger(uint32_t position, uint32_t length)
{
    if ((position & TRIGGER_IN_FRAMES) != 0) {
        return position & ~TRIGGER_IN_FRAMES;
    }
    const double frames = (static_cast<double>(length) - 1.0) * position / 100.0 + 0.5;
    return frames > 0 ? static_cast<uint32_t>(frames) : 0;
}

void computeFrameRate(RegisterCache& capture, const std::string& cameraName, uint32_t minRate, RateEncoding encoding,
                      HX_CAPTURE_SETTINGS& record)
{
    const uint32_t value = capture[GIGE_REG_FRAME_RATE];
    record.rate = value;
    record.rate_divisor = 1;
    if (encoding == RateEncoding::Fractional && (value & FRACTIONAL_RATE) != 0) {
        record.rate = value & ~FRACTIONAL_RATE;
        record.rate_divisor = static_cast<uint32_t>(FRACTION_UNIT);
    }
    if (record.rate == 0) {
        record.rate = minRate;
        record.rate_divisor = 1;
        HLV_LOG("%s(%s): Camera returned 0 FPS; force to %d FPS", HLV_LABEL("getCaptureSettings"), cameraName.c_str(),
                static_cast<int>(minRate));
    }
}

void computeRecordSection(const SensorOperations& sensor, RegisterCache& sensorRegs, RegisterCache& capture,
                          const std::string& cameraName, RateEncoding encoding, HX_CAPTURE_SETTINGS& record)
{
    const ImageMemory memory(capture, sensor.frameSize(sensorRegs));
    record.record_mode = recordModeFromRegister(capture[GIGE_REG_RECORD_MODE]);
    record.length_max = memory.lengthMax();
    record.length = currentLength(capture, memory, record.record_mode, record.length_max);
    record.trigger = currentTrigger(capture[GIGE_REG_TRIGGER_POSITION], record.length);
    computeFrameRate(capture, cameraName, sensor.minFrameRate(), encoding, record);
    record.rate_max = sensor.cachedMaxFrameRate(sensorRegs);
    record.rate_min = sensor.minFrameRate();
    record.rate_constr = sensor.frameRateStep();
}

void computeExposureSection(RegisterCache& capture, uint32_t minRate, HX_CAPTURE_SETTINGS& record)
{
    const uint32_t overhead = capture[GIGE_REG_EXPOSURE_OVERHEAD];
    const double rate = static_cast<double>(record.rate) / std::max(record.rate_divisor, 1u);
    record.exposure = capture[GIGE_REG_EXPOSURE];
    record.exposure_min = capture[GIGE_REG_EXPOSURE_MIN];
    record.exposure_max = exposureCeiling(rate, overhead, minRate);
    record.exposure_constr = 1;
    record.low_light = capture[GIGE_REG_LOW_LIGHT_ENABLE] != 0 ? capture[GIGE_REG_LOW_LIGHT_EXPOSURE] : 0;
    record.low_light_min = lowLightMin(overhead);
    record.low_light_max = lowLightMax(overhead);
}

} // namespace

void computeCapture(const SensorOperations& sensor, RegisterCache& sensorRegisters, RegisterCache& captureRegisters,
                    const std::string& cameraName, HX_CAPTURE_SETTINGS& record, RateEncoding encoding)
{
    record.fpn_mode = fpnModeFromRegister(captureRegisters[GIGE_REG_FPN_MODE]);
    record.fpn_mode_caps = sensor.fpnModeCapabilities();
    computeSensorSection(sensor, sensorRegisters, record);
    computeRecordSection(sensor, sensorRegisters, captureRegisters, cameraName, encoding, record);
    computeExposureSection(captureRegisters, sensor.minFrameRate(), record);
}

namespace {

// "width 2147483904 above 2048" when the value passes a known limit (0: none known).
std::string outside(const char* what, uint64_t value, uint64_t low, uint64_t high)
{
    if (value < low)
        return std::string(what) + " " + std::to_string(value) + " below " + std::to_string(low);
    if (high != 0 && value > high)
        return std::string(what) + " " + std::to_string(value) + " above " + std::to_string(high);
    return {};
}

} // namespace

std::string implausibleCapture(const HX_CAPTURE_SETTINGS& record)
{
    const uint64_t rightEdge = uint64_t{record.x_offset} + record.width;
    const uint64_t bottomEdge = uint64_t{record.y_offset} + record.height;
    // Judged by what the camera holds now, not by what was once written: a camera met already
    // binned is judged as binned, and one unbinned since is held to the sensor again.
    const bool binned = record.bns_mode != HX_BNS_MODE_1X1;
    const uint64_t widthMax = binned ? 0 : record.width_max;
    const uint64_t heightMax = binned ? 0 : record.height_max;
    for (std::string reason :
         {outside("width", record.width, record.width_min, widthMax),
          outside("height", record.height, record.height_min, heightMax), outside("right edge", rightEdge, 0, widthMax),
          outside("bottom edge", bottomEdge, 0, heightMax),
          outside("exposure", record.exposure, 0, exposureCeiling(0, 0, record.rate_min))}) {
        if (!reason.empty())
            return reason;
    }
    return {};
}

bool readsBackAs(uint32_t reg, uint32_t written, uint32_t held)
{
    if (reg == GIGE_REG_RECORD_MODE)
        return recordModeFromRegister(held) == written;
    return held == written;
}

// --- Merge --------------------------------------------------------------------------------------

namespace {

// One field group of the record: its value words (unused slots null), its flags word and its
// section's flags word.
struct MergeGroup {
    std::array<uint32_t HX_CAPTURE_SETTINGS::*, 4> values;
    uint32_t HX_CAPTURE_SETTINGS::*flags;
    uint32_t HX_CAPTURE_SETTINGS::*section;
};

void mergeGroup(const MergeGroup& group, const HX_CAPTURE_SETTINGS& cached, HX_CAPTURE_SETTINGS& caller)
{
    bool differs = false;
    for (uint32_t HX_CAPTURE_SETTINGS::*value : group.values) {
        differs = differs || (value != nullptr && caller.*value != cached.*value);
    }
    if (!differs) {
        return;
    }
    for (uint32_t HX_CAPTURE_SETTINGS::*value : group.values) {
        if (value != nullptr) {
            caller.*value = cached.*value;
        }
    }
    caller.*(group.flags) |= HX_FLAG_CHG;
    caller.*(group.section) |= HX_FLAG_CHG;
}

const std::array<MergeGroup, 13>& captureGroups()
{
    using R = HX_CAPTURE_SETTINGS;
    static const std::array<MergeGroup, 13> groups{{
        {{&R::bit_mode, &R::bit_mode_caps}, &R::bit_mode_flags, &R::sensor_group_flags},
        {{&R::bns_mode, &R::bns_mode_caps}, &R::bns_mode_flags, &R::sensor_group_flags},
        {{&R::fpn_mode, &R::fpn_mode_caps}, &R::fpn_mode_flags, &R::sensor_group_flags},
        {{&R::width, &R::width_max, &R::width_min, &R::width_constr}, &R::width_flags, &R::sensor_group_flags},
        {{&R::height, &R::height_max, &R::height_min, &R::height_constr}, &R::height_flags, &R::sensor_group_flags},
        {{&R::x_offset, &R::x_offset_max, &R::x_offset_min, &R::x_offset_constr},
         &R::x_offset_flags,
         &R::sensor_group_flags},
        {{&R::y_offset, &R::y_offset_max, &R::y_offset_min, &R::y_offset_constr},
         &R::y_offset_flags,
         &R::sensor_group_flags},
        {{&R::record_mode}, &R::record_mode_flags, &R::record_group_flags},
        {{&R::length, &R::length_max}, &R::length_flags, &R::record_group_flags},
        {{&R::trigger}, &R::trigger_flags, &R::record_group_flags},
        {{&R::rate, &R::rate_max, &R::rate_min, &R::rate_constr}, &R::rate_flags, &R::record_group_flags},
        {{&R::exposure, &R::exposure_max, &R::exposure_min, &R::exposure_constr},
         &R::exposure_flags,
         &R::exposure_group_flags},
        {{&R::low_light}, &R::low_light_flags, &R::exposure_group_flags},
    }};
    return groups;
}

} // namespace

void mergeCapture(const HX_CAPTURE_SETTINGS& cached, HX_CAPTURE_SETTINGS& caller)
{
    for (const MergeGroup& group : captureGroups()) {
        mergeGroup(group, cached, caller);
    }
    caller.rate_divisor = cached.rate_divisor;
    caller.low_light_min = cached.low_light_min;
    caller.low_light_max = cached.low_light_max;
    for (uint32_t section : {caller.sensor_group_flags, caller.record_group_flags, caller.exposure_group_flags}) {
        if ((section & HX_FLAG_CHG) != 0) {
            caller.flags |= HX_FLAG_CHG;
        }
    }
}

void summariseCaptureFlags(HX_CAPTURE_SETTINGS& record)
{
    record.flags &= ~OUTCOME;
    for (uint32_t section : {record.sensor_group_flags, record.record_group_flags, record.exposure_group_flags}) {
        record.flags |= section & OUTCOME;
    }
}

void clearCaptureOutcome(HX_CAPTURE_SETTINGS& record)
{
    using R = HX_CAPTURE_SETTINGS;
    for (uint32_t R::*flags :
         {&R::flags, &R::sensor_group_flags, &R::bit_mode_flags, &R::bns_mode_flags, &R::fpn_mode_flags,
          &R::width_flags, &R::height_flags, &R::x_offset_flags, &R::y_offset_flags, &R::record_group_flags,
          &R::record_mode_flags, &R::length_flags, &R::trigger_flags, &R::rate_flags, &R::exposure_group_flags,
          &R::exposure_flags, &R::low_light_flags}) {
        record.*flags &= ~OUTCOME;
    }
}

} // namespace capture

} // namespace halvex::family
