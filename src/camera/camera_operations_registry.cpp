// Camera operations registry: one operations object per camera address, built on first use and
// kept while its camera is away, for when it returns.
#include <map>

#include <hlv_thread/log.h>

#include "camera/address_registry.h"
#include "camera/camera_address.h"
#include "camera/camera_operations.h"
#include "camera/camera_operations_registry.h"
#include "control/hx_notification.h"
#include "control/register_channel.h"
#include "discovery/discovery_seam.h"

namespace halvex::camera {

using control::controlChannelFor;
using control::RegisterChannel;

namespace {

// Allocated once and never destroyed: API and service threads may look it up while the process
// exits or the library unloads.
struct Registry {
    AddressRegistry<CameraOperations> objects;
    // Guards the creation locks, the carried subscriptions and the source.
    std::mutex lock;
    // One creation lock per address, so two first calls on one camera never build two objects,
    // while a slow camera does not hold up the others.
    std::map<uint32_t, std::shared_ptr<std::mutex>> creating;
    // Addresses whose object went because another camera answers there, with the subscriptions
    // the host holds for the address: the next object built there takes them over.
    std::map<uint32_t, uint32_t> carried;
    CameraSource source;
};

Registry& registry()
{
    static Registry* const instance = new Registry;
    return *instance;
}

// Drops an object the registry no longer holds; its camera's channel is let go, so the next
// exchange with the camera starts afresh. Runs without the registry lock, and lets go of the
// reference it was handed before it returns.
void retire(std::shared_ptr<CameraOperations> object)
{
    if (object) {
        object->releaseChannel();
        object.reset();
    }
}

std::shared_ptr<std::mutex> creationLock(Registry& reg, uint32_t address)
{
    std::shared_ptr<std::mutex>& slot = reg.creating[address];
    if (!slot) {
        slot = std::make_shared<std::mutex>();
    }
    return slot;
}

// What the registry holds for an address.
enum class Held { Nothing, Usable, Away };

// An object whose channel has given up on its camera (the camera was declared lost) stays
// registered: the camera keeps its address when it returns, and the host's subscriptions, caches
// and streams wait in the object for it. Calls fail meanwhile as for an unknown camera.
Held held(Registry& reg, uint32_t address, std::shared_ptr<CameraOperations>& object)
{
    object = reg.objects.find(address);
    if (!object) {
        return Held::Nothing;
    }
    return object->channelFaulted() ? Held::Away : Held::Usable;
}

// True when discovery lists another camera at the object's address than the one it was built for.
bool answeredByAnother(const CameraOperations& object)
{
    const std::string now = discovery::seam::cameraIdentity(object.cameraAddress());
    if (now.empty() || object.identity().empty() || now == object.identity()) {
        return false;
    }
    HLV_LOG("%s(%s): Another camera (%s) answers at the address of %s; its operations are built afresh",
            "CameraOperations::factory", object.cameraName().c_str(), now.c_str(), object.identity().c_str());
    return true;
}

// Takes an object out whose address another camera answers at, noting the host's subscriptions
// for its successor; true when it did. Called under the address's creation lock, without the
// registry lock.
bool retireReplaced(Registry& reg, uint32_t address)
{
    std::shared_ptr<CameraOperations> object = reg.objects.find(address);
    if (!object || !answeredByAnother(*object) || !reg.objects.takeObject(object.get())) {
        return false;
    }
    {
        std::lock_guard<std::mutex> guard(reg.lock);
        reg.carried[address] += object->subscribers();
    }
    retire(std::move(object));
    return true;
}

// An object whose camera discovery knows again (it answered a discovery request since it was
// lost) gets a fresh channel, and its service sets up again what the host had set up. Whoever
// comes first does it, the caller or discovery's found event. Runs without the registry lock.
std::shared_ptr<CameraOperations> welcomeBack(std::shared_ptr<CameraOperations> object)
{
    uint32_t known = 0;
    if (!discovery::seam::findCamera(object->cameraName().c_str(), known) || known != object->cameraAddress()) {
        return nullptr;
    }
    if (object->channelFaulted()) {
        object->releaseChannel();
        control::announceReturn(object->cameraAddress());
    }
    return object;
}

} // namespace

std::shared_ptr<CameraOperations> buildDiscoveredCamera(uint32_t address, const CameraRecogniser& recognise)
{
    const std::string name = dottedAddress(address);
    uint32_t known = 0;
    if (!discovery::seam::findCamera(name.c_str(), known) || known != address) {
        HLV_LOG("The IP address %s has not been discovered!", name.c_str());
        return nullptr;
    }
    const std::string identity = discovery::seam::cameraIdentity(address);
    std::shared_ptr<RegisterChannel> channel = controlChannelFor(address);
    std::shared_ptr<CameraOperations> object = recognise(address, channel);
    if (!object) {
        // An unrecognised camera keeps none of the few control channels the host can open.
        channel->release();
        return nullptr;
    }
    object->setIdentity(identity);
    return object;
}

void setCameraSource(CameraSource source)
{
    Registry& reg = registry();
    std::lock_guard<std::mutex> guard(reg.lock);
    reg.source = std::move(source);
}

std::shared_ptr<CameraOperations> CameraOperations::factory(uint32_t address)
{
    Registry& reg = registry();
    std::shared_ptr<std::mutex> creation;
    std::shared_ptr<CameraOperations> object;
    Held holds = Held::Nothing;
    if (reg.objects.closed()) {
        HLV_TRACE(thread::TRACE_OPERATIONS, "%s: called after closed.", "CameraOperations::factory");
        return nullptr;
    }
    holds = held(reg, address, object);
    if (holds == Held::Usable) {
        return object;
    }
    {
        std::lock_guard<std::mutex> guard(reg.lock);
        creation = creationLock(reg, address);
    }
    std::lock_guard<std::mutex> creating(*creation);
    if (holds == Held::Away && !retireReplaced(reg, address) && CameraOperations::find(address) == object) {
        return welcomeBack(std::move(object));
    }
    object.reset();
    CameraSource source;
    if (reg.objects.closed()) {
        return nullptr;
    }
    if (held(reg, address, object) == Held::Usable) {
        return object; // built by the caller that held the creation lock before us
    }
    if (object) {
        return nullptr; // its camera went away meanwhile
    }
    {
        std::lock_guard<std::mutex> guard(reg.lock);
        source = reg.source;
    }

    object = source ? source(address) : nullptr;
    if (!object) {
        return nullptr;
    }
    // The subscriptions noted for the address change only under its creation lock, held here.
    uint32_t subscribers = 0;
    {
        std::lock_guard<std::mutex> guard(reg.lock);
        if (const auto carried = reg.carried.find(address); carried != reg.carried.end()) {
            subscribers = carried->second;
            reg.carried.erase(carried);
        }
    }
    object->adoptSubscribers(subscribers);
    // Nothing else builds here while the creation lock is held; null once the registry closed.
    return reg.objects.findOrAdd(address, [&object] { return object; });
}

bool CameraOperations::replacedAtAddress(uint32_t address)
{
    Registry& reg = registry();
    if (reg.objects.closed()) {
        return false;
    }
    std::shared_ptr<std::mutex> creation;
    {
        std::lock_guard<std::mutex> guard(reg.lock);
        creation = creationLock(reg, address);
    }
    std::lock_guard<std::mutex> creating(*creation);
    retireReplaced(reg, address);
    std::lock_guard<std::mutex> guard(reg.lock);
    return reg.carried.count(address) != 0;
}

bool CameraOperations::exists(uint32_t address)
{
    HLV_TRACE(thread::TRACE_OPERATIONS, "CameraOperations::exists");
    return registry().objects.contains(address);
}

std::shared_ptr<CameraOperations> CameraOperations::find(uint32_t address)
{
    return registry().objects.find(address);
}

void CameraOperations::recycle(const CameraOperations* object)
{
    HLV_TRACE(thread::TRACE_OPERATIONS, "%s: ops_ptr=%p", "CameraOperations::recycle",
              static_cast<const void*>(object));
    if (object == nullptr) {
        return;
    }
    std::shared_ptr<CameraOperations> removed = registry().objects.takeObject(object);
    if (removed) {
        HLV_TRACE(thread::TRACE_OPERATIONS, "%s(%s): We have a match!", "CameraOperations::recycle",
                  object->cameraName().c_str());
    }
    retire(std::move(removed));
    HLV_TRACE(thread::TRACE_OPERATIONS, "%s: done", "CameraOperations::recycle");
}

void CameraOperations::close()
{
    HLV_TRACE(thread::TRACE_OPERATIONS, "CameraOperations::close");
    for (auto& entry : registry().objects.closeAll()) {
        retire(std::move(entry.second));
    }
}

} // namespace halvex::camera
