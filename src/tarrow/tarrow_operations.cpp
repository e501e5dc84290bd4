// Tarrow operations: construction of the first family's register groups, its capture settings,
// analog gain, battery, identity and control privilege.
#include "tarrow/tarrow_operations.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include <hlv_thread/log.h>
#include <hlv_thread/note.h>

#include "packing/hx_internal.h"
#include "stream/hx_stream_operations.h"
#include "tarrow/tarrow_pollers.h"

#include "platform/netutils.h"

using namespace HX_REGISTERS;
using namespace TARROW_CAPTURE;

namespace {

constexpr uint32_t GAIN_FLAG = 1u << 31;
// Cameras from this firmware on take bit 31 of the analog gain register as a flag.
constexpr const char* GAIN_FLAG_FIRMWARE = "2.5.2";
// Reads of the capture settings before a value that looks corrupted is believed or given up.
constexpr unsigned CAPTURE_READS = 3;

// Copies a camera text into a record field, up to the field's room less its NUL.
template <std::size_t N>
void copyText(char (&field)[N], const std::string& text)
{
    std::memset(field, 0, N);
    const std::size_t length = std::min(::strnlen(text.data(), text.size()), N - 1);
    std::memcpy(field, text.data(), length);
}

} // namespace

TarrowOperations::TarrowOperations(uint32_t address, std::shared_ptr<RegisterChannel> channel,
                                   std::unique_ptr<SensorOperations> sensor)
    : CameraOperations(address, std::move(channel)), pollers_(address, this->channel()),
      groups_([this](RegisterCache& registers, uint8_t* counter, RegisterStamps& stamps) {
          return refresh(registers, counter, &stamps);
      }),
      restartWatch_([this] { checkForRestart(); })
{
    HLV_TRACE(HLV_THREAD::TRACE_OPERATIONS, "%s: %s", "TarrowOperations::TarrowOperations", name_.c_str());
    setSensor(std::move(sensor));
    for (RegisterGroup id : {RegisterGroup::Capture, RegisterGroup::Download, RegisterGroup::IO, RegisterGroup::Lens,
                             RegisterGroup::Playback, RegisterGroup::Progress, RegisterGroup::Sensor,
                             RegisterGroup::State, RegisterGroup::Stream}) {
        for (uint32_t reg : groupRegisters(id)) {
            addToGroup(id, reg);
        }
    }
    for (uint32_t reg : this->sensor().registerList()) {
        addToGroup(RegisterGroup::Sensor, reg);
    }
    streamOps_ = std::make_unique<HxStreamOperations>(address);
    streaming_ = std::make_unique<TarrowStreaming>(address, this->channel(), *streamOps_, streamingHooks());
    for (uint32_t reg : HxStreamOperations::WATCHED_REGISTERS) {
        addToGroup(RegisterGroup::Download, reg);
    }
    for (uint32_t start : groupRegisters(RegisterGroup::Text)) {
        texts_[start];
    }
    downloadFormatFlags_ = HX_FORMAT_JPEG | HX_FORMAT_TYPE3 | HX_FORMAT_TYPE2 | HX_FORMAT_TIFF;
    if (this->sensor().isColour()) {
        downloadFormatFlags_ |= HX_FORMAT_DNG;
    }
    if (HxInternal::factory() != nullptr) {
        downloadFormatFlags_ |= HX_FORMAT_PACKED;
    }
    buildRecords();
}

TarrowOperations::~TarrowOperations()
{
    HLV_TRACE(HLV_THREAD::TRACE_OPERATIONS, "%s(%s)", "TarrowOperations::~TarrowOperations", name_.c_str());
    stopRestartWatch();
    streamShutdown();
}

RateEncoding TarrowOperations::rateEncoding() const
{
    return RateEncoding::WholeFrames;
}

bool TarrowOperations::streamsOverUdp() const
{
    return true;
}

