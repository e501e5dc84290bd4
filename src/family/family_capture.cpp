// Family capture: the capture settings read until plausible, validated, written in one exchange
// and confirmed; the analog gain read and written.
#include "family/family_capture.h"

#include <exception>

#include <hlv_thread/log.h>
#include <hlv_thread/log_label.h>
#include <hlv_thread/note.h>

#include "control/register_channel.h"
#include "family/capture_validator.h"
#include "family/family_identity.h"
#include "family/operation_labels.h"
#include "family/settings_access.h"
#include "family/streaming.h"
#include "registers/register_map.h"

namespace halvex::family {

using control::describeWriteMultiRegFailure;
using control::describeWriteRegFailure;
using thread::SettingsException;
using wire::RegisterPairs;

using namespace registers;
using namespace capture;

namespace {

constexpr uint32_t GAIN_FLAG = 1u << 31;
// Cameras from this firmware on take bit 31 of the analog gain register as a flag.
constexpr const char* GAIN_FLAG_FIRMWARE = "2.5.2";
// Reads of the capture settings before a value that looks corrupted is believed or given up.
constexpr unsigned CAPTURE_READS = 3;

} // namespace

FamilyCapture::FamilyCapture(FamilyCamera& camera, FamilyStreaming& streaming, FamilyIdentity& identity)
    : camera_(camera), streaming_(streaming), identity_(identity)
{
}

std::string FamilyCapture::implausibleLocked() const
{
    return capture::implausibleCapture(camera_.cached.captureSettings);
}

void FamilyCapture::refreshCaptureGroups()
{
    if (!camera_.groups.refresh(RegisterGroup::Sensor) || !camera_.groups.refresh(RegisterGroup::Capture)) {
        HLV_THROW(thread::RuntimeError, "%s(%s): Unable to read the capture settings from the camera",
                  HLV_LABEL("getCaptureSettings"), camera_.name.c_str());
    }
}

void FamilyCapture::computeCaptureLocked()
{
    computeCapture(camera_.operations.sensor(), camera_.groups.registers(RegisterGroup::Sensor),
                   camera_.groups.registers(RegisterGroup::Capture), camera_.name, camera_.cached.captureSettings,
                   camera_.traits.rates);
}

void FamilyCapture::computeAnalogGainLocked()
{
    camera_.cached.analogGain.gain =
        analogGainFromRegister(camera_.groups.registers(RegisterGroup::Sensor)[GIGE_REG_ANALOG_GAIN]);
    camera_.cached.analogGain.gain_caps = camera_.operations.sensor().analogGainCapabilities();
}

void FamilyCapture::getCaptureSettings(HX_CAPTURE_SETTINGS* out)
{
    bool trusted = false;
    {
        std::lock_guard<std::mutex> state(camera_.state);
        trusted = camera_.cached.captureSettingsValid != 0 && camera_.subscriptions != 0;
    }
    if (!trusted)
        readCapture();
    std::lock_guard<std::mutex> state(camera_.state);
    if (out != nullptr) {
        *out = camera_.cached.captureSettings;
    }
}

// Reads the capture groups until they give a record some camera could hold: the protocol has no
// checksum, so a value with a flipped bit is told only by its implausibility, and another read
// brings the camera's own. A camera whose values stay implausible fails the call.
void FamilyCapture::readCapture()
{
    static constexpr const char* method = HLV_LABEL("getCaptureSettings");
    std::string reason;
    for (unsigned read = 1; read <= CAPTURE_READS; ++read) {
        refreshCaptureGroups();
        std::lock_guard<std::mutex> state(camera_.state);
        try {
            computeCaptureLocked();
            computeAnalogGainLocked();
            reason = implausibleLocked();
        } catch (const thread::LogicError& error) {
            reason = error.str(); // no frame geometry at all
        }
        // Without subscribers nothing tells the cache of changes, so every read goes to the camera.
        camera_.cached.captureSettingsValid = reason.empty() && camera_.subscriptions != 0 ? 1 : 0;
        camera_.cached.analogGainValid = camera_.cached.captureSettingsValid;
        if (reason.empty())
            return;
        HLV_LOG("%s(%s): The camera reported an implausible capture setting (%s), read %u of %u", method,
                camera_.name.c_str(), reason.c_str(), read, CAPTURE_READS);
    }
    HLV_THROW(thread::LogicError, "%s(%s): The capture settings stay implausible after %u reads: %s", method,
              camera_.name.c_str(), CAPTURE_READS, reason.c_str());
}

// Validates against the camera's current values, writes what was accepted in one exchange, and
// hands back what the camera holds afterwards. Setters of one camera are serialised, so two
// threads never interleave their validation and writes.
void FamilyCapture::setCaptureSettings(HX_CAPTURE_SETTINGS* inOut)
{
    settings::enterSetter(camera_, labels::SET_CAPTURE, inOut);
    HX_CAPTURE_SETTINGS& record = *inOut;
    std::lock_guard<std::mutex> serialised(camera_.settings);
    clearCaptureOutcome(record);
    bool failed = false;
    try {
        readCaptureForValidation();
        RegisterCache sensorRegisters;
        RegisterCache captureRegisters;
        {
            std::lock_guard<std::mutex> state(camera_.state);
            sensorRegisters = camera_.groups.registers(RegisterGroup::Sensor);
            captureRegisters = camera_.groups.registers(RegisterGroup::Capture);
        }
        CaptureValidator validator(camera_.operations.sensor(), std::move(sensorRegisters), std::move(captureRegisters),
                                   camera_.name, camera_.traits.rates);
        const CaptureWrites writes = validator.validate(record);
        if (!writes.empty()) {
            // Live images take the new region's size: live stops around the write and restarts
            // however the write ends.
            FamilyStreaming::LiveStreamPause livePause(streaming_);
            applyCaptureWrites(writes);
        }
        mergeCameraCapture(record);
    } catch (const SettingsException& error) {
        HLV_LOG("Settings exception: %s", error.str().c_str());
        failed = true;
    } catch (const thread::Exception& error) {
        HLV_LOG("Program exception: %s", error.str().c_str());
        failed = true;
    } catch (const std::exception& error) {
        HLV_LOG("Program exception: %s", error.what());
        failed = true;
    }
    summariseCaptureFlags(record);
    if (failed) {
        record.flags |= HX_FLAG_ERR;
    }
}

// Brings the registers the validation reads up to date. A record that cannot be computed from
// them (the camera reports an empty ROI) must not keep the caller from writing a new ROI.
void FamilyCapture::readCaptureForValidation()
{
    try {
        getCaptureSettings(nullptr);
    } catch (const thread::LogicError& error) {
        HLV_LOG("%s(%s): %s", HLV_LABEL("setCaptureSettings"), camera_.name.c_str(), error.str().c_str());
    }
}

void FamilyCapture::applyCaptureWrites(const CaptureWrites& writes)
{
    const RegisterPairs written = writes.ordered();
    const uint32_t result = camera_.channel.writeMultiReg(written);
    {
        std::lock_guard<std::mutex> state(camera_.state);
        camera_.cached.captureSettingsValid = 0;
        camera_.cached.analogGainValid = 0;
    }
    // A failed write leaves the caller's values as they were, the record as a whole marked refused
    // by the caller; nothing is read back.
    if (result != 0)
        HLV_THROW(thread::LogicError, "%s", describeWriteMultiRegFailure(result).c_str());
    confirmCaptureWrites(written);
}

// A read-back that shows every value as written is taken at once. One that differs may be the
// camera's adjustment (a clamped value) or a bit flipped on the way back: it is read again and
// taken only when two reads in a row agree.
void FamilyCapture::confirmCaptureWrites(const RegisterPairs& written)
{
    std::optional<RegisterPairs> previous;
    for (unsigned read = 1; read <= CAPTURE_READS; ++read) {
        readCapture();
        std::lock_guard<std::mutex> state(camera_.state);
        bool asWritten = true;
        RegisterPairs held;
        for (const auto& [reg, value] : written) {
            const std::optional<uint32_t> cached = cachedCaptureRegister(reg);
            if (!cached)
                continue;
            held.push_back({reg, *cached});
            asWritten = asWritten && capture::readsBackAs(reg, value, *cached);
        }
        if (asWritten || held == previous)
            return;
        // Not for other readers until confirmed.
        camera_.cached.captureSettingsValid = 0;
        camera_.cached.analogGainValid = 0;
        previous = std::move(held);
    }
    HLV_THROW(thread::LogicError,
              "%s(%s): The capture settings read back differently each time after the write (%u reads)",
              HLV_LABEL("setCaptureSettings"), camera_.name.c_str(), CAPTURE_READS);
}

// A written register's value in the sensor or capture cache; nothing for one neither holds (the
// settings batch). State mutex held.
std::optional<uint32_t> FamilyCapture::cachedCaptureRegister(uint32_t reg) const
{
    for (RegisterGroup id : {RegisterGroup::Capture, RegisterGroup::Sensor}) {
        const RegisterCache& cache = camera_.groups.registers(id);
        if (const auto found = cache.find(reg); found != cache.end())
            return found->second;
    }
    return std::nullopt;
}

void FamilyCapture::mergeCameraCapture(HX_CAPTURE_SETTINGS& record)
{
    HX_CAPTURE_SETTINGS cached;
    {
        std::lock_guard<std::mutex> state(camera_.state);
        cached = camera_.cached.captureSettings;
    }
    mergeCapture(cached, record);
}

void FamilyCapture::getAnalogGain(HX_ANALOG_GAIN* out)
{
    if (!camera_.groups.refresh(RegisterGroup::Sensor)) {
        HLV_THROW(thread::RuntimeError, "%s(%s): Refresh of sensor registers failed.", HLV_LABEL("getAnalogGain"),
                  camera_.name.c_str());
    }
    std::lock_guard<std::mutex> state(camera_.state);
    computeAnalogGainLocked();
    if (out != nullptr) {
        *out = camera_.cached.analogGain;
    }
}

void FamilyCapture::setAnalogGain(HX_ANALOG_GAIN* in)
{
    HLV_TRACE(thread::TRACE_OPERATIONS, "%s(%s)", HLV_LABEL("setAnalogGain"), camera_.name.c_str());
    if (in == nullptr || (in->flags & HX_FLAG_SET) == 0) {
        return;
    }
    std::lock_guard<std::mutex> serialised(camera_.settings);
    try {
        std::optional<uint32_t> value = analogGainToRegister(in->gain);
        if (!value) {
            HLV_THROW(thread::LogicError, "Analog gain is not one of HX_ANALOG_GAIN_*");
        }
        if (compareVersions(identity_.deviceVersion(), GAIN_FLAG_FIRMWARE) >= 0) {
            *value |= GAIN_FLAG;
        }
        const uint32_t result = camera_.channel.writeReg(GIGE_REG_ANALOG_GAIN, *value);
        if (result != 0) {
            HLV_THROW(thread::LogicError, "%s", describeWriteRegFailure(result).c_str());
        }
    } catch (const thread::Exception& error) {
        in->flags |= HX_FLAG_ERR;
        HLV_LOG("%s(%s): %s", HLV_LABEL("setAnalogGain"), camera_.name.c_str(), error.str().c_str());
    }
}

} // namespace halvex::family
