// Family operations: the parts built and wired to one camera, and the operations handed to them.
#include "family/family_operations.h"

#include <hlv_thread/log.h>
#include <hlv_thread/log_label.h>
#include <hlv_thread/note.h>

#include "family/operation_labels.h"
#include "family/record_rows.h"
#include "packing/hx_internal.h"
#include "stream/hx_stream_operations.h"

namespace halvex::family {

using camera::CameraOperations;
using camera::SubscriptionMessage;
using control::RegisterChannel;
using packing::HxInternal;
using sensors::SensorOperations;
using stream::HxStreamOperations;

using namespace registers;

namespace {

// The flows run on the service thread and call back into the family only from there.
FamilyStreaming::Hooks streamingHooks(FamilyOperations& family, pollers::PollerControl& pollers, bool overUdp)
{
    FamilyStreaming::Hooks hooks;
    hooks.startHeartBeat = [&pollers] { pollers.startHeartBeat(); };
    hooks.stopHeartBeat = [&pollers] { pollers.stopHeartBeat(); };
    hooks.streamsOverUdp = [overUdp] { return overUdp; };
    hooks.packingImage = [&family] {
        HX_CAPTURE_SETTINGS capture;
        family.getCaptureSettings(&capture);
        return packing::PackingImage{capture.width, capture.height, capture.bit_mode};
    };
    return hooks;
}

} // namespace

FamilyOperations::FamilyOperations(uint32_t address, std::shared_ptr<RegisterChannel> channel,
                                   std::unique_ptr<SensorOperations> sensor, const FamilyTraits& traits)
    : CameraOperations(address, channel), traits_(traits),
      streamOps_(std::make_unique<HxStreamOperations>(address, std::move(channel))),
      streaming_(std::make_unique<FamilyStreaming>(address, this->channel(), *streamOps_,
                                                   streamingHooks(*this, pollers_, traits.streamsOverUdp))),
      pollers_(address, this->channel()),
      groups_([this](RegisterCache& registers, uint8_t* counter, RegisterStamps& stamps) {
          return refresh(registers, counter, &stamps);
      }),
      camera_{*this,   address_, name_,       this->channel(),      stateMutex_, settingsMutex_, subscriptionCount_,
              cached_, groups_,  *streamOps_, downloadFormatFlags_, traits_},
      records_(camera_, [this] { capture_.readCapture(); }),
      identity_(camera_, pollers_,
                [this](std::map<uint32_t, std::string>& texts, uint8_t* counter) { return refresh(texts, counter); }),
      capture_(camera_, *streaming_, identity_), progress_(camera_, pollers_, records_),
      commands_(camera_, *streaming_, progress_, pollers_), io_(camera_), download_(camera_), stream_(camera_),
      subscriptions_(camera_, records_, progress_, pollers_, *streaming_)
{
    HLV_TRACE(thread::TRACE_OPERATIONS, "%s: %s", labels::CONSTRUCTED, name_.c_str());
    setSensor(std::move(sensor));
    const auto keepCurrent = [this](RegisterGroup id, uint32_t reg) {
        std::lock_guard<std::mutex> state(stateMutex_);
        groups_.add(id, reg);
    };
    for (RegisterGroup id : {RegisterGroup::Capture, RegisterGroup::Download, RegisterGroup::IO, RegisterGroup::Lens,
                             RegisterGroup::Playback, RegisterGroup::Progress, RegisterGroup::Sensor,
                             RegisterGroup::State, RegisterGroup::Stream}) {
        for (uint32_t reg : groupRegisters(id))
            keepCurrent(id, reg);
    }
    for (const auto& [id, reg] : traits_.groupRegisters)
        keepCurrent(id, reg);
    for (uint32_t reg : this->sensor().registerList())
        keepCurrent(RegisterGroup::Sensor, reg);
    for (uint32_t reg : HxStreamOperations::WATCHED_REGISTERS)
        keepCurrent(RegisterGroup::Download, reg);
    downloadFormatFlags_ = HX_FORMAT_JPEG | HX_FORMAT_TYPE3 | HX_FORMAT_TYPE2 | HX_FORMAT_TIFF;
    if (this->sensor().isColour())
        downloadFormatFlags_ |= HX_FORMAT_DNG;
    if (HxInternal::factory() != nullptr)
        downloadFormatFlags_ |= HX_FORMAT_PACKED;
    records_.setRows(record_rows::familyRows({camera_, capture_, download_, io_, commands_, stream_, progress_}));
    // A camera whose heartbeat the host keeps is watched for a restart like a subscribed one.
    pollers_.onHeartBeatStarted([this] { subscriptions_.watchForRestart(); });
}

FamilyOperations::~FamilyOperations()
{
    HLV_TRACE(thread::TRACE_OPERATIONS, "%s(%s)", labels::DESTROYED, name_.c_str());
    stopRestartWatch();
    streamShutdown();
}

void FamilyOperations::stopRestartWatch()
{
    subscriptions_.stopRestartWatch();
}

RegisterCache FamilyOperations::groupSnapshot(RegisterGroup id) const
{
    std::lock_guard<std::mutex> state(stateMutex_);
    return groups_.registers(id);
}

// --- Handed to the parts --------------------------------------------------------------------------

void FamilyOperations::getAnalogGain(HX_ANALOG_GAIN* out)
{
    capture_.getAnalogGain(out);
}
void FamilyOperations::setAnalogGain(HX_ANALOG_GAIN* in)
{
    capture_.setAnalogGain(in);
}
void FamilyOperations::getCaptureSettings(HX_CAPTURE_SETTINGS* out)
{
    capture_.getCaptureSettings(out);
}
void FamilyOperations::setCaptureSettings(HX_CAPTURE_SETTINGS* inOut)
{
    capture_.setCaptureSettings(inOut);
}
void FamilyOperations::getBatteryInfo(HX_BATTERY_INFO* out)
{
    identity_.getBatteryInfo(out);
}
void FamilyOperations::getCameraInformation(HX_CAMERA_INFORMATION* out)
{
    identity_.getCameraInformation(out);
}
bool FamilyOperations::lockCamera()
{
    return identity_.lockCamera();
}
bool FamilyOperations::unlockCamera()
{
    return identity_.unlockCamera();
}
void FamilyOperations::getDownloadSettings(HX_DOWNLOAD_SETTINGS* out)
{
    download_.getDownloadSettings(out);
}
void FamilyOperations::setDownloadSettings(HX_DOWNLOAD_SETTINGS* inOut)
{
    download_.setDownloadSettings(inOut);
}
void FamilyOperations::getExternalIOSettings(HX_IO_SETTINGS* out)
{
    io_.getExternalIOSettings(out);
}
void FamilyOperations::setExternalIOSettings(HX_IO_SETTINGS* inOut)
{
    io_.setExternalIOSettings(inOut);
}
void FamilyOperations::getStreamSettings(HX_STREAM_SETTINGS* out)
{
    stream_.getStreamSettings(out);
}
void FamilyOperations::setStreamSettings(HX_STREAM_SETTINGS* inOut)
{
    stream_.setStreamSettings(inOut);
}
void FamilyOperations::getPlaybackSettings(HX_PLAYBACK_SETTINGS* out)
{
    commands_.getPlaybackSettings(out);
}
void FamilyOperations::setPlaybackSettings(HX_PLAYBACK_SETTINGS* inOut)
{
    commands_.setPlaybackSettings(inOut);
}
void FamilyOperations::sendCommand(HX_COMMAND* inOut)
{
    commands_.sendCommand(inOut);
}
void FamilyOperations::getCommand(HX_COMMAND* out)
{
    commands_.getCommand(out);
}
void FamilyOperations::handleSubscription(SubscriptionMessage& message)
{
    subscriptions_.handleSubscription(message);
}
void FamilyOperations::handleNotification(thread::Message& message)
{
    subscriptions_.handleNotification(message);
}
void FamilyOperations::cameraReturned()
{
    subscriptions_.cameraReturned();
}
void FamilyOperations::cameraMayHaveRestarted()
{
    subscriptions_.cameraMayHaveRestarted();
}
void FamilyOperations::handleStreaming(thread::Message* message)
{
    streaming_->handleStreaming(message);
}
bool FamilyOperations::holdWhileAway(thread::Message* message)
{
    return streaming_->holdWhileAway(message);
}

void FamilyOperations::streamShutdown()
{
    if (streaming_)
        streaming_->streamShutdown();
}

} // namespace halvex::family
