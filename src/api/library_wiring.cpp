// Library wiring: connects the layers that cannot name each other, once, before the first call does work.
#include "api/library_wiring.h"

#include <mutex>

#include "api/camera_families.h"
#include "api/discovery_events.h"
#include "camera/camera_operations_registry.h"
#include "discovery/discovery.h"

namespace halvex::api {

using camera::buildDiscoveredCamera;
using camera::setCameraSource;
using discovery::Discovery;

namespace frame {

void connectComponents()
{
    static std::once_flag connected;
    std::call_once(connected, [] {
        setCameraSource([](uint32_t address) { return buildDiscoveredCamera(address, recogniseCamera); });
        Discovery::setLibraryEvents(api::libraryDiscoveryEvents());
    });
}

} // namespace frame

} // namespace halvex::api
