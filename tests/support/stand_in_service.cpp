// Test stand-ins for the API's neighbours: a camera's operations without a network, and a host callback that records.
#include "stand_in_service.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>

#include "callback/callback.h"
#include "callback/hx_stream.h"
#include "camera/subscription.h"
#include "hlv_thread/note.h"
#include "hlv_thread/sync_message.h"

using namespace halvex::callback;
using namespace halvex::camera;

namespace hx_test {

namespace {

// Every test process ends the library's threads before it exits, as a host should.
class ShutdownAtExit : public ::testing::Environment {
public:
    void TearDown() override { EXPECT_EQ(HX_shutdown(), HX_STATUS_OK); }
};

[[maybe_unused]] ::testing::Environment* const shutdownAtExit = ::testing::AddGlobalTestEnvironment(new ShutdownAtExit);

} // namespace

void StandInOperations::note(const std::string& name)
{
    std::lock_guard<std::mutex> guard(lock_);
    calls_.push_back(name);
}

void StandInOperations::getAnalogGain(HX_ANALOG_GAIN* out)
{
    note("getAnalogGain");
    out->gain = HX_ANALOG_GAIN_2_00;
    out->gain_caps = 0xFF;
    out->flags |= HX_FLAG_CHG;
}

void StandInOperations::setAnalogGain(HX_ANALOG_GAIN*)
{
    note("setAnalogGain");
}

void StandInOperations::getBatteryInfo(HX_BATTERY_INFO* out)
{
    note("getBatteryInfo");
    out->flags |= HX_FLAG_CHG;
}

void StandInOperations::getCameraInformation(HX_CAMERA_INFORMATION* out)
{
    note("getCameraInformation");
    std::strncpy(out->model_name, "stand-in", sizeof out->model_name - 1);
}

void StandInOperations::getCameraMedia(char* jsonData, uint32_t* jsonLength)
{
    note("getCameraMedia");
    if (*jsonLength > 2)
        std::strcpy(jsonData, "{}");
}

void StandInOperations::getLensStatus(HX_LENS_STATUS*)
{
    note("getLensStatus");
}

bool StandInOperations::getTemperature(HX_TEMPERATURE* out)
{
    note("getTemperature");
    out->temp_sensor = 41.5f;
    std::lock_guard<std::mutex> guard(lock_);
    return succeeds_;
}

void StandInOperations::setCaptureSettings(HX_CAPTURE_SETTINGS* inOut)
{
    note("setCaptureSettings");
    inOut->width = 1280;
    inOut->width_flags |= HX_FLAG_CHG;
    inOut->flags |= HX_FLAG_CHG;
}

void StandInOperations::setDownloadSettings(HX_DOWNLOAD_SETTINGS* inOut)
{
    note("setDownloadSettings");
    inOut->flags |= HX_FLAG_CHG;
}

void StandInOperations::setExternalIOSettings(HX_IO_SETTINGS* inOut)
{
    note("setExternalIOSettings");
    inOut->flags |= HX_FLAG_CHG;
}

void StandInOperations::setLensSettings(HX_LENS_SETTINGS* in)
{
    note("setLensSettings");
    in->flags |= HX_FLAG_CHG;
}

void StandInOperations::setPlaybackSettings(HX_PLAYBACK_SETTINGS* inOut)
{
    note("setPlaybackSettings");
    inOut->flags |= HX_FLAG_CHG;
}

void StandInOperations::setStreamSettings(HX_STREAM_SETTINGS* inOut)
{
    note("setStreamSettings");
    inOut->flags |= HX_FLAG_CHG;
}

void StandInOperations::startCameraSave(const char*)
{
    note("startCameraSave");
}

bool StandInOperations::lockCamera()
{
    note("lockCamera");
    std::lock_guard<std::mutex> guard(lock_);
    return succeeds_;
}

bool StandInOperations::unlockCamera()
{
    note("unlockCamera");
    std::lock_guard<std::mutex> guard(lock_);
    return succeeds_;
}

void StandInOperations::sendCommand(HX_COMMAND* inOut)
{
    note("sendCommand");
    std::lock_guard<std::mutex> guard(lock_);
    state_ = nextState_;
    inOut->code = state_;
    inOut->code_caps = nextCaps_;
}

void StandInOperations::getCommand(HX_COMMAND* out)
{
    note("getCommand");
    std::lock_guard<std::mutex> guard(lock_);
    if (!succeeds_)
        HLV_THROW(halvex::thread::RuntimeError, "The stand-in camera does not answer");
    out->code = state_;
}

void StandInOperations::handleSubscription(SubscriptionMessage& message)
{
    note(message.subscribe ? "subscribe" : "unsubscribe");
    std::lock_guard<std::mutex> guard(lock_);
    subscribers_ += message.subscribe ? 1 : -1;
}

void StandInOperations::handleNotification(halvex::thread::Message& message)
{
    note("handleNotification");
    message.status = halvex::thread::MESSAGE_DONE;
}

void StandInOperations::handleStreaming(halvex::thread::Message* message)
{
    note("handleStreaming");
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (hold_) {
            held_.push_back(message);
            return;
        }
    }
    fill(message);
}

