// What discovery does in the library when a camera comes or goes: its service, its control
// channel and the clients' found and lost events.
#pragma once

#include "discovery/discovery_db.h"

namespace halvex::api {

// Runs on the Discovery thread, outside the database's lock.
class LibraryDiscoveryEvents : public discovery::DiscoveryEvents {
public:
    // The local adapter whose subnet holds the camera; empty when none does or the adapters
    // cannot be read (the camera is still added).
    std::string adapterName(uint32_t address) override;
    // Creates the camera's service (and a fresh control channel for a camera that was lost), names
    // it, and sends every client the found event. Without a service there is no event.
    void cameraFound(uint32_t address, const std::string& name, const HX_CAMERA_INFORMATION& information) override;
    // Fails the camera's control channel (pending requests end at once) and sends the lost event.
    void cameraLost(uint32_t address, const std::string& name) override;
};

// The instance the library's Discovery reports to; allocated once, never freed.
discovery::DiscoveryEvents& libraryDiscoveryEvents();

} // namespace halvex::api
