// The camera operations registry: refusing a camera discovery does not know, one object per
// address however many callers ask first, kept while its camera is away.
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

using namespace halvex::api;
using namespace halvex::camera;
using namespace halvex::control;

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

TEST(CameraRegistry, OneObjectPerAddressKeptWhileItsCameraIsAway)
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

    // The channel gives up (the camera was lost): calls find no object, but the object and what
    // it holds for the host stay for the camera's return; nothing is built meanwhile.
    source.camera(0)->setFaulted(true);
    EXPECT_EQ(CameraOperations::factory(address), nullptr);
    EXPECT_EQ(CameraOperations::find(address), first);
    EXPECT_EQ(source.camera(0)->releases(), 0u);
    source.camera(0)->setFaulted(false);
    EXPECT_EQ(CameraOperations::factory(address), first);
    EXPECT_EQ(source.built(), 2u);

    // Recycling takes the object out and lets its channel go.
    CameraOperations::recycle(first.get());
    EXPECT_FALSE(CameraOperations::exists(address));
    EXPECT_EQ(source.camera(0)->releases(), 1u);
    CameraOperations::recycle(other.get());
}

// A camera that does not answer when first asked is not taken for an unusable one: each later
// call asks it again, and the first one it answers gets the camera.
TEST(CameraRegistry, ACameraThatDidNotAnswerIsAskedAgainOnTheNextCall)
{
    constexpr uint32_t address = 0x0500007F;
    constexpr uint32_t TIMED_OUT = 0x8FFF; // any failure: no answer came
    auto camera = FakeCamera::lux19hs();
    std::atomic<std::size_t> asked{0};
    setCameraSource([&](uint32_t at) {
        ++asked;
        return recogniseCamera(at, camera);
    });
    struct Unset {
        ~Unset() { setCameraSource(nullptr); }
    } unset;
    camera->failReads(TIMED_OUT);
    EXPECT_EQ(CameraOperations::factory(address), nullptr);
    const std::size_t firstTry = camera->exchanges();
    EXPECT_GT(firstTry, 0u);
    EXPECT_EQ(CameraOperations::factory(address), nullptr);
    EXPECT_EQ(asked, 2u) << "the second call did not ask the camera again";
    EXPECT_GT(camera->exchanges(), firstTry);
    EXPECT_FALSE(CameraOperations::exists(address));

    camera->failReads(0);
    const auto object = CameraOperations::factory(address);
    ASSERT_NE(object, nullptr) << "a camera that answers now is still refused";
    EXPECT_EQ(object->cameraName(), "127.0.0.5");
    EXPECT_EQ(CameraOperations::factory(address), object);
    EXPECT_EQ(asked, 3u);
    CameraOperations::recycle(object.get());
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