// Writes a pattern into the host's buffer as a receiver would, then hands the buffer on.
void StandInOperations::fill(halvex::thread::Message* message)
{
    HxStreamBuffer* stream = streamBufferOf(message);
    uint32_t frame = 0;
    {
        std::lock_guard<std::mutex> guard(lock_);
        frame = nextFrame_++;
    }
    if (stream != nullptr && stream->buffer() != nullptr) {
        const std::size_t length = std::min<std::size_t>(IMAGE_LENGTH, stream->bufferSize());
        std::memset(stream->buffer(), static_cast<int>(frame & 0xFF), length);
        stream->setResults(IMAGE_LENGTH, frame, HX_STREAM_STATUS_LEADER | HX_STREAM_STATUS_COMPLETE,
                           static_cast<uint32_t>(length));
    }
    message->status = halvex::thread::MESSAGE_DONE;
    message->forward();
}

void StandInOperations::setCommandReply(uint32_t state, uint32_t caps)
{
    std::lock_guard<std::mutex> guard(lock_);
    nextState_ = state;
    nextCaps_ = caps;
}

void StandInOperations::setOperationResult(bool succeeds)
{
    std::lock_guard<std::mutex> guard(lock_);
    succeeds_ = succeeds;
}

void StandInOperations::holdStreams(bool hold)
{
    std::lock_guard<std::mutex> guard(lock_);
    hold_ = hold;
}

void StandInOperations::releaseHeld()
{
    std::vector<halvex::thread::Message*> released;
    {
        std::lock_guard<std::mutex> guard(lock_);
        released.swap(held_);
    }
    for (halvex::thread::Message* message : released) {
        if (HxStreamBuffer* stream = streamBufferOf(message))
            stream->release();
        message->status = halvex::thread::MESSAGE_DONE;
        message->forward();
    }
}

std::vector<std::string> StandInOperations::calls() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return calls_;
}

std::size_t StandInOperations::callCount(const std::string& name) const
{
    std::lock_guard<std::mutex> guard(lock_);
    return static_cast<std::size_t>(std::count(calls_.begin(), calls_.end(), name));
}

void StandInOperations::clearCalls()
{
    std::lock_guard<std::mutex> guard(lock_);
    calls_.clear();
}

int StandInOperations::subscribers() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return subscribers_;
}

std::shared_ptr<ServiceOperations> StandInSource::find(uint32_t address)
{
    return operationsOf(address);
}

std::shared_ptr<StandInOperations> StandInSource::operationsOf(uint32_t address)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (closed_)
        return nullptr;
    auto& entry = operations_[address];
    if (!entry)
        entry = std::make_shared<StandInOperations>();
    return entry;
}

bool StandInSource::exists(uint32_t address)
{
    std::lock_guard<std::mutex> guard(lock_);
    return operations_.count(address) != 0;
}

void StandInSource::recycle(uint32_t address)
{
    std::shared_ptr<StandInOperations> recycled;
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto found = operations_.find(address);
        if (found == operations_.end())
            return;
        recycled = found->second;
        operations_.erase(found);
    }
    recycled->releaseHeld();
}

void StandInSource::closeAll()
{
    std::map<uint32_t, std::shared_ptr<StandInOperations>> closing;
    {
        std::lock_guard<std::mutex> guard(lock_);
        closed_ = true;
        closing.swap(operations_);
    }
    for (auto& entry : closing)
        entry.second->releaseHeld();
}

StandInSource& installStandIns()
{
    static std::shared_ptr<StandInSource> const source = [] {
        auto created = std::make_shared<StandInSource>();
        CameraServices::setOperationsSource(created);
        return created;
    }();
    return *source;
}

// The service thread handles its queue in order: once a synchronous message comes back, all
// that was posted before it has been handled.
void drainService(HX_CAMERA_HANDLE camera)
{
    auto service = CameraServices::find(static_cast<uint32_t>(camera));
    if (!service)
        return;
    halvex::thread::SyncMessage marker;
    marker.req = halvex::thread::DUMP;
    marker.send(service.get());
}

void drainCallbacks()
{
    halvex::callback::Callback* callback = halvex::callback::Callback::factory();
    if (callback == nullptr)
        return;
    halvex::thread::SyncMessage marker;
    marker.req = halvex::thread::DUMP;
    marker.send(callback);
}

HX_CAMERA_HANDLE loopbackCamera(unsigned n)
{
    return static_cast<HX_CAMERA_HANDLE>(htonl(0x7F000000u | n));
}

HX_CAMERA_HANDLE addCamera(unsigned n)
{
    installStandIns();
    const HX_CAMERA_HANDLE camera = loopbackCamera(n);
    CameraServices::factory(static_cast<uint32_t>(camera));
    return camera;
}

void CallbackRecorder::callback(uint32_t event, HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, void* data,
                                void* cookie)
{
    Delivery delivery;
    delivery.event = event;
    delivery.client = client;
    delivery.camera = camera;
    delivery.data = data;
    delivery.cookie = cookie;
    const bool streamEvent = event == HX_DOWNLOAD_DATA || event == HX_LIVE_DATA || event == HX_PLAYBACK_DATA;
    if (streamEvent && data != nullptr)
        std::memcpy(&delivery.stream, data, sizeof delivery.stream);
    static_cast<CallbackRecorder*>(cookie)->deliveries_.add(delivery);
}

} // namespace hx_test
