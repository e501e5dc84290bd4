// Camera operations: the per-camera object through which the library reads and writes a camera's
// settings, commands it, and handles its notifications, subscriptions and streams.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <hx/hx.h>

#include "camera/cached_records.h"
#include "camera/service_operations.h"
#include "control/register_channel.h"
#include "registers/register_cache.h"
#include "sensors/sensor_operations.h"

namespace halvex::camera {

// One object per camera address, built by factory() from what the camera says it is (sensor type
// and model text) and kept in a process-wide registry. The camera's service forwards the
// operations of ServiceOperations to it; the families add the record getters below. Objects are
// shared: every caller keeps a reference for the duration of its call, so recycling a camera never
// pulls the object from under a running operation.
//
// Threads: the get and set operations run on API caller threads; handleNotification,
// handleSubscription and handleStreaming on the camera's service thread. The state mutex guards
// the cached records and register caches and is never held across a camera exchange, nor while
// anything is called that takes it again (so it is a plain mutex); the settings mutex serialises
// the setters of one camera and may span their exchanges.
class CameraOperations : public ServiceOperations {
public:
    // The camera's object, built on first use; null (and one log line) when the camera is not
    // discovered, does not answer, or is of an unknown family or sensor, or after close().
    static std::shared_ptr<CameraOperations> factory(uint32_t address);
    static bool exists(uint32_t address);
    // The registered object of the address, never building one.
    static std::shared_ptr<CameraOperations> find(uint32_t address);
    // Drops the registry's reference to this object; unknown objects are left alone.
    static void recycle(const CameraOperations* object);
    // Drops every object and refuses to build new ones from then on.
    static void close();
    // Another camera answers at the address than the one its object was built for (its identity
    // in discovery changed while it was away): the object goes, and the host's subscriptions to
    // the address pass to the one built next. True while such an object waits to be built.
    static bool replacedAtAddress(uint32_t address);

    CameraOperations(uint32_t address, std::shared_ptr<control::RegisterChannel> channel);
    ~CameraOperations() override;
    CameraOperations(const CameraOperations&) = delete;
    CameraOperations& operator=(const CameraOperations&) = delete;

    // The record getters that the services' interface leaves to the family: each refreshes the
    // cache unless subscriptions keep it current, and accepts a null output to refresh only.
    virtual void getCaptureSettings(HX_CAPTURE_SETTINGS* out) = 0;
    virtual void getDownloadSettings(HX_DOWNLOAD_SETTINGS* out) = 0;
    virtual void getExternalIOSettings(HX_IO_SETTINGS* out) = 0;
    virtual void getPlaybackSettings(HX_PLAYBACK_SETTINGS* out) = 0;
    virtual void getStreamSettings(HX_STREAM_SETTINGS* out) = 0;
    // Closes the camera's stream flows; nothing to do for a family without any.
    virtual void streamShutdown();

    uint32_t cameraAddress() const { return address_; }
    // Dotted text of the camera address, for log lines.
    const std::string& cameraName() const { return name_; }
    const sensors::SensorOperations& sensor() const { return *sensor_; }
    uint32_t downloadFormatFlags() const { return downloadFormatFlags_; }
    // True once the camera's channel has given up on it (the camera was declared lost).
    bool channelFaulted() const;
    // Lets the camera's channel go; called when the registry drops the object.
    void releaseChannel();
    // Who the camera is, as discovery lists it (MAC address and serial number); set once before
    // the object is registered, empty for objects built without discovery.
    const std::string& identity() const { return identity_; }
    void setIdentity(std::string identity) { identity_ = std::move(identity); }
    // The host's subscriptions, counted; a successor object for the same address takes them over.
    uint32_t subscribers() const;
    void adoptSubscribers(uint32_t count);

protected:
    // Reads every register of `registers` in as few exchanges as the protocol allows and stores
    // the values back; the state mutex is held only while the map is touched. False (and a log
    // line) on an empty map or a failed read, which leaves the map as it was. With `stamps`, a
    // value an event brought while the read was on its way is newer than the read and stays.
    bool refresh(registers::RegisterCache& registers, uint8_t* counter = nullptr,
                 registers::RegisterStamps* stamps = nullptr);
    // Reads each address of `texts` as a default-length memory block and stores its bytes.
    bool refresh(std::map<uint32_t, std::string>& texts, uint8_t* counter = nullptr);

    void setSensor(std::unique_ptr<sensors::SensorOperations> sensor);
    void setSensorFlag(uint8_t flag);
    control::RegisterChannel& channel() { return *channel_; }

    const uint32_t address_;
    const std::string name_;
    uint32_t downloadFormatFlags_ = 0;
    uint32_t subscriptionCount_ = 0;
    mutable std::mutex stateMutex_;
    std::mutex settingsMutex_;
    // Held across a group's read and store, so a refresh that began before a write cannot store
    // its older values over those of a refresh that began after it.
    std::mutex refreshMutex_;

    CachedRecords cached_;

private:
    bool readRegisters(wire::RegisterPairs& pairs);

    std::shared_ptr<control::RegisterChannel> channel_;
    std::unique_ptr<sensors::SensorOperations> sensor_;
    std::string identity_;
};

} // namespace halvex::camera
