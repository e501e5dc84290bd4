// Camera operations registry: one operations object per camera address, built on first use and
// rebuilt when the camera comes back after its channel gave up on it.
#include <map>

#include <hlv_thread/log.h>

#include "control/camera_address.h"
#include "camera/camera_operations.h"
#include "camera/camera_operations_registry.h"
#include "discovery/discovery_seam.h"
#include "control/register_channel.h"

namespace {

// Allocated once and never destroyed: API and service threads may look it up while the process
// exits or the library unloads.
struct Registry {
    std::mutex lock;
    std::map<uint32_t, std::shared_ptr<CameraOperations>> objects;
    // One creation lock per address, so two first calls on one camera never build two objects,
    // while a slow camera does not hold up the others.
    std::map<uint32_t, std::shared_ptr<std::mutex>> creating;
    bool closed = false;
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

// The registered object when it is still usable. An object whose channel has given up on the
// camera (it was declared lost) is taken out and handed back through `stale`.
std::shared_ptr<CameraOperations> usable(Registry& reg, uint32_t address, std::shared_ptr<CameraOperations>& stale)
{
    const auto found = reg.objects.find(address);
    if (found == reg.objects.end()) {
        return nullptr;
    }
    if (!found->second->channelFaulted()) {
        return found->second;
    }
    stale = std::move(found->second);
    reg.objects.erase(found);
    return nullptr;
}

} // namespace

std::shared_ptr<CameraOperations> buildDiscoveredCamera(uint32_t address, const CameraRecogniser& recognise)
{
    const std::string name = dottedAddress(address);
    uint32_t known = 0;
    if (!DISCOVERY_SEAM::findCamera(name.c_str(), known) || known != address) {
        HLV_LOG("The IP address %s has not been discovered!", name.c_str());
        return nullptr;
    }
    std::shared_ptr<RegisterChannel> channel = controlChannelFor(address);
    std::shared_ptr<CameraOperations> object = recognise(address, channel);
    if (!object) {
        // An unrecognised camera keeps none of the few control channels the host can open.
        channel->release();
    }
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
    std::shared_ptr<CameraOperations> stale;
    {
        std::lock_guard<std::mutex> guard(reg.lock);
        if (reg.closed) {
            HLV_TRACE(HLV_THREAD::TRACE_OPERATIONS, "%s: called after closed.", "CameraOperations::factory");
            return nullptr;
        }
        if (auto object = usable(reg, address, stale)) {
            return object;
        }
        creation = creationLock(reg, address);
    }
    retire(std::move(stale));

    std::lock_guard<std::mutex> creating(*creation);
    CameraSource source;
    {
        std::lock_guard<std::mutex> guard(reg.lock);
        if (reg.closed) {
            return nullptr;
        }
        if (auto object = usable(reg, address, stale)) {
            return object; // built by the caller that held the creation lock before us
        }
        source = reg.source;
    }
    retire(std::move(stale));

    std::shared_ptr<CameraOperations> object = source ? source(address) : nullptr;
    if (!object) {
        return nullptr;
    }
    std::lock_guard<std::mutex> guard(reg.lock);
    if (reg.closed) {
        return nullptr;
    }
    reg.objects[address] = object;
    return object;
}

bool CameraOperations::exists(uint32_t address)
{
    HLV_TRACE(HLV_THREAD::TRACE_OPERATIONS, "CameraOperations::exists");
    Registry& reg = registry();
    std::lock_guard<std::mutex> guard(reg.lock);
    return reg.objects.count(address) != 0;
}

std::shared_ptr<CameraOperations> CameraOperations::find(uint32_t address)
{
    Registry& reg = registry();
    std::lock_guard<std::mutex> guard(reg.lock);
    const auto found = reg.objects.find(address);
    return found == reg.objects.end() ? nullptr : found->second;
}

void CameraOperations::recycle(const CameraOperations* object)
{
    HLV_TRACE(HLV_THREAD::TRACE_OPERATIONS, "%s: ops_ptr=%p", "CameraOperations::recycle",
              static_cast<const void*>(object));
    if (object == nullptr) {
        return;
    }
    Registry& reg = registry();
    std::shared_ptr<CameraOperations> removed;
    {
        std::lock_guard<std::mutex> guard(reg.lock);
        for (auto entry = reg.objects.begin(); entry != reg.objects.end(); ++entry) {
            if (entry->second.get() == object) {
                HLV_TRACE(HLV_THREAD::TRACE_OPERATIONS, "%s(%s): We have a match!", "CameraOperations::recycle",
                          object->cameraName().c_str());
                removed = std::move(entry->second);
                reg.objects.erase(entry);
                break;
            }
        }
    }
    retire(std::move(removed));
    HLV_TRACE(HLV_THREAD::TRACE_OPERATIONS, "%s: done", "CameraOperations::recycle");
}

void CameraOperations::close()
{
    HLV_TRACE(HLV_THREAD::TRACE_OPERATIONS, "CameraOperations::close");
    Registry& reg = registry();
    std::map<uint32_t, std::shared_ptr<CameraOperations>> closing;
    {
        std::lock_guard<std::mutex> guard(reg.lock);
        reg.closed = true;
        closing.swap(reg.objects);
    }
    for (auto& entry : closing) {
        retire(std::move(entry.second));
    }
}
