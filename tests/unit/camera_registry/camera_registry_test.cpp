// The camera operations registry: refusing a camera discovery does not know, one object per
// address however many callers ask first, and a fresh object once the old one's channel gave up.
#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "api/camera_families.h"
#include "camera/camera_operations.h"
#include "camera/camera_operations_registry.h"
#include "fake_camera.h"
#include "log_capture.h"

using hx_test::FakeCamera;

namespace {

// Builds each object over a camera of its own and keeps the cameras for the test to look at.
class Source {
public:
    Source()
    {
        setCameraSource([this](uint32_t address) { return build(address); });
    }
    ~Source() { setCameraSource(nullptr); }

    std::shared_ptr<FakeCamera> camera(std::size_t index) const
    {
        std::lock_guard<std::mutex> guard(lock_);
        return cameras_.at(index);
    }
    std::size_t built() const
    {
        std::lock_guard<std::mutex> guard(lock_);
        return cameras_.size();
    }

private:
    std::shared_ptr<CameraOperations> build(uint32_t address)
    {
        auto camera = FakeCamera::lux19hs();
        {
            std::lock_guard<std::mutex> guard(lock_);
            cameras_.push_back(camera);
        }
        return recogniseCamera(address, camera);
    }

    mutable std::mutex lock_;
    std::vector<std::shared_ptr<FakeCamera>> cameras_;
};

TEST(CameraRegistry, RefusesACameraDiscoveryDoesNotKnow)
{
    hx_test::LogCapture capture;
    bool recognised = false;
    const auto object = buildDiscoveredCamera(0x0900007F, [&](uint32_t, std::shared_ptr<RegisterChannel>) {
        recognised = true;
        return std::shared_ptr<CameraOperations>();
    });
    EXPECT_EQ(object, nullptr);
    EXPECT_FALSE(recognised);
    EXPECT_EQ(capture.count("The IP address 127.0.0.9 has not been discovered!"), 1u);
}

TEST(CameraRegistry, NothingIsBuiltWithoutASource)
{
    EXPECT_EQ(CameraOperations::factory(0x0A00007F), nullptr);
    EXPECT_FALSE(CameraOperations::exists(0x0A00007F));
}

TEST(CameraRegistry, OneObjectPerAddressRebuiltWhenItsChannelGaveUp)
{
    constexpr uint32_t address = 0x0200007F;
    Source source;
    const auto first = CameraOperations::factory(address);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(CameraOperations::factory(address), first);
    EXPECT_EQ(CameraOperations::find(address), first);
    EXPECT_EQ(source.built(), 1u);

    // Another address gets its own object.
    const auto other = CameraOperations::factory(0x0300007F);
    ASSERT_NE(other, nullptr);
    EXPECT_NE(other, first);

    // The channel gives up: the next call lets the old channel go and builds afresh.
    source.camera(0)->setFaulted(true);
    const auto second = CameraOperations::factory(address);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, first);
    EXPECT_EQ(source.built(), 3u);
    EXPECT_EQ(source.camera(0)->releases(), 1u);
    EXPECT_EQ(CameraOperations::find(address), second);

    // Recycling takes the object out and lets its channel go.
    CameraOperations::recycle(second.get());
    EXPECT_FALSE(CameraOperations::exists(address));
    EXPECT_EQ(source.camera(2)->releases(), 1u);
    CameraOperations::recycle(other.get());
}

TEST(CameraRegistry, ConcurrentFirstCallsShareOneObject)
{
    constexpr uint32_t address = 0x0400007F;
    constexpr std::size_t callers = 8;
    Source source;
    std::latch start(callers);
    std::vector<std::shared_ptr<CameraOperations>> objects(callers);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < callers; ++i) {
        threads.emplace_back([&, i] {
            start.arrive_and_wait();
            objects[i] = CameraOperations::factory(address);
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(source.built(), 1u);
    for (const auto& object : objects) {
        ASSERT_NE(object, nullptr);
        EXPECT_EQ(object, objects[0]);
    }
    CameraOperations::recycle(objects[0].get());
}

} // namespace
