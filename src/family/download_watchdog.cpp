// Download watchdog: ends a running download whose camera has stopped sending, so the host gets
// its buffers back instead of waiting for frames that will never come.
#include "family/download_watchdog.h"

#include <algorithm>
#include <memory>
#include <new>
#include <utility>

#include "callback/hx_stream.h"
#include "camera/camera_address.h"
#include "camera/camera_message_ids.h"
#include "camera/camera_services.h"
#include "hlv_thread/log.h"
#include "hlv_thread/period_scale.h"

namespace halvex::family {

using callback::HxStream;
using camera::CameraServices;
using camera::dottedAddress;

namespace {

using Clock = std::chrono::steady_clock;

int64_t nowTicks()
{
    return Clock::now().time_since_epoch().count();
}

} // namespace

WatchdogStop::WatchdogStop(const std::shared_ptr<CameraServices>& service, uint32_t cameraAddress, uint64_t forSession)
    : HxStream<thread::Message>(message_ids::DOWNLOAD_STREAM_MSG, nullptr, service, 0, cameraAddress),
      session(forSession)
{
    stop = true;
}

DownloadWatchdog::DownloadWatchdog(uint32_t cameraAddress, std::shared_ptr<const std::atomic<uint64_t>> dataIn,
                                   PausedForHost pausedForHost, std::shared_ptr<const std::atomic<uint64_t>> silentEnds)
    : thread::Timer(std::min(thread::scaledMicroseconds(STALL_MILLISECONDS * 1000 / CHECKS_PER_STALL),
                             SILENCE_CHECK_MICROSECONDS)),
      cameraAddress_(cameraAddress), dataIn_(std::move(dataIn)), pausedForHost_(std::move(pausedForHost)),
      silentEnds_(std::move(silentEnds)), dataSeen_(dataIn_ ? dataIn_->load() : 0),
      stallLimit_(std::chrono::microseconds(thread::scaledMicroseconds(STALL_MILLISECONDS * 1000)))
{
}

DownloadWatchdog::~DownloadWatchdog()
{
    stop();
}

void DownloadWatchdog::arm(uint64_t session)
{
    session_ = session;
    silentSeen_ = silentEnds_ ? silentEnds_->load() : 0;
    lastProgress_ = nowTicks();
    fired_ = false;
    armed_ = true;
}

void DownloadWatchdog::disarm()
{
    armed_ = false;
    stop();
}

void DownloadWatchdog::progress()
{
    lastProgress_ = nowTicks();
}

void DownloadWatchdog::tick()
{
    // Paused for the host, the stall clock stands still.
    if (dataArrived() || (pausedForHost_ && pausedForHost_()))
        progress();
    if (!armed_ || fired_)
        return;
    const bool silent = fellSilent();
    if (!silent && !stalled())
        return;
    fired_ = true;
    postStop(silent);
}

// The receiver's verdicts counted before this download was armed belong to earlier ones: its
// parser was switched over (synchronously) before the arming.
bool DownloadWatchdog::fellSilent() const
{
    return silentEnds_ && silentEnds_->load(std::memory_order_relaxed) != silentSeen_;
}

bool DownloadWatchdog::stalled() const
{
    const Clock::duration quiet = Clock::duration(nowTicks() - lastProgress_.load());
    return quiet >= stallLimit_;
}

// Looked at on every tick, armed or not, so data of an earlier stream never counts for the next.
bool DownloadWatchdog::dataArrived()
{
    if (!dataIn_)
        return false;
    const uint64_t count = dataIn_->load(std::memory_order_relaxed);
    if (count == dataSeen_)
        return false;
    dataSeen_ = count;
    return true;
}

// An ownerless stop request without a route: whoever handles it last deletes it.
void DownloadWatchdog::postStop(bool silent)
{
    const std::string camera = dottedAddress(cameraAddress_);
    std::shared_ptr<CameraServices> service = CameraServices::find(cameraAddress_);
    if (!service) {
        HLV_LOG("%s(%s): The download has stalled and the camera has no service any more.", "DownloadWatchdog::tick",
                camera.c_str());
        return;
    }
    if (silent)
        HLV_LOG("%s(%s): The download fell silent before its last frame; stopping the download.",
                "DownloadWatchdog::tick", camera.c_str());
    else
        HLV_LOG("%s(%s): No download data for %lld ms; stopping the download.", "DownloadWatchdog::tick",
                camera.c_str(),
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(stallLimit_).count()));
    auto* stop = new (std::nothrow) WatchdogStop(service, cameraAddress_, session_);
    if (stop == nullptr) {
        HLV_LOG("%s(%s): Unable to allocate the stop message.", "DownloadWatchdog::tick", camera.c_str());
        return;
    }
    service->post(stop);
}

} // namespace halvex::family
