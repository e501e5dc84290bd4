// Capture validator: a requested HX_CAPTURE_SETTINGS checked field by field against the sensor
// and the image memory, and turned into the register writes the camera takes.
#include "family/capture_validator.h"

#include <cmath>
#include <limits>

#include <hlv_thread/log.h>
#include <hlv_thread/log_label.h>
#include <hlv_thread/note.h>

#include "family/capture_rules.h"
#include "records/field_flags.h"
#include "registers/register_map.h"

namespace halvex::family {

using sensors::SensorOperations;
using thread::SettingsException;

using namespace registers;
using records::flagSet;

namespace capture {

using namespace rules;

// --- Validation -------------------------------------------------------------------------------

CaptureValidator::CaptureValidator(const SensorOperations& sensor, RegisterCache sensorRegisters,
                                   RegisterCache captureRegisters, std::string cameraName, RateEncoding encoding)
    : sensor_(sensor), sensorRegs_(std::move(sensorRegisters)), captureRegs_(std::move(captureRegisters)),
      cameraName_(std::move(cameraName)), encoding_(encoding)
{
}

CaptureWrites CaptureValidator::validate(HX_CAPTURE_SETTINGS& record)
{
    CaptureWrites writes;
    if (flagSet(record.sensor_group_flags)) {
        validateSensor(record, writes);
    }
    if (flagSet(record.record_group_flags)) {
        validateRecord(record, writes);
    }
    if (flagSet(record.exposure_group_flags)) {
        validateExposure(record, writes);
    }
    return writes;
}

template <typename Check>
void CaptureValidator::field(uint32_t& fieldFlags, uint32_t& sectionFlags, Check check)
{
    if (!flagSet(fieldFlags)) {
        return;
    }
    try {
        check();
    } catch (const thread::Exception& refusal) {
        fieldFlags |= HX_FLAG_ERR;
        sectionFlags |= HX_FLAG_ERR;
        HLV_LOG("%s(%s): %s", HLV_LABEL("setCaptureSettings"), cameraName_.c_str(), refusal.str().c_str());
    }
}

void CaptureValidator::validateSensor(HX_CAPTURE_SETTINGS& record, CaptureWrites& writes)
{
    uint32_t& section = record.sensor_group_flags;
    bnsRequested_ = flagSet(record.bns_mode_flags);
    field(record.bit_mode_flags, section, [&] { checkBitMode(record, writes); });
    field(record.bns_mode_flags, section, [&] { checkBnsMode(record, writes); });
    field(record.fpn_mode_flags, section, [&] { checkFpnMode(record, writes); });
    field(record.width_flags, section, [&] { checkWidth(record, writes); });
    field(record.height_flags, section, [&] { checkHeight(record, writes); });
    field(record.x_offset_flags, section, [&] { checkXOffset(record, writes); });
    field(record.y_offset_flags, section, [&] { checkYOffset(record, writes); });
}

void CaptureValidator::checkBitMode(const HX_CAPTURE_SETTINGS& record, CaptureWrites& writes)
{
    const std::optional<uint32_t> code = bitModeToRegister(record.bit_mode);
    if (!code) {
        HLV_THROW(SettingsException, "Bit mode is not one of HX_BIT_MODE_*");
    }
    writes.record.push_back({GIGE_REG_PIXEL_FORMAT, *code});
}

void CaptureValidator::checkBnsMode(const HX_CAPTURE_SETTINGS& record, CaptureWrites& writes)
{
    const std::optional<uint32_t> code = bnsModeToRegister(record.bns_mode);
    if (!code) {
        HLV_THROW(SettingsException, "BNS mode is not one of HX_BNS_MODE_*");
    }
    writes.record.push_back({GIGE_REG_BNS_MODE, *code});
}

void CaptureValidator::checkFpnMode(const HX_CAPTURE_SETTINGS& record, CaptureWrites& writes)
{
    if (record.fpn_mode == HX_FPN_MODE_CALIBRATE) {
        HLV_THROW(SettingsException, "FPN Calibrate is not supported!");
    }
    const std::optional<uint32_t> code = fpnModeToRegister(record.fpn_mode);
    if (!code) {
        HLV_THROW(SettingsException, "FPN mode not within constraints");
    }
    writes.late.push_back({GIGE_REG_FPN_MODE, *code});
}

void CaptureValidator::checkWidth(const HX_CAPTURE_SETTINGS& record, CaptureWrites& writes)
{
    const uint32_t width = record.width;
    const bool fits = bnsRequested_ || width <= sensor_.maxWidth(sensorRegs_);
    if (!fits || width < sensor_.minWidth(sensorRegs_) || width % sensor_.widthStep() != 0) {
        HLV_THROW(SettingsException, "ROI width not within constraints");
    }
    acceptedWidth_ = width;
    writes.record.push_back({GIGE_REG_ROI_WIDTH, width});
}

void CaptureValidator::checkHeight(const HX_CAPTURE_SETTINGS& record, CaptureWrites& writes)
{
    const uint32_t height = record.height;
    const bool fits = bnsRequested_ || height <= sensor_.maxHeight(sensorRegs_);
    if (!fits || height < sensor_.minHeight(sensorRegs_) || height % sensor_.heightStep() != 0) {
        HLV_THROW(SettingsException, "ROI height not within constraints");
    }
    acceptedHeight_ = height;
    writes.record.push_back({GIGE_REG_ROI_HEIGHT, height});
}

void CaptureValidator::checkXOffset(const HX_CAPTURE_SETTINGS& record, CaptureWrites& writes)
{
    const uint32_t x = record.x_offset;
    const uint32_t width = acceptedWidth_.value_or(sensorRegs_[GIGE_REG_ROI_WIDTH]);
    const uint32_t maxWidth = sensor_.maxWidth(sensorRegs_);
    const bool fits = bnsRequested_ || (width <= maxWidth && x <= maxWidth - width);
    if (!fits || x < sensor_.minXOffset() || x % sensor_.xOffsetStep() != 0) {
        HLV_THROW(SettingsException, "ROI X offset not within constraints");
    }
    acceptedXOffset_ = x;
    writes.record.push_back({GIGE_REG_ROI_X_OFFSET, x});
}

void CaptureValidator::checkYOffset(const HX_CAPTURE_SETTINGS& record, CaptureWrites& writes)
{
    const uint32_t y = record.y_offset;
    const uint32_t height = acceptedHeight_.value_or(sensorRegs_[GIGE_REG_ROI_HEIGHT]);
    const uint32_t maxHeight = sensor_.maxHeight(sensorRegs_);
    const bool fits = bnsRequested_ || (height <= maxHeight && y <= maxHeight - height);
    if (!fits || y < sensor_.minYOffset() || y % sensor_.yOffsetStep() != 0) {
        HLV_THROW(SettingsException, "ROI Y offset not within constraints");
    }
    writes.record.push_back({GIGE_REG_ROI_Y_OFFSET, y});
}

ImageMemory CaptureValidator::memory()
{
    return ImageMemory(captureRegs_, sensor_.frameSize(sensorRegs_));
}

uint32_t CaptureValidator::recordModeInForce(const HX_CAPTURE_SETTINGS& /*record*/) const
{
    return acceptedRecordMode_.value_or(recordModeFromRegister(cachedValue(captureRegs_, GIGE_REG_RECORD_MODE)));
}

void CaptureValidator::validateRecord(HX_CAPTURE_SETTINGS& record, CaptureWrites& writes)
{
    uint32_t& section = record.record_group_flags;
    try {
        const ImageMemory area = memory();
        capacity_ = area.frameCapacity(uint64_t{area.end()} > area.base() ? area.end() - area.base() : 0);
    } catch (const thread::Exception&) {
        capacity_ = 0; // no geometry cached: every length and trigger is refused below
    }
    field(record.rate_flags, section, [&] { checkFrameRate(record, writes); });
    field(record.record_mode_flags, section, [&] { checkRecordMode(record, writes); });
    field(record.length_flags, section, [&] { checkLength(record, writes); });
    field(record.trigger_flags, section, [&] { checkTrigger(record, writes); });
}

void CaptureValidator::checkFrameRate(HX_CAPTURE_SETTINGS& record, CaptureWrites& writes)
{
    const uint32_t width = acceptedWidth_.value_or(sensorRegs_[GIGE_REG_ROI_WIDTH]);
    const uint32_t height = acceptedHeight_.value_or(sensorRegs_[GIGE_REG_ROI_HEIGHT]);
    const uint32_t x = acceptedXOffset_.value_or(sensorRegs_[GIGE_REG_ROI_X_OFFSET]);
    const uint32_t max = sensor_.maxFrameRate(width, height, x, 0, sensorRegs_[GIGE_REG_BNS_MODE],
                                              sensorRegs_[GIGE_REG_FRAME_RATE_LIMIT]);
    if (encoding_ == RateEncoding::Fractional) {
        checkFractionalFrameRate(record, writes, max);
        return;
    }
    if (record.rate_divisor > 1) {
        record.rate = static_cast<uint32_t>(
            std::trunc(static_cast<float>(record.rate) / static_cast<float>(record.rate_divisor)));
        record.rate_divisor = 1;
    }
    const uint32_t min = sensor_.minFrameRate();
    const uint32_t step = sensor_.frameRateStep();
    const uint32_t rate = record.rate;
    if (rate > max || rate < min || (step != 0 && rate % step != 0)) {
        HLV_THROW(SettingsException, "Frame rate not within constraints\n  max: %d\n  min: %d\n  mod: %d",
                  static_cast<int>(max), static_cast<int>(min), static_cast<int>(step));
    }
    writes.record.push_back({GIGE_REG_FRAME_RATE, rate});
}

// Cameras that hold fractional rates take rate / divisor exactly; the caller's words stay as
// they were, and there is no step to keep to.
void CaptureValidator::checkFractionalFrameRate(const HX_CAPTURE_SETTINGS& record, CaptureWrites& writes, uint32_t max)
{
    const float rate = record.rate_divisor >= 2
                           ? static_cast<float>(record.rate) / static_cast<float>(record.rate_divisor)
                           : static_cast<float>(record.rate);
    const uint32_t min = sensor_.minFrameRate();
    // Checked before encoding: a hostile rate times 65536 would not fit the register word.
    if (rate > static_cast<float>(max) || rate < static_cast<float>(min)) {
        HLV_THROW(SettingsException, "Frame rate not within constraints\n  max: %d\n  min: %d\n  mod: %d",
                  static_cast<int>(max), static_cast<int>(min), static_cast<int>(sensor_.frameRateStep()));
    }
    uint32_t value = record.rate;
    if (record.rate_divisor >= 2) {
        const float whole = std::trunc(rate);
        value = rate - whole >= 0.0000001f ? (static_cast<uint32_t>(std::trunc(rate * 65536.0f)) | FRACTIONAL_RATE)
                                           : static_cast<uint32_t>(whole);
    }
    writes.record.push_back({GIGE_REG_FRAME_RATE, value});
}

void CaptureValidator::checkRecordMode(const HX_CAPTURE_SETTINGS& record, CaptureWrites& writes)
{
    if (!isRecordMode(record.record_mode)) {
        HLV_THROW(SettingsException, "mode [%d] is not supported!", static_cast<int>(record.record_mode));
    }
    acceptedRecordMode_ = record.record_mode;
    writes.record.push_back({GIGE_REG_RECORD_MODE, record.record_mode});
}

void CaptureValidator::checkLength(HX_CAPTURE_SETTINGS& record, CaptureWrites& writes)
{
    const uint32_t length = record.length;
    if (length == 0) {
        HLV_THROW(SettingsException, "Zero record length");
    }
    const ImageMemory area = memory();
    if (recordModeInForce(record) != HX_RECORD_MODE_LTR) {
        checkStandardLength(record, writes, area);
        return;
    }
    if (length < MIN_BROC_LENGTH) {
        HLV_THROW(SettingsException, "LTR Mode IM Broc Under Minimum Recording Length");
    }
    if (length > capacity_) {
        HLV_THROW(SettingsException, "Length (%d frames @ %d) exceeds image memory capacity (%d frames)",
                  static_cast<int>(length), static_cast<int>(area.frameBytes()), static_cast<int>(capacity_));
    }
    writes.late.push_back({GIGE_REG_RECORD_END_SEGMENT, (area.reserve() >> 24) & 0xFF});
    writes.late.push_back({GIGE_REG_BROC_LENGTH, length});
}

// Outside LTR mode a recording ends on a memory segment, so the camera holds every frame up to
// that segment: the length the caller gets back is what the segment holds.
void CaptureValidator::checkStandardLength(HX_CAPTURE_SETTINGS& record, CaptureWrites& writes, const ImageMemory& area)
{
    const uint32_t length = record.length;
    const uint64_t end = area.memoryEnd(length);
    const uint64_t room = area.room();
    if (end > room) {
        HLV_THROW(SettingsException,
                  "Length %lluqw (%d frames @ %d) exceeds image memory capacity (%dqw - %dqw = %dqw)",
                  static_cast<unsigned long long>(end), static_cast<int>(length), static_cast<int>(area.frameBytes()),
                  static_cast<int>(area.limit()), static_cast<int>(area.reserve()), static_cast<int>(room));
    }
    const uint64_t units = end > area.base() ? end - area.base() : 0;
    const uint32_t fits = area.frameCapacity(units);
    if (end == room) {
        if (length > fits) {
            HLV_THROW(SettingsException, "Length (%d frames @ %d) exceeds image memory capacity (%d frames)",
                      static_cast<int>(length), static_cast<int>(area.frameBytes()), static_cast<int>(fits));
        }
        writes.late.push_back({GIGE_REG_RECORD_END_SEGMENT, (area.reserve() >> 24) & 0xFF});
    } else {
        writes.late.push_back({GIGE_REG_RECORD_END_SEGMENT, static_cast<uint32_t>(end >> 24)});
    }
    if (fits != length) {
        record.length = fits;
        record.length_flags |= HX_FLAG_CHG;
    }
    capacity_ = fits;
}

void CaptureValidator::checkTrigger(const HX_CAPTURE_SETTINGS& record, CaptureWrites& writes)
{
    const uint32_t trigger = record.trigger;
    if (recordModeInForce(record) == HX_RECORD_MODE_LTR && trigger != 0) {
        HLV_THROW(SettingsException, "Trigger must be a start trigger in IM_BROC!");
    }
    if (trigger > capacity_) {
        HLV_THROW(SettingsException, "Trigger not within constraints (%u > %u)", trigger, capacity_);
    }
    writes.late.push_back({GIGE_REG_TRIGGER_POSITION, trigger | TRIGGER_IN_FRAMES});
}

void CaptureValidator::validateExposure(HX_CAPTURE_SETTINGS& record, CaptureWrites& writes)
{
    uint32_t& section = record.exposure_group_flags;
    field(record.exposure_flags, section, [&] { checkExposure(record, writes); });
    field(record.low_light_flags, section, [&] { checkLowLight(record, writes); });
}

void CaptureValidator::checkExposure(const HX_CAPTURE_SETTINGS& record, CaptureWrites& writes)
{
    // The frame period in force is the camera's, not one asked for in the same record.
    const double rate = decodeFrameRate(captureRegs_[GIGE_REG_FRAME_RATE], encoding_);
    const uint32_t max = exposureCeiling(rate, captureRegs_[GIGE_REG_EXPOSURE_OVERHEAD], sensor_.minFrameRate());
    const uint32_t exposure = record.exposure;
    if (exposure < captureRegs_[GIGE_REG_EXPOSURE_MIN] || exposure > max) {
        HLV_THROW(SettingsException, "Exposure time not within constraints");
    }
    writes.record.push_back({GIGE_REG_EXPOSURE, exposure});
}

void CaptureValidator::checkLowLight(const HX_CAPTURE_SETTINGS& record, CaptureWrites& writes)
{
    const uint32_t exposure = record.low_light;
    if (exposure == 0) {
        writes.late.push_back({GIGE_REG_LOW_LIGHT_ENABLE, 0});
        return;
    }
    const uint32_t overhead = captureRegs_[GIGE_REG_EXPOSURE_OVERHEAD];
    if (exposure < lowLightMin(overhead) || exposure > lowLightMax(overhead)) {
        HLV_THROW(SettingsException, "Lowlight exposure time not within constraints");
    }
    writes.late.push_back({GIGE_REG_LOW_LIGHT_ENABLE, 1});
    writes.late.push_back({GIGE_REG_LOW_LIGHT_EXPOSURE, exposure});
}

} // namespace capture

} // namespace halvex::family
