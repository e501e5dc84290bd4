// Discovery polling held off while a download runs: its broadcasts would compete with the
// stream for the link and the host.
#pragma once

namespace halvex::family {

// Only a pause this object made is ended by it: discovery paused by someone else (or already by
// another download) stays paused. However the download ends, and when its owner goes, the
// pause does not outlive it.
//
// Threads: the camera's service thread, or an API thread under FamilyStreaming's flow lock.
class DownloadDiscoveryPause {
public:
    DownloadDiscoveryPause() = default;
    ~DownloadDiscoveryPause();
    DownloadDiscoveryPause(const DownloadDiscoveryPause&) = delete;
    DownloadDiscoveryPause& operator=(const DownloadDiscoveryPause&) = delete;

    void pause();
    // Ends the pause when this object made it.
    void end();

private:
    bool pausedByUs_ = false;
};

} // namespace halvex::family
