// Library wiring: connects the layers that cannot name each other, once, before the first call does work.
#include "api/library_wiring.h"

#include <mutex>

#include "api/camera_families.h"
#include "api/discovery_events.h"
#include "camera/camera_operations_registry.h"
#include "discovery/discovery.h"

namespace HX_API_FRAME {

void connectComponents()
{
    static std::once_flag connected;
    std::call_once(connected, [] {
        setCameraSource([](uint32_t address) { return buildDiscoveredCamera(address, recogniseCamera); });
        Discovery::setLibraryEvents(HLV_DISCOVERY::libraryDiscoveryEvents());
    });
}

} // namespace HX_API_FRAME
