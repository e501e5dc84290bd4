// What a camera's service thread asks of the camera: the operations interface and where its objects come from.
#pragma once

#include <cstdint>
#include <memory>

#include <hx/hx.h>

namespace halvex::thread {
class Message;
}

namespace halvex::camera {

class SubscriptionMessage;

// The work a camera's service hands on: settings, status, commands, subscriptions, notifications
// and streams of one camera. The camera families implement it. The get/set operations run on
// API callers' threads through the service's forwarding calls, except setDownloadSettings,
// setPlaybackSettings and setStreamSettings, which drive the camera's streams and run on the
// service thread like sendCommand, getCommand, handleSubscription, handleNotification and
// handleStreaming. Setters report their outcome in the flags words of the record they were given.
class ServiceOperations {
public:
    virtual ~ServiceOperations();

    virtual void getAnalogGain(HX_ANALOG_GAIN* out) = 0;
    virtual void setAnalogGain(HX_ANALOG_GAIN* in) = 0;
    virtual void getBatteryInfo(HX_BATTERY_INFO* out) = 0;
    virtual void getCameraInformation(HX_CAMERA_INFORMATION* out) = 0;
    virtual void getCameraMedia(char* jsonData, uint32_t* jsonLength) = 0;
    virtual void getLensStatus(HX_LENS_STATUS* out) = 0;
    // True when the temperatures were read.
    virtual bool getTemperature(HX_TEMPERATURE* out) = 0;
    virtual void setCaptureSettings(HX_CAPTURE_SETTINGS* inOut) = 0;
    virtual void setDownloadSettings(HX_DOWNLOAD_SETTINGS* inOut) = 0;
    virtual void setExternalIOSettings(HX_IO_SETTINGS* inOut) = 0;
    virtual void setLensSettings(HX_LENS_SETTINGS* in) = 0;
    virtual void setPlaybackSettings(HX_PLAYBACK_SETTINGS* inOut) = 0;
    virtual void setStreamSettings(HX_STREAM_SETTINGS* inOut) = 0;
    virtual void startCameraSave(const char* json) = 0;
    // True when the camera was locked (unlocked).
    virtual bool lockCamera() = 0;
    virtual bool unlockCamera() = 0;
    // Applies the command in the record, then reads the state back into it.
    virtual void sendCommand(HX_COMMAND* inOut) = 0;
    // Reads the camera state into the record.
    virtual void getCommand(HX_COMMAND* out) = 0;

    // Counts the subscriber in or out; the service sets the message's status afterwards.
    virtual void handleSubscription(SubscriptionMessage& message) = 0;
    virtual void handleNotification(thread::Message& message) = 0;
    // Takes the stream buffer message over: it forwards it when done with it, or keeps it. An
    // exception means the message was not taken; the service then fails and forwards it.
    virtual void handleStreaming(thread::Message* message) = 0;
    // The camera answers again after it was lost or silent past a time-out, and may have
    // restarted: whatever the host had set up with it (its event channel, trusted caches,
    // streams) is set up again. Service thread only; by default nothing is kept, so nothing to do.
    virtual void cameraReturned();
    // The camera answers after a request of it timed out, too few for an absence: when it shows
    // it restarted meanwhile, as for cameraReturned. Service thread only; nothing by default.
    virtual void cameraMayHaveRestarted();
    // The camera is away (declared lost): keeps a lent live or playback buffer, or the host's
    // live switch, for when it returns, so a host that lends again is not answered with a storm
    // of unfilled buffers. False leaves the message to the caller. Service thread only.
    virtual bool holdWhileAway(thread::Message* message);
};

// Where the services find the operations object of a camera address. The camera families
// provide one; until one is installed no camera has operations. Called from any thread.
class ServiceOperationsSource {
public:
    virtual ~ServiceOperationsSource();

    // The camera's operations, created on first use; empty when none can be had.
    virtual std::shared_ptr<ServiceOperations> find(uint32_t address) = 0;
    // True when an operations object exists for the address (without creating one).
    virtual bool exists(uint32_t address) = 0;
    // The object kept for a camera that is away, which find() does not hand out; empty by default.
    virtual std::shared_ptr<ServiceOperations> kept(uint32_t address);
    // True when another camera now answers at the address than the one its object served: that
    // object is gone and find() builds one for the newcomer. False by default.
    virtual bool replaced(uint32_t address);
    // Destroys the camera's operations object (its streams and pollers end with it).
    virtual void recycle(uint32_t address) = 0;
    // Destroys every operations object; later find() calls yield nothing.
    virtual void closeAll() = 0;
};

} // namespace halvex::camera
