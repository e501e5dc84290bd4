// Capture validator: a requested HX_CAPTURE_SETTINGS checked field by field against the sensor
// and the image memory, and turned into the register writes the camera takes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <hx/hx.h>

#include <hlv_thread/log_label.h>

#include "family/capture.h"
#include "registers/register_cache.h"
#include "sensors/sensor_operations.h"

namespace halvex::family::capture {

// Checks the fields of a record that are marked Set (in a section marked Set) against the sensor
// and the image memory, one field at a time: a refused field gets HX_FLAG_ERR in its own and its
// section's flags word and its reason is logged; the accepted ones become register writes. Works
// on copies of the caches, so it may run without the owner's state mutex.
class CaptureValidator {
    HLV_LOG_CLASS(CaptureValidator);

public:
    CaptureValidator(const sensors::SensorOperations& sensor, registers::RegisterCache sensorRegisters,
                     registers::RegisterCache captureRegisters, std::string cameraName,
                     RateEncoding encoding = RateEncoding::WholeFrames);

    CaptureWrites validate(HX_CAPTURE_SETTINGS& record);

private:
    void validateSensor(HX_CAPTURE_SETTINGS& record, CaptureWrites& writes);
    void validateRecord(HX_CAPTURE_SETTINGS& record, CaptureWrites& writes);
    void validateExposure(HX_CAPTURE_SETTINGS& record, CaptureWrites& writes);

    void checkBitMode(const HX_CAPTURE_SETTINGS& record, CaptureWrites& writes);
    void checkBnsMode(const HX_CAPTURE_SETTINGS& record, CaptureWrites& writes);
    void checkFpnMode(const HX_CAPTURE_SETTINGS& record, CaptureWrites& writes);
    void checkWidth(const HX_CAPTURE_SETTINGS& record, CaptureWrites& writes);
    void checkHeight(const HX_CAPTURE_SETTINGS& record, CaptureWrites& writes);
    void checkXOffset(const HX_CAPTURE_SETTINGS& record, CaptureWrites& writes);
    void checkYOffset(const HX_CAPTURE_SETTINGS& record, CaptureWrites& writes);
    void checkFrameRate(HX_CAPTURE_SETTINGS& record, CaptureWrites& writes);
    void checkFractionalFrameRate(const HX_CAPTURE_SETTINGS& record, CaptureWrites& writes, uint32_t max);
    void checkRecordMode(const HX_CAPTURE_SETTINGS& record, CaptureWrites& writes);
    void checkLength(HX_CAPTURE_SETTINGS& record, CaptureWrites& writes);
    void checkStandardLength(HX_CAPTURE_SETTINGS& record, CaptureWrites& writes, const ImageMemory& memory);
    void checkTrigger(const HX_CAPTURE_SETTINGS& record, CaptureWrites& writes);
    void checkExposure(const HX_CAPTURE_SETTINGS& record, CaptureWrites& writes);
    void checkLowLight(const HX_CAPTURE_SETTINGS& record, CaptureWrites& writes);

    // Runs one field's check; a SettingsException refuses that field only.
    template <typename Check>
    void field(uint32_t& fieldFlags, uint32_t& sectionFlags, Check check);

    ImageMemory memory();
    uint32_t recordModeInForce(const HX_CAPTURE_SETTINGS& record) const;

    const sensors::SensorOperations& sensor_;
    registers::RegisterCache sensorRegs_;
    registers::RegisterCache captureRegs_;
    std::string cameraName_;
    RateEncoding encoding_;
    bool bnsRequested_ = false;
    std::optional<uint32_t> acceptedWidth_;
    std::optional<uint32_t> acceptedHeight_;
    std::optional<uint32_t> acceptedXOffset_;
    std::optional<uint32_t> acceptedRecordMode_;
    uint32_t capacity_ = 0;
};

} // namespace halvex::family::capture
