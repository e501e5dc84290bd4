// Where the API meets camera discovery. Discovery does not exist yet: this records what the API
// asks of it, so that the API's calls and their order are already in place.
#include "discovery_seam.h"

#include <atomic>

#include "hlv_thread/log.h"

namespace DISCOVERY_SEAM {

namespace {

using HLV_THREAD::TRACE_DISCOVERY;

std::atomic<bool> closedFlag{false};
std::atomic<bool> pausedFlag{false};
std::atomic<bool> localFlag{false};

} // namespace

bool start(bool localInterfacesOnly)
{
    if (closedFlag.load()) {
        HLV_TRACE(TRACE_DISCOVERY, "%s: Called after halted", "Discovery::factory");
        return false;
    }
    localFlag.store(localInterfacesOnly);
    return true;
}

void close()
{
    closedFlag.store(true);
}

bool pause(bool paused)
{
    if (closedFlag.load())
        return false;
    HLV_TRACE(TRACE_DISCOVERY, "%s: pause=%d", "Discovery::pausePolling", paused ? 1 : 0);
    pausedFlag.store(paused);
    return true;
}

bool paused()
{
    return pausedFlag.load();
}

bool localInterfacesOnly()
{
    return localFlag.load();
}

bool findCamera(const char* name, uint32_t& address)
{
    HLV_TRACE(TRACE_DISCOVERY, "%s: no camera database yet; '%s' not found", "Discovery::getDiscoveryInfoByName",
              name);
    address = 0;
    return false;
}

bool addCamera(const char* name, uint32_t& address)
{
    HLV_TRACE(TRACE_DISCOVERY, "%s: no camera database yet; cannot add '%s'", "DiscoveryDB::addCamera", name);
    address = 0;
    return false;
}

} // namespace DISCOVERY_SEAM
