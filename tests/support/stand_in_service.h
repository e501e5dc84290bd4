// Test stand-ins for the API's neighbours: a camera's operations without a network, and a host callback that records.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <hx/hx.h>

#include "arrivals.h"
#include "camera/camera_services.h"
#include "camera/service_operations.h"

namespace hx_test {

using namespace std::chrono_literals;

// Answers like a camera would: settings calls mark the record changed, commands move the state,
// stream buffers are filled with a pattern and handed on (or held until released). Records
// every call by name. Thread-safe: the service thread and API threads call it at once.
class StandInOperations : public halvex::camera::ServiceOperations {
public:
    // Image bytes written into each filled buffer, and the first frame id.
    static constexpr uint32_t IMAGE_LENGTH = 4096;
    static constexpr uint32_t FIRST_FRAME = 100;

    void getAnalogGain(HX_ANALOG_GAIN* out) override;
    void setAnalogGain(HX_ANALOG_GAIN* in) override;
    void getBatteryInfo(HX_BATTERY_INFO* out) override;
    void getCameraInformation(HX_CAMERA_INFORMATION* out) override;
    void getCameraMedia(char* jsonData, uint32_t* jsonLength) override;
    void getLensStatus(HX_LENS_STATUS* out) override;
    bool getTemperature(HX_TEMPERATURE* out) override;
    void setCaptureSettings(HX_CAPTURE_SETTINGS* inOut) override;
    void setDownloadSettings(HX_DOWNLOAD_SETTINGS* inOut) override;
    void setExternalIOSettings(HX_IO_SETTINGS* inOut) override;
    void setLensSettings(HX_LENS_SETTINGS* in) override;
    void setPlaybackSettings(HX_PLAYBACK_SETTINGS* inOut) override;
    void setStreamSettings(HX_STREAM_SETTINGS* inOut) override;
    void startCameraSave(const char* json) override;
    bool lockCamera() override;
    bool unlockCamera() override;
    void sendCommand(HX_COMMAND* inOut) override;
    void getCommand(HX_COMMAND* out) override;
    void handleSubscription(halvex::camera::SubscriptionMessage& message) override;
    void handleNotification(halvex::thread::Message& message) override;
    void handleStreaming(halvex::thread::Message* message) override;

    // The camera state after the next command, and the caps it then reports.
    void setCommandReply(uint32_t state, uint32_t caps);
    void setOperationResult(bool succeeds);
    // Held buffers stay here until releaseHeld (or recycling) gives them back unfilled.
    void holdStreams(bool hold);
    void releaseHeld();

    std::vector<std::string> calls() const;
    std::size_t callCount(const std::string& name) const;
    void clearCalls();
    int subscribers() const;

private:
    void note(const std::string& name);
    void fill(halvex::thread::Message* message);

    mutable std::mutex lock_;
    std::vector<std::string> calls_;
    uint32_t state_ = HX_CAMERA_STATE_IDLE;
    uint32_t nextState_ = HX_CAMERA_STATE_ARM;
    uint32_t nextCaps_ = HX_CMD_TRIGGER;
    bool succeeds_ = true;
    bool hold_ = false;
    int subscribers_ = 0;
    uint32_t nextFrame_ = FIRST_FRAME;
    std::vector<halvex::thread::Message*> held_;
};

// Hands out one StandInOperations per camera address; recycling or closing releases what the
// camera held, as a real camera's operations would when its streams end.
class StandInSource : public halvex::camera::ServiceOperationsSource {
public:
    std::shared_ptr<halvex::camera::ServiceOperations> find(uint32_t address) override;
    bool exists(uint32_t address) override;
    void recycle(uint32_t address) override;
    void closeAll() override;

    std::shared_ptr<StandInOperations> operationsOf(uint32_t address);

private:
    std::mutex lock_;
    std::map<uint32_t, std::shared_ptr<StandInOperations>> operations_;
    bool closed_ = false;
};

// Installs a StandInSource (once per process) and returns it.
StandInSource& installStandIns();
// Waits until the camera's service thread has handled everything posted to it so far.
void drainService(HX_CAMERA_HANDLE camera);
// Waits until the Callback thread has delivered everything posted to it so far (after which a
// host may free what its callbacks' cookies point to).
void drainCallbacks();
// A camera address for 127.0.0.n, as a handle.
HX_CAMERA_HANDLE loopbackCamera(unsigned n);
// Creates the camera's service (as discovery would) and returns its handle.
HX_CAMERA_HANDLE addCamera(unsigned n);

// One call of the host callback as the host saw it; stream records are copied at the call.
struct Delivery {
    uint32_t event = 0;
    HX_CLIENT_HANDLE client = 0;
    HX_CAMERA_HANDLE camera = 0;
    void* data = nullptr;
    void* cookie = nullptr;
    HX_READ_STREAM stream{};
};

// A host callback that records what it receives. Pass the recorder as the cookie.
class CallbackRecorder {
public:
    static void callback(uint32_t event, HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, void* data, void* cookie);

    // Waits until `count` deliveries have arrived; false when the time runs out.
    bool waitFor(std::size_t count, std::chrono::milliseconds timeout = 5s) const
    {
        return deliveries_.waitFor(count, timeout);
    }
    std::vector<Delivery> deliveries() const { return deliveries_.all(); }
    std::size_t count() const { return deliveries_.count(); }

private:
    Arrivals<Delivery> deliveries_;
};

} // namespace hx_test
