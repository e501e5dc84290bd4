// Discovery polling held off while a download runs: its broadcasts would compete with the
// stream for the link and the host.
#include "family/download_discovery_pause.h"

#include "discovery/discovery.h"

namespace halvex::family {

using discovery::Discovery;

// However the owner goes, a download must not leave discovery paused for the rest of the process.
DownloadDiscoveryPause::~DownloadDiscoveryPause()
{
    end();
}

void DownloadDiscoveryPause::pause()
{
    Discovery* discovery = Discovery::existing();
    if (discovery == nullptr || discovery->paused()) {
        // Someone else paused it (or a download already did): that pause is not ours to end.
        return;
    }
    discovery->pausePolling(true);
    pausedByUs_ = true;
}

void DownloadDiscoveryPause::end()
{
    if (!pausedByUs_)
        return;
    pausedByUs_ = false;
    if (Discovery* discovery = Discovery::existing())
        discovery->pausePolling(false);
}

} // namespace halvex::family
