// How long an image takes from its last packet leaving a stand-in camera to the host having it:
// the camera stamps each image as its last send returns, the host as it takes the image, both
// on the process's steady clock; the stamps are paired once a run is over.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <vector>

#include "sim/device/camera_config.h"

namespace stream_bench {

// Median and 99th percentile of a run's (or several runs') image latencies.
struct LatencyFigures {
    std::size_t images = 0;
    double medianMicros = 0;
    double p99Micros = 0;
};

// Fixed tables of atomics, so that neither side ever locks or allocates while it stamps. Images
// are found by block id (what a raw sink reads in a trailer) or by frame number (what the library
// hands back), whichever the receiver knows; a table holds the last kSlots images of a camera.
class FrameLatency {
public:
    static constexpr std::size_t kCameras = 16;
    static constexpr std::size_t kSlots = 4096;
    using Clock = std::chrono::steady_clock;

    FrameLatency();
    FrameLatency(const FrameLatency&) = delete;
    FrameLatency& operator=(const FrameLatency&) = delete;

    // Gives `config` the camera-side stamp; false when the tables have no room for another camera.
    bool watch(hxsim::CameraConfig& config);
    // Forgets every stamp: a run starts.
    void clear();
    // The host has the image: stamped by the receiver that knows it by block id, or by frame.
    void receivedBlock(uint32_t camera, uint16_t blockId);
    void receivedFrame(uint32_t camera, uint32_t frame);
    // The latencies of the images stamped on both sides since clear(), added to `micros`.
    void collect(std::vector<double>& micros) const;

    static LatencyFigures figures(std::vector<double> micros);

private:
    struct Camera {
        std::atomic<uint32_t> address{0};
        std::array<std::atomic<int64_t>, kSlots> sentAt{};       // by block id
        std::array<std::atomic<uint32_t>, kSlots> frameOf{};     // by block id
        std::array<std::atomic<int64_t>, kSlots> blockTakenAt{}; // by block id
        std::array<std::atomic<int64_t>, kSlots> frameTakenAt{}; // by frame
    };

    void sent(const hxsim::SentImage& image);
    Camera* find(uint32_t address);
    static int64_t now();

    std::array<Camera, kCameras> cameras_;
    std::atomic<std::size_t> watched_{0};
};

} // namespace stream_bench