// The flows run on the service thread and call back into this object only from there.
TarrowStreaming::Hooks TarrowOperations::streamingHooks()
{
    TarrowStreaming::Hooks hooks;
    hooks.startHeartBeat = [this] { startHeartBeatPoller(); };
    hooks.stopHeartBeat = [this] { stopHeartBeatPoller(); };
    hooks.streamsOverUdp = [this] { return streamsOverUdp(); };
    hooks.packingImage = [this] {
        HX_CAPTURE_SETTINGS capture;
        getCaptureSettings(&capture);
        return HX_INTERNAL::PackingImage{capture.width, capture.height, capture.bit_mode};
    };
    return hooks;
}

TarrowStreaming& TarrowOperations::streaming()
{
    return *streaming_;
}

void TarrowOperations::handleStreaming(HLV_THREAD::Message* message)
{
    streaming_->handleStreaming(message);
}

bool TarrowOperations::holdWhileAway(HLV_THREAD::Message* message)
{
    return streaming_->holdWhileAway(message);
}

void TarrowOperations::streamShutdown()
{
    if (streaming_)
        streaming_->streamShutdown();
}

void TarrowOperations::addToGroup(RegisterGroup id, uint32_t address)
{
    std::lock_guard<std::mutex> state(stateMutex_);
    groups_.add(id, address);
}

RegisterCache TarrowOperations::groupSnapshot(RegisterGroup id) const
{
    std::lock_guard<std::mutex> state(stateMutex_);
    return groups_.registers(id);
}

bool TarrowOperations::refreshGroup(RegisterGroup id)
{
    return groups_.refresh(id);
}

void TarrowOperations::refreshCaptureGroups()
{
    if (!refreshGroup(RegisterGroup::Sensor) || !refreshGroup(RegisterGroup::Capture)) {
        HLV_THROW(HLV_THREAD::RuntimeError, "%s(%s): Unable to read the capture settings from the camera",
                  "TarrowOperations::getCaptureSettings", name_.c_str());
    }
}

std::string TarrowOperations::text(uint32_t address) const
{
    std::lock_guard<std::mutex> state(stateMutex_);
    const auto found = texts_.find(address);
    return found == texts_.end() ? std::string() : found->second;
}

// --- Capture settings -------------------------------------------------------------------------

void TarrowOperations::computeCaptureLocked()
{
    computeCapture(sensor(), groups_.registers(RegisterGroup::Sensor), groups_.registers(RegisterGroup::Capture), name_,
                   captureSettings_, rateEncoding());
}

void TarrowOperations::computeAnalogGainLocked()
{
    analogGain_.gain = analogGainFromRegister(groups_.registers(RegisterGroup::Sensor)[GIGE_REG_ANALOG_GAIN]);
    analogGain_.gain_caps = sensor().analogGainCapabilities();
}

void TarrowOperations::enterSetter(const char* method, const void* inOut) const
{
    HLV_TRACE(HLV_THREAD::TRACE_OPERATIONS, "%s(%s)", method, name_.c_str());
    if (inOut == nullptr)
        HLV_THROW(HLV_THREAD::LogicError, "NULL pointer in API call");
}

void TarrowOperations::getCaptureSettings(HX_CAPTURE_SETTINGS* out)
{
    bool trusted = false;
    {
        std::lock_guard<std::mutex> state(stateMutex_);
        trusted = captureSettingsValid_ != 0 && subscriptionCount_ != 0;
    }
    if (!trusted)
        readCapture();
    std::lock_guard<std::mutex> state(stateMutex_);
    if (out != nullptr) {
        *out = captureSettings_;
    }
}

// Reads the capture groups until they give a record some camera could hold: the protocol has no
// checksum, so a value with a flipped bit is told only by its implausibility, and another read
// brings the camera's own. A camera whose values stay implausible fails the call.
void TarrowOperations::readCapture()
{
    static constexpr const char* method = "TarrowOperations::getCaptureSettings";
    std::string reason;
    for (unsigned read = 1; read <= CAPTURE_READS; ++read) {
        refreshCaptureGroups();
        std::lock_guard<std::mutex> state(stateMutex_);
        try {
            computeCaptureLocked();
            computeAnalogGainLocked();
            reason = TARROW_CAPTURE::implausibleCapture(captureSettings_, roiBeyondSensor_);
        } catch (const HLV_THREAD::LogicError& error) {
            reason = error.str(); // no frame geometry at all
        }
        // Without subscribers nothing tells the cache of changes, so every read goes to the camera.
        captureSettingsValid_ = reason.empty() && subscriptionCount_ != 0 ? 1 : 0;
        analogGainValid_ = captureSettingsValid_;
        if (reason.empty())
            return;
        HLV_LOG("%s(%s): The camera reported an implausible capture setting (%s), read %u of %u", method, name_.c_str(),
                reason.c_str(), read, CAPTURE_READS);
    }
    HLV_THROW(HLV_THREAD::LogicError, "%s(%s): The capture settings stay implausible after %u reads: %s", method,
              name_.c_str(), CAPTURE_READS, reason.c_str());
}

