// The per-camera service thread and its process-wide registry keyed by camera address.
#include "camera/camera_services.h"

#include "camera/address_registry.h"
#include "camera/camera_address.h"
#include "camera/camera_message_ids.h"
#include "camera/camera_operations.h"
#include "camera/settings.h"
#include "camera/subscription.h"
#include "control/control_message_ids.h"
#include "control/hx_notification.h"
#include "hlv_thread/log.h"
#include "hlv_thread/note.h"

namespace halvex::camera {

namespace {

using thread::Message;
using thread::TRACE_SERVICES;
namespace ids = message_ids;

// Allocated once and never destroyed: service threads may still look it up while the process
// exits or the library unloads.
struct ServiceRegistry {
    AddressRegistry<CameraServices> services;
    std::mutex sourceLock;
    std::shared_ptr<ServiceOperationsSource> source;
};

ServiceRegistry& registry()
{
    static ServiceRegistry* const instance = new ServiceRegistry;
    return *instance;
}

// The library's own source: the camera operations registry, which recognises each camera's family.
class RegistrySource : public ServiceOperationsSource {
public:
    std::shared_ptr<ServiceOperations> find(uint32_t address) override { return CameraOperations::factory(address); }
    bool exists(uint32_t address) override { return CameraOperations::exists(address); }
    std::shared_ptr<ServiceOperations> kept(uint32_t address) override { return CameraOperations::find(address); }
    bool replaced(uint32_t address) override { return CameraOperations::replacedAtAddress(address); }
    void recycle(uint32_t address) override
    {
        if (auto operations = CameraOperations::find(address))
            CameraOperations::recycle(operations.get());
    }
    void closeAll() override { CameraOperations::close(); }
};

std::shared_ptr<ServiceOperationsSource> currentSource()
{
    ServiceRegistry& reg = registry();
    std::lock_guard<std::mutex> guard(reg.sourceLock);
    if (!reg.source)
        reg.source = std::make_shared<RegistrySource>();
    return reg.source;
}

std::shared_ptr<CameraServices> createService(uint32_t address)
{
    try {
        auto service = std::make_shared<CameraServices>(address);
        HLV_TRACE(TRACE_SERVICES, "Start creating %p (%s)", static_cast<void*>(service.get()),
                  service->cameraName().c_str());
        service->start();
        return service;
    } catch (const thread::Exception& e) {
        HLV_LOG("Got a Halvex::Exception from creating the CameraServices object %s", e.str().c_str());
    } catch (...) {
        HLV_LOG("Got an exception from creating the CameraServices object!");
    }
    return {};
}

// Ends a message the service has finished with. An ownerless message with nowhere to go has
// nobody left to consume it, so it ends here rather than as a "forward()" fault and a leak.
void finish(Message* message)
{
    if (!message->synchronous() && message->routeEmpty() && message->owner == nullptr) {
        delete message;
        return;
    }
    message->forward();
}

} // namespace

ServiceOperations::~ServiceOperations() = default;

void ServiceOperations::cameraReturned() {}

void ServiceOperations::cameraMayHaveRestarted() {}

bool ServiceOperations::holdWhileAway(thread::Message* /*message*/)
{
    return false;
}

ServiceOperationsSource::~ServiceOperationsSource() = default;

std::shared_ptr<ServiceOperations> ServiceOperationsSource::kept(uint32_t /*address*/)
{
    return nullptr;
}

bool ServiceOperationsSource::replaced(uint32_t /*address*/)
{
    return false;
}

std::shared_ptr<CameraServices> CameraServices::factory(uint32_t address)
{
    // A camera's event reports go to its service thread while it has one; they never create one.
    static std::once_flag notificationsRouted;
    std::call_once(notificationsRouted, [] {
        control::setNotificationTarget(
            [](uint32_t camera) -> std::shared_ptr<thread::MsgThread> { return CameraServices::find(camera); });
    });
    AddressRegistry<CameraServices>& services = registry().services;
    if (services.closed()) {
        HLV_TRACE(TRACE_SERVICES, "%s: called after closed.", "CameraServices::factory");
        return {};
    }
    return services.findOrAdd(address, [address] { return createService(address); });
}

void CameraServices::close()
{
    HLV_TRACE(TRACE_SERVICES, "CameraServices::close");
    if (auto source = currentSource())
        source->closeAll();
    for (auto& entry : registry().services.closeAll())
        thread::closeThread(*entry.second);
}

void CameraServices::recycle(uint32_t address)
{
    HLV_TRACE(TRACE_SERVICES, "%s: cam=%s", "CameraServices::recycle", dottedAddress(address).c_str());
    std::shared_ptr<CameraServices> service = registry().services.take(address);
    if (!service)
        return;
    const std::string name = service->cameraName();
    const std::string dotted = dottedAddress(address);
    HLV_TRACE(TRACE_SERVICES, "%s: Shut down (%s/%s)", "CameraServices::recycle", name.c_str(), dotted.c_str());
    thread::closeThread(*service);
    HLV_TRACE(TRACE_SERVICES, "%s: (%s/%s) recycled", "CameraServices::recycle", name.c_str(), dotted.c_str());
}

bool CameraServices::exists(uint32_t address)
{
    return registry().services.contains(address);
}

std::shared_ptr<CameraServices> CameraServices::find(uint32_t address)
{
    return registry().services.find(address);
}

void CameraServices::setOperationsSource(std::shared_ptr<ServiceOperationsSource> source)
{
    ServiceRegistry& reg = registry();
    std::lock_guard<std::mutex> guard(reg.sourceLock);
    reg.source = std::move(source);
}

CameraServices::CameraServices(uint32_t address) : address_(address) {}

CameraServices::~CameraServices()
{
    HLV_TRACE(TRACE_SERVICES, "del @ %p", static_cast<void*>(this));
    // The registry closes its services before dropping them; this covers one that never ran.
    thread::closeThread(*this);
}

uint32_t CameraServices::address() const
{
    return address_;
}

std::string CameraServices::cameraName() const
{
    std::lock_guard<std::mutex> guard(nameLock_);
    if (name_.empty())
        name_ = dottedAddress(address_);
    return name_;
}

void CameraServices::setCameraName(const std::string& name)
{
    std::lock_guard<std::mutex> guard(nameLock_);
    name_ = name;
}

bool CameraServices::hasOperations() const
{
    return operations() != nullptr;
}

std::shared_ptr<ServiceOperations> CameraServices::operations() const
{
    auto source = currentSource();
    return source ? source->find(address_) : nullptr;
}

// Failing the call is what keeps a host that lends every returned buffer again from spinning
// through buffers that would come back unfilled at once.
void CameraServices::requireStreamService(uint32_t streamKind) const
{
    if (operations())
        return;
    auto source = currentSource();
    if (!source || !source->kept(address_))
        requiredOperations();
    else if (streamKind == message_ids::DOWNLOAD_STREAM_MSG)
        HLV_THROW(thread::RuntimeError, "%s(%s): the camera is away; it cannot download until it answers again",
                  "CameraServices", cameraName().c_str());
}

// The log line before says why the camera was not recognised.
std::shared_ptr<ServiceOperations> CameraServices::requiredOperations() const
{
    auto ops = operations();
    if (!ops)
        HLV_THROW(thread::RuntimeError, "%s(%s): camera not recognised", "CameraServices", cameraName().c_str());
    return ops;
}

void CameraServices::messageHandle(Message* message)
{
    if (message == nullptr) {
        HLV_LOG("%s: Unexpectedly null message!", "CameraServices::messageHandle");
        return;
    }
    HLV_TRACE(TRACE_SERVICES, "%s(%s): req=%d", "CameraServices::messageHandle", cameraName().c_str(), message->req);
    switch (message->req) {
    case thread::HALT: handleHalt(*message, "CameraServices::messageHandle"); break;
    case thread::DUMP: break;
    case ids::CAM_SUBSCRIBE_MSG: handleSubscribe(*message); break;
    case ids::CAM_SETTINGS_MSG: handleSettings(*message); break;
    case ids::NOTIFICATION_MSG: handleNotification(*message); break;
    case ids::CAMERA_RETURNED_MSG:
    case ids::CAMERA_ANSWERS_AFTER_TIME_OUT_MSG: handleReturn(*message); break;
    case ids::DOWNLOAD_STREAM_MSG:
    case ids::PLAYBACK_STREAM_MSG:
    case ids::LIVE_STREAM_MSG:
        if (handOverStream(message, "CameraServices::messageHandle"))
            return;
        break;
    default:
        HLV_LOG("%s: Unrecognized message type [%d]", "CameraServices::messageHandle", message->req);
        message->status = thread::MESSAGE_FAILED;
        break;
    }
    finish(message);
}

void CameraServices::ownerMessage(Message* message)
{
    if (message == nullptr) {
        HLV_LOG("%s: Unexpectedly null message!", "CameraServices::ownerMessage");
        return;
    }
    HLV_TRACE(TRACE_SERVICES, "%s(%s): req=%d", "CameraServices::ownerMessage", cameraName().c_str(), message->req);
    switch (message->req) {
    case thread::HALT: handleHalt(*message, "CameraServices::ownerMessage"); break;
    case ids::CAM_SUBSCRIBE_MSG: handleSubscribe(*message); break;
    case ids::CAM_SETTINGS_MSG: handleSettings(*message); break;
    case ids::NOTIFICATION_MSG: handleNotification(*message); break;
    case ids::CAMERA_RETURNED_MSG:
    case ids::CAMERA_ANSWERS_AFTER_TIME_OUT_MSG: handleReturn(*message); break;
    case ids::LIVE_STREAM_MSG:
        if (handOverStream(message, "CameraServices::ownerMessage"))
            return;
        break;
    default:
        HLV_LOG("%s: Unrecognized message type [%d]", "CameraServices::ownerMessage", message->req);
        message->status = thread::MESSAGE_FAILED;
        break;
    }
    MsgThread::ownerMessage(message);
}

std::string CameraServices::messageName(uint32_t id) const
{
    switch (id) {
    case ids::CAM_SUBSCRIBE_MSG: return "CAM_SUBSCRIBE_MSG";
    case ids::CAM_SETTINGS_MSG: return "CAM_SETTINGS_MSG";
    case ids::DOWNLOAD_STREAM_MSG: return "DOWNLOAD_STREAM_MSG";
    case ids::PLAYBACK_STREAM_MSG: return "PLAYBACK_STREAM_MSG";
    case ids::LIVE_STREAM_MSG: return "LIVE_STREAM_MSG";
    case ids::NOTIFICATION_MSG: return "NOTIFICATION_MSG";
    case ids::CAMERA_RETURNED_MSG: return "CAMERA_RETURNED_MSG";
    case ids::CAMERA_ANSWERS_AFTER_TIME_OUT_MSG: return "CAMERA_ANSWERS_AFTER_TIME_OUT_MSG";
    default: return MsgThread::messageName(id);
    }
}

void CameraServices::handleHalt(Message& message, const char* method)
{
    HLV_TRACE(TRACE_SERVICES, "%s: [HALT] camera_ip=%s", method, dottedAddress(address_).c_str());
    recycleOperations();
    message.status = thread::MESSAGE_DONE;
}

void CameraServices::recycleOperations()
{
    try {
        auto source = currentSource();
        if (source && source->exists(address_))
            source->recycle(address_);
    } catch (const thread::Exception& e) {
        HLV_LOG("Exception recycling the operations of %s:\n  %s", cameraName().c_str(), e.str().c_str());
    } catch (const std::exception& e) {
        HLV_LOG("std::exception recycling the operations of %s: %s", cameraName().c_str(), e.what());
    }
}

// A settings request whose processing fails still completes: its sender is waiting for it.
void CameraServices::handleSettings(Message& message)
{
    HLV_TRACE(TRACE_SERVICES, "CameraServices::handleCameraSettingsMsg");
    message.status = thread::MESSAGE_FAILED;
    auto* settings = dynamic_cast<SettingsBase*>(&message);
    if (settings == nullptr) {
        HLV_LOG("%s: [CAM_SETTINGS_MSG] not a settings message.", "CameraServices::handleCameraSettingsMsg");
        return;
    }
    try {
        settings->process();
        message.status = thread::MESSAGE_DONE;
    } catch (const thread::Exception& e) {
        HLV_LOG("Exception processing CameraServices Settings message:\n  %s", e.str().c_str());
    } catch (const std::exception& e) {
        HLV_LOG("std::exception processing CameraServices Settings message: %s", e.what());
    }
}

void CameraServices::handleSubscribe(Message& message)
{
    HLV_TRACE(TRACE_SERVICES, "CameraServices::handleCameraSubscribeMsg");
    message.status = thread::MESSAGE_FAILED;
    auto* subscription = dynamic_cast<SubscriptionMessage*>(&message);
    auto ops = subscription != nullptr ? operations() : nullptr;
    if (!ops) {
        HLV_LOG("%s: [CAM_SUBSCRIBE_MSG] camera (%s) not recognized.", "CameraServices::handleCameraSubscribeMsg",
                cameraName().c_str());
        return;
    }
    try {
        ops->handleSubscription(*subscription);
        message.status = thread::MESSAGE_DONE;
    } catch (const thread::Exception& e) {
        HLV_LOG("Exception processing CameraServices Subscribe message:\n  %s", e.str().c_str());
    } catch (const std::exception& e) {
        HLV_LOG("std::exception processing CameraServices Subscribe message: %s", e.what());
    }
}

void CameraServices::handleNotification(Message& message)
{
    HLV_TRACE(TRACE_SERVICES, "CameraServices::handleNotificationMsg");
    auto ops = operations();
    if (!ops) {
        HLV_LOG("%s: [xxx_STREAM_MSG] camera (%s) not recognized.", "CameraServices::handleNotificationMsg",
                cameraName().c_str());
        message.status = thread::MESSAGE_FAILED;
        return;
    }
    try {
        ops->handleNotification(message);
    } catch (const thread::Exception& e) {
        HLV_LOG("Exception processing CameraServices notification message:\n  %s", e.str().c_str());
        message.status = thread::MESSAGE_FAILED;
    } catch (const std::exception& e) {
        HLV_LOG("std::exception processing CameraServices notification message: %s", e.what());
        message.status = thread::MESSAGE_FAILED;
    }
}

// Only an object that exists has anything to set up again: a camera nobody has used yet is
// not built for it. Another camera at the address gets an object of its own, which takes over
// the host's subscriptions.
void CameraServices::handleReturn(Message& message)
{
    HLV_TRACE(TRACE_SERVICES, "%s(%s)", "CameraServices::handleReturn", cameraName().c_str());
    awayBuffersReported_ = false;
    auto source = currentSource();
    const bool replaced = source && source->replaced(address_);
    if (!source || (!replaced && !source->exists(address_))) {
        message.status = thread::MESSAGE_DONE;
        return;
    }
    auto ops = source->find(address_);
    if (!ops) {
        message.status = thread::MESSAGE_FAILED;
        return;
    }
    try {
        if (message.req == message_ids::CAMERA_RETURNED_MSG)
            ops->cameraReturned();
        else
            ops->cameraMayHaveRestarted();
        message.status = thread::MESSAGE_DONE;
    } catch (const thread::Exception& e) {
        HLV_LOG("Exception processing CameraServices return message:\n  %s", e.str().c_str());
        message.status = thread::MESSAGE_FAILED;
    } catch (const std::exception& e) {
        HLV_LOG("std::exception processing CameraServices return message: %s", e.what());
        message.status = thread::MESSAGE_FAILED;
    }
}

// A camera that is away keeps its object: its live buffers wait there for its return.
bool CameraServices::holdWhileAway(Message* message)
{
    auto source = currentSource();
    auto kept = source ? source->kept(address_) : nullptr;
    try {
        if (!kept || !kept->holdWhileAway(message))
            return false;
    } catch (const thread::Exception& e) {
        HLV_LOG("Exception holding a stream buffer of %s:\n  %s", cameraName().c_str(), e.str().c_str());
        return false;
    } catch (const std::exception& e) {
        HLV_LOG("std::exception holding a stream buffer of %s: %s", cameraName().c_str(), e.what());
        return false;
    }
    if (!awayBuffersReported_)
        HLV_LOG("%s: camera (%s) is away; its live buffers are held until it answers again",
                "CameraServices::handOverStream", cameraName().c_str());
    awayBuffersReported_ = true;
    return true;
}

bool CameraServices::handOverStream(Message* message, const char* method)
{
    HLV_TRACE(TRACE_SERVICES, "%s: [xxx_STREAM_MSG] message", method);
    auto ops = operations();
    if (!ops && holdWhileAway(message))
        return true;
    if (!ops) {
        // A download of many buffers would otherwise repeat the same line for each of them.
        if (!unrecognisedBuffersReported_)
            HLV_LOG("%s: camera (%s) not recognized; its stream buffers go back to their clients unfilled", method,
                    cameraName().c_str());
        else
            HLV_TRACE(TRACE_SERVICES, "%s: camera (%s) not recognized; buffer handed back unfilled", method,
                      cameraName().c_str());
        unrecognisedBuffersReported_ = true;
        message->status = thread::MESSAGE_FAILED;
        return false;
    }
    try {
        ops->handleStreaming(message);
        return true;
    } catch (const thread::Exception& e) {
        HLV_LOG("Exception processing CameraServices stream message:\n  %s", e.str().c_str());
    } catch (const std::exception& e) {
        HLV_LOG("std::exception processing CameraServices stream message: %s", e.what());
    }
    message->status = thread::MESSAGE_FAILED;
    return false;
}

} // namespace halvex::camera
