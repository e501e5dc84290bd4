// The per-camera service thread and its process-wide registry keyed by camera address.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include <hx/hx.h>

#include "camera/service_operations.h"
#include "hlv_thread/msg_thread.h"

namespace halvex::camera {

// One message thread per camera address. Its queue serialises what must happen on behalf of one
// camera: command and subscription requests from the API, camera notifications and stream
// buffers; each is handed to the camera's operations object (built by the camera operations
// registry unless another source is installed). API threads run the operations' calls directly,
// on the object requiredOperations() hands them.
//
// Threads: factory/close/recycle/exists from any thread (close only at library shutdown);
// messageHandle/ownerMessage on the service thread only. The operations' calls from API threads,
// except setDownloadSettings, setPlaybackSettings and setStreamSettings, which drive the camera's
// stream session: only the service thread calls them, for the SetupRequest it handles
// (camera_services_request.h), as it calls sendCommand and getCommand for a Command.
class CameraServices : public thread::MsgThread {
public:
    // The service of the address, created and started on first use; empty once the registry
    // has been closed or when creation failed.
    static std::shared_ptr<CameraServices> factory(uint32_t address);
    // Halts every service thread (operations first) and closes the registry for good.
    static void close();
    // Halts and forgets the service of one camera; a later factory call makes a fresh one.
    static void recycle(uint32_t address);
    // True when the registry holds the address.
    static bool exists(uint32_t address);
    // The service of the address when it has one (never creates one).
    static std::shared_ptr<CameraServices> find(uint32_t address);
    // Installs where operations objects come from; by default the camera operations registry
    // (tests install stand-ins).
    static void setOperationsSource(std::shared_ptr<ServiceOperationsSource> source);

    explicit CameraServices(uint32_t address);
    ~CameraServices() override;

    uint32_t address() const;
    // The camera's name: the name discovery gave it, else its dotted address.
    std::string cameraName() const;
    void setCameraName(const std::string& name);
    // True when the camera's family was recognised, so that its operations can serve calls.
    bool hasOperations() const;
    // Throws RuntimeError when a stream request of `streamKind` (a stream message id) would find
    // nobody to serve it: the camera was not recognised, or it is away and the request is a
    // download (live and playback buffers and switches wait for its return). Any thread.
    void requireStreamService(uint32_t streamKind) const;

    // The camera's operations, on which callers run the camera's calls; throws RuntimeError when
    // the camera was not recognised, so the call fails instead of handing back an untouched record.
    std::shared_ptr<ServiceOperations> requiredOperations() const;

    void messageHandle(thread::Message* message) override;
    void ownerMessage(thread::Message* message) override;
    std::string messageName(uint32_t id) const override;

private:
    std::shared_ptr<ServiceOperations> operations() const;
    void handleHalt(thread::Message& message, const char* method);
    void handleSettings(thread::Message& message);
    void handleSubscribe(thread::Message& message);
    void handleNotification(thread::Message& message);
    void handleReturn(thread::Message& message);
    // Hands a stream buffer to the operations; false when the message stays here to be forwarded.
    bool handOverStream(thread::Message* message, const char* method);
    bool holdWhileAway(thread::Message* message);
    void recycleOperations();

    const uint32_t address_;
    mutable std::mutex nameLock_;
    mutable std::string name_;
    // Service thread: whether the buffers of an unrecognised camera have been reported; one line
    // says what happens to all of them.
    bool unrecognisedBuffersReported_ = false;
    // Logged once per absence of the camera; service thread only.
    bool awayBuffersReported_ = false;
};

} // namespace halvex::camera