// Validates against the camera's current values, writes what was accepted in one exchange, and
// hands back what the camera holds afterwards. Setters of one camera are serialised, so two
// threads never interleave their validation and writes.
void TarrowOperations::setCaptureSettings(HX_CAPTURE_SETTINGS* inOut)
{
    enterSetter("TarrowOperations::setCaptureSettings", inOut);
    HX_CAPTURE_SETTINGS& record = *inOut;
    std::lock_guard<std::mutex> serialised(settingsMutex_);
    clearCaptureOutcome(record);
    bool failed = false;
    try {
        readCaptureForValidation();
        RegisterCache sensorRegisters;
        RegisterCache captureRegisters;
        {
            std::lock_guard<std::mutex> state(stateMutex_);
            sensorRegisters = groups_.registers(RegisterGroup::Sensor);
            captureRegisters = groups_.registers(RegisterGroup::Capture);
        }
        CaptureValidator validator(sensor(), std::move(sensorRegisters), std::move(captureRegisters), name_,
                                   rateEncoding());
        const CaptureWrites writes = validator.validate(record);
        if (!writes.empty()) {
            // Live images take the new region's size: live stops around the write and restarts
            // however the write ends.
            TarrowStreaming::LiveStreamPause livePause(*streaming_);
            applyCaptureWrites(writes);
        }
        mergeCameraCapture(record);
    } catch (const SettingsException& error) {
        HLV_LOG("Settings exception: %s", error.str().c_str());
        failed = true;
    } catch (const HLV_THREAD::Exception& error) {
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
void TarrowOperations::readCaptureForValidation()
{
    try {
        getCaptureSettings(nullptr);
    } catch (const HLV_THREAD::LogicError& error) {
        HLV_LOG("%s(%s): %s", "TarrowOperations::setCaptureSettings", name_.c_str(), error.str().c_str());
    }
}

void TarrowOperations::applyCaptureWrites(const CaptureWrites& writes)
{
    const RegisterPairs written = writes.ordered();
    const uint32_t result = channel().writeMultiReg(written);
    {
        std::lock_guard<std::mutex> state(stateMutex_);
        captureSettingsValid_ = 0;
        analogGainValid_ = 0;
        roiBeyondSensor_ = roiBeyondSensor_ || writes.roiBeyondSensor;
    }
    // A failed write leaves the caller's values as they were, the record as a whole marked refused
    // by the caller; nothing is read back.
    if (result != 0)
        HLV_THROW(HLV_THREAD::LogicError, "HxComm::writeMultiReg was not successful [%d]", static_cast<int>(result));
    confirmCaptureWrites(written);
}

// A read-back that shows every value as written is taken at once. One that differs may be the
// camera's adjustment (a clamped value) or a bit flipped on the way back: it is read again and
// taken only when two reads in a row agree.
void TarrowOperations::confirmCaptureWrites(const RegisterPairs& written)
{
    std::optional<RegisterPairs> previous;
    for (unsigned read = 1; read <= CAPTURE_READS; ++read) {
        readCapture();
        std::lock_guard<std::mutex> state(stateMutex_);
        bool asWritten = true;
        RegisterPairs held;
        for (const auto& [reg, value] : written) {
            const std::optional<uint32_t> cached = cachedCaptureRegister(reg);
            if (!cached)
                continue;
            held.push_back({reg, *cached});
            asWritten = asWritten && TARROW_CAPTURE::readsBackAs(reg, value, *cached);
        }
        if (asWritten || held == previous)
            return;
        // Not for other readers until confirmed.
        captureSettingsValid_ = 0;
        analogGainValid_ = 0;
        previous = std::move(held);
    }
    HLV_THROW(HLV_THREAD::LogicError,
              "%s(%s): The capture settings read back differently each time after the write (%u reads)",
              "TarrowOperations::setCaptureSettings", name_.c_str(), CAPTURE_READS);
}

// A written register's value in the sensor or capture cache; nothing for one neither holds (the
// settings batch). State mutex held.
std::optional<uint32_t> TarrowOperations::cachedCaptureRegister(uint32_t reg) const
{
    for (RegisterGroup id : {RegisterGroup::Capture, RegisterGroup::Sensor}) {
        const RegisterCache& cache = groups_.registers(id);
        if (const auto found = cache.find(reg); found != cache.end())
            return found->second;
    }
    return std::nullopt;
}

void TarrowOperations::mergeCameraCapture(HX_CAPTURE_SETTINGS& record)
{
    HX_CAPTURE_SETTINGS cached;
    {
        std::lock_guard<std::mutex> state(stateMutex_);
        cached = captureSettings_;
    }
    mergeCapture(cached, record);
}

// --- Analog gain ------------------------------------------------------------------------------

void TarrowOperations::getAnalogGain(HX_ANALOG_GAIN* out)
{
    if (!refreshGroup(RegisterGroup::Sensor)) {
        HLV_THROW(HLV_THREAD::RuntimeError, "%s(%s): Refresh of sensor registers failed.",
                  "TarrowOperations::getAnalogGain", name_.c_str());
    }
    std::lock_guard<std::mutex> state(stateMutex_);
    computeAnalogGainLocked();
    if (out != nullptr) {
        *out = analogGain_;
    }
}

void TarrowOperations::setAnalogGain(HX_ANALOG_GAIN* in)
{
    HLV_TRACE(HLV_THREAD::TRACE_OPERATIONS, "%s(%s)", "TarrowOperations::setAnalogGain", name_.c_str());
    if (in == nullptr || (in->flags & HX_FLAG_SET) == 0) {
        return;
    }
    std::lock_guard<std::mutex> serialised(settingsMutex_);
    try {
        std::optional<uint32_t> value = analogGainToRegister(in->gain);
        if (!value) {
            HLV_THROW(HLV_THREAD::LogicError, "Analog gain is not one of HX_ANALOG_GAIN_*");
        }
        if (compareVersions(deviceVersion(), GAIN_FLAG_FIRMWARE) >= 0) {
            *value |= GAIN_FLAG;
        }
        const uint32_t result = channel().writeReg(GIGE_REG_ANALOG_GAIN, *value);
        if (result != 0) {
            HLV_THROW(HLV_THREAD::LogicError, "HxComm::writeReg was not successful [%d]", static_cast<int>(result));
        }
    } catch (const HLV_THREAD::Exception& error) {
        in->flags |= HX_FLAG_ERR;
        HLV_LOG("%s(%s): %s", "TarrowOperations::setAnalogGain", name_.c_str(), error.str().c_str());
    }
}

// The version text as last read with the identity texts; empty (no flag) until they are read.
std::string TarrowOperations::deviceVersion()
{
    return text(GIGE_REG_DEVICE_VERSION);
}

// --- Battery, identity, control privilege -------------------------------------------------------

void TarrowOperations::getBatteryInfo(HX_BATTERY_INFO* out)
{
    if (out == nullptr) {
        HLV_LOG("%s: Unexpectedly null info pointer!", "TarrowOperations::getBatteryInfo");
        return;
    }
    uint32_t value = 0;
    if (channel().readReg(GIGE_REG_BATTERY_CHARGE, value) != 0) {
        HLV_LOG("%s: Unable to read the GIGE_REG_BATTERY_CHARGE register.", "TarrowOperations::getBatteryInfo");
        out->flags = HX_FLAG_ERR;
        return;
    }
    out->battery_state = value & 0xF;
    out->charge = (value >> 8) & 0x7F;
    out->flags = HX_FLAG_CHG;
}

void TarrowOperations::getCameraInformation(HX_CAMERA_INFORMATION* out)
{
    if (!refresh(texts_, &textCounter_)) {
        HLV_THROW(HLV_THREAD::RuntimeError, "%s(%s): Unable to read the camera's identity texts",
                  "TarrowOperations::getCameraInformation", name_.c_str());
    }
    std::string adapter;
    try {
        HX_NETUTILS::localAdapterOfCamera(address_, adapter);
    } catch (const HLV_THREAD::Exception& error) {
        HLV_LOG("%s(%s): %s", "TarrowOperations::getCameraInformation", name_.c_str(), error.str().c_str());
        adapter.clear();
    }
    std::lock_guard<std::mutex> state(stateMutex_);
    copyText(cameraInformation_.user_name, texts_[GIGE_REG_USER_DEFINED_NAME]);
    copyText(cameraInformation_.device_version, texts_[GIGE_REG_DEVICE_VERSION]);
    copyText(cameraInformation_.manufacturer_info, texts_[GIGE_REG_MANUFACTURER_INFO]);
    copyText(cameraInformation_.manufacturer_name, texts_[GIGE_REG_MANUFACTURER_NAME]);
    copyText(cameraInformation_.model_name, texts_[GIGE_REG_MODEL_NAME]);
    copyText(cameraInformation_.serial_number, texts_[GIGE_REG_SERIAL_NUMBER]);
    copyText(cameraInformation_.adapter_name, adapter);
    cameraInformationValid_ = 1;
    if (out != nullptr) {
        *out = cameraInformation_;
    }
}

bool TarrowOperations::lockCamera()
{
    HLV_TRACE(HLV_THREAD::TRACE_OPERATIONS, "%s(%s)", "TarrowOperations::lockCamera", name_.c_str());
    const uint32_t result = channel().writeReg(GIGE_REG_CCP, 2);
    if (result != 0) {
        HLV_LOG("%s(%s): There was an error writing the CCP register [0x%x]", "TarrowOperations::lockCamera",
                name_.c_str(), result);
    }
    return result == 0;
}

bool TarrowOperations::unlockCamera()
{
    HLV_TRACE(HLV_THREAD::TRACE_OPERATIONS, "%s(%s)", "TarrowOperations::unlockCamera", name_.c_str());
    stopHeartBeatPoller();
    const uint32_t result = channel().writeReg(GIGE_REG_CCP, 0);
    if (result != 0) {
        HLV_LOG("%s(%s): There was an error clearing the CCP register [0x%x]", "TarrowOperations::unlockCamera",
                name_.c_str(), result);
    }
    return result == 0;
}

// --- What this family does not offer, and what later components bring ---------------------------

void TarrowOperations::getCameraMedia(char* /*jsonData*/, uint32_t* /*jsonLength*/)
{
    HLV_THROW(HLV_THREAD::RuntimeError, "%s(%s): Operation is not supported.", "TarrowOperations::getCameraMedia",
              name_.c_str());
}

void TarrowOperations::startCameraSave(const char* /*json*/)
{
    HLV_THROW(HLV_THREAD::RuntimeError, "%s(%s): Operation is not supported.", "TarrowOperations::startCameraSave",
              name_.c_str());
}

void TarrowOperations::getLensStatus(HX_LENS_STATUS* /*out*/)
{
    HLV_THROW(HLV_THREAD::RuntimeError, "%s(%s): Function not supported on tarrow cameras.",
              "TarrowOperations::getLensStatus", name_.c_str());
}

void TarrowOperations::setLensSettings(HX_LENS_SETTINGS* /*in*/)
{
    HLV_THROW(HLV_THREAD::RuntimeError, "%s(%s): Function not supported on tarrow cameras.",
              "TarrowOperations::setLensSettings", name_.c_str());
}

bool TarrowOperations::getTemperature(HX_TEMPERATURE* /*out*/)
{
    HLV_LOG("%s(%s): Not supported!", "TarrowOperations::getTemperature", name_.c_str());
    return false;
}
