// What discovery does in the library when a camera comes or goes.
#include "api/discovery_events.h"

#include <memory>

#include "callback/callback.h"
#include "camera/camera_operations.h"
#include "camera/camera_services.h"
#include "control/hx_comm.h"
#include "control/hx_notification.h"
#include "hlv_thread/log.h"
#include "hlv_thread/note.h"
#include "platform/ipv4_endpoint.h"
#include "platform/netutils.h"

namespace halvex::api {

using camera::CameraOperations;
using camera::CameraServices;
using control::HxComm;
using discovery::DiscoveryEvents;

std::string LibraryDiscoveryEvents::adapterName(uint32_t address)
{
    std::string name;
    try {
        platform::net_utils::localAdapterOfCamera(address, name);
    } catch (const thread::Exception& error) {
        HLV_LOG("%s(%s): %s", "HLV_DISCOVERY::LibraryDiscoveryEvents::adapterName",
                platform::ipv4ToText(address).c_str(), error.str().c_str());
        name.clear();
    }
    return name;
}

void LibraryDiscoveryEvents::cameraFound(uint32_t address, const std::string& name,
                                         const HX_CAMERA_INFORMATION& information)
{
    // A camera that returns after it was lost gets a fresh control channel: the faulted one would
    // refuse every request.
    const bool returning = HxComm::isKnown(address) && HxComm::isFaulted(address);
    // Another camera at the address is never served by the object of the one that was there.
    const bool replaced = CameraOperations::replacedAtAddress(address);
    if (returning)
        HxComm::recycle(address);
    const std::shared_ptr<CameraServices> service = CameraServices::factory(address);
    if (!service)
        return;
    service->setCameraName(name);
    // What the host had set up with the camera is set up again, before the found event reaches it.
    if (returning || replaced)
        control::announceReturn(address);
    auto request = std::make_unique<callback::CallbackRequest>(HX_DISCOVERY, address);
    request->attach(information);
    callback::Callback::postOwned(std::move(request));
}

void LibraryDiscoveryEvents::cameraLost(uint32_t address, const std::string& name)
{
    HxComm::setFault(address);
    auto request = std::make_unique<callback::CallbackRequest>(HX_END, address);
    request->text = name;
    callback::Callback::postOwned(std::move(request));
}

DiscoveryEvents& libraryDiscoveryEvents()
{
    static LibraryDiscoveryEvents* const events = new LibraryDiscoveryEvents;
    return *events;
}

} // namespace halvex::api
