// Stamps of both ends of an image's way, paired after the run.
#include "frame_latency.h"

#include <algorithm>
#include <cmath>

namespace stream_bench {

FrameLatency::FrameLatency() = default;

bool FrameLatency::watch(hxsim::CameraConfig& config)
{
    const std::size_t index = watched_.fetch_add(1);
    if (index >= kCameras) {
        watched_ = kCameras;
        return false;
    }
    cameras_[index].address = config.address;
    config.onImageSent = [this](const hxsim::SentImage& image) { sent(image); };
    return true;
}

void FrameLatency::clear()
{
    for (Camera& camera : cameras_) {
        for (std::size_t slot = 0; slot < kSlots; ++slot) {
            camera.sentAt[slot].store(0, std::memory_order_relaxed);
            camera.blockTakenAt[slot].store(0, std::memory_order_relaxed);
            camera.frameTakenAt[slot].store(0, std::memory_order_relaxed);
        }
    }
}

int64_t FrameLatency::now()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

FrameLatency::Camera* FrameLatency::find(uint32_t address)
{
    const std::size_t count = std::min(watched_.load(), kCameras);
    for (std::size_t i = 0; i < count; ++i) {
        if (cameras_[i].address.load(std::memory_order_relaxed) == address)
            return &cameras_[i];
    }
    return nullptr;
}

// The stamp is taken first: the rest is bookkeeping that the way to the host does not include.
void FrameLatency::sent(const hxsim::SentImage& image)
{
    const int64_t at = now();
    if (Camera* camera = find(image.camera)) {
        const std::size_t slot = image.blockId % kSlots;
        camera->frameOf[slot].store(image.frame, std::memory_order_relaxed);
        camera->sentAt[slot].store(at, std::memory_order_release);
    }
}

void FrameLatency::receivedBlock(uint32_t camera, uint16_t blockId)
{
    const int64_t at = now();
    if (Camera* found = find(camera))
        found->blockTakenAt[blockId % kSlots].store(at, std::memory_order_release);
}

void FrameLatency::receivedFrame(uint32_t camera, uint32_t frame)
{
    const int64_t at = now();
    if (Camera* found = find(camera))
        found->frameTakenAt[frame % kSlots].store(at, std::memory_order_release);
}

// A receiver may stamp before the camera's send call has returned (its thread can run first):
// such an image counts with a latency of zero, not as a negative one.
void FrameLatency::collect(std::vector<double>& micros) const
{
    for (const Camera& camera : cameras_) {
        for (std::size_t slot = 0; slot < kSlots; ++slot) {
            const int64_t sentAt = camera.sentAt[slot].load(std::memory_order_acquire);
            if (sentAt == 0)
                continue;
            int64_t takenAt = camera.blockTakenAt[slot].load(std::memory_order_acquire);
            if (takenAt == 0) {
                const uint32_t frame = camera.frameOf[slot].load(std::memory_order_relaxed);
                takenAt = camera.frameTakenAt[frame % kSlots].load(std::memory_order_acquire);
            }
            if (takenAt != 0)
                micros.push_back(double(std::max<int64_t>(takenAt - sentAt, 0)) * 1e-3);
        }
    }
}

LatencyFigures FrameLatency::figures(std::vector<double> micros)
{
    LatencyFigures out;
    out.images = micros.size();
    if (micros.empty())
        return out;
    std::sort(micros.begin(), micros.end());
    const auto rank = [&](double fraction) {
        const auto index = static_cast<std::size_t>(std::ceil(fraction * double(micros.size()))) - 1;
        return micros[std::min(index, micros.size() - 1)];
    };
    out.medianMicros = rank(0.5);
    out.p99Micros = rank(0.99);
    return out;
}

} // namespace stream_bench
