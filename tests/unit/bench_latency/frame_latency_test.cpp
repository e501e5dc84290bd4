// The benchmark's image timing pairs each image's two stamps however the receiver knows the image,
// leaves out what only one side stamped, and reports nearest-rank percentiles.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "frame_latency.h"

using stream_bench::FrameLatency;
using stream_bench::LatencyFigures;

namespace {

constexpr uint32_t kCamera = 0x7F000010;
constexpr uint32_t kOther = 0x7F000011;

// A camera configuration carrying the table's stamp, as the benchmark hands it to hxsim.
struct Watched {
    std::unique_ptr<FrameLatency> latency = std::make_unique<FrameLatency>();
    hxsim::CameraConfig camera;

    explicit Watched(uint32_t address = kCamera)
    {
        camera.address = address;
        EXPECT_TRUE(latency->watch(camera));
    }
    void sent(uint16_t blockId, uint32_t frame) const { camera.onImageSent({camera.address, blockId, frame}); }
    std::vector<double> collected() const
    {
        std::vector<double> micros;
        latency->collect(micros);
        return micros;
    }
};

} // namespace

TEST(FrameLatency, PairsAnImageByBlockOrByFrameAndOnlyWhenBothSidesStamped)
{
    Watched watched;
    watched.sent(7, 100);
    watched.latency->receivedBlock(kCamera, 7); // a raw sink reads the trailer's block
    watched.sent(8, 101);
    watched.latency->receivedFrame(kCamera, 101); // the library hands back the frame number
    watched.sent(9, 102);                         // never arrived
    watched.latency->receivedFrame(kCamera, 555); // never announced as sent
    watched.latency->receivedBlock(kOther, 9);    // another camera's block of the same number
    const std::vector<double> micros = watched.collected();
    ASSERT_EQ(micros.size(), 2u);
    for (double value : micros) {
        EXPECT_GE(value, 0);
        EXPECT_LT(value, 1e6) << "a pair of stamps of one test cannot be a second apart";
    }

    watched.latency->clear();
    EXPECT_TRUE(watched.collected().empty());
    watched.sent(7, 100);
    watched.sent(8, 101);
    EXPECT_TRUE(watched.collected().empty()) << "a receipt of the run before clear() paired with a new send";
}

// The host's thread may run before the camera's send call has returned.
TEST(FrameLatency, AnImageTakenBeforeItsSendReturnedCountsAsNoTimeAtAll)
{
    Watched watched;
    watched.latency->receivedFrame(kCamera, 3);
    watched.sent(1, 3);
    EXPECT_EQ(watched.collected(), std::vector<double>{0.0});
}

TEST(FrameLatency, CamerasItDoesNotWatchAreLeftOut)
{
    Watched watched;
    watched.latency->receivedBlock(kOther, 1);
    EXPECT_TRUE(watched.collected().empty());

    const auto full = std::make_unique<FrameLatency>();
    hxsim::CameraConfig camera;
    for (std::size_t i = 0; i < FrameLatency::kCameras; ++i)
        EXPECT_TRUE(full->watch(camera));
    hxsim::CameraConfig oneTooMany;
    EXPECT_FALSE(full->watch(oneTooMany));
    EXPECT_FALSE(oneTooMany.onImageSent) << "a camera beyond the table's room would stamp nowhere";
}

TEST(FrameLatency, FiguresAreNearestRankPercentiles)
{
    std::vector<double> hundred;
    for (int i = 100; i >= 1; --i)
        hundred.push_back(i);
    const LatencyFigures figures = FrameLatency::figures(hundred);
    EXPECT_EQ(figures.images, 100u);
    EXPECT_EQ(figures.medianMicros, 50);
    EXPECT_EQ(figures.p99Micros, 99);

    const LatencyFigures three = FrameLatency::figures({30, 10, 20});
    EXPECT_EQ(three.medianMicros, 20);
    EXPECT_EQ(three.p99Micros, 30);

    const LatencyFigures none = FrameLatency::figures({});
    EXPECT_EQ(none.images, 0u);
    EXPECT_EQ(none.p99Micros, 0);
}
