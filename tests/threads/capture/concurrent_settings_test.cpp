// Two host threads changing the capture settings of one camera at once, with a third reading them:
// the writes never overlap, and each caller reads back exactly what it wrote.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "api/camera_families.h"
#include "camera/camera_operations.h"
#include "fake_camera.h"
#include "record_fields.h"
#include "registers/register_map.h"

using namespace halvex::api;
using namespace halvex::camera;

using namespace halvex::registers;

namespace {

using hx_test::setField;

constexpr uint32_t CAMERA = 0x0200007F;
constexpr int ROUNDS = 100;

// A record as the camera holds it, asking for a new exposure: only another writer's exposure can
// come back changed.
HX_CAPTURE_SETTINGS exposureRequest(CameraOperations& operations, uint32_t exposure)
{
    HX_CAPTURE_SETTINGS record;
    operations.getCaptureSettings(&record);
    record.exposure_group_flags = HX_FLAG_SET;
    setField(record.exposure, record.exposure_flags, exposure);
    return record;
}

TEST(ConcurrentCaptureSettings, SettersOfOneCameraTakeTurns)
{
    auto camera = hx_test::FakeCamera::lux19hs();
    std::atomic<int> inFlight{0};
    std::atomic<int> mostAtOnce{0};
    camera->setWriteHook([&] {
        const int now = ++inFlight;
        int seen = mostAtOnce.load();
        while (now > seen && !mostAtOnce.compare_exchange_weak(seen, now)) {
        }
        // Widen the window in which an unserialised second writer would overlap.
        for (int i = 0; i < 20; ++i) {
            std::this_thread::yield();
        }
        --inFlight;
    });
    auto operations = recogniseCamera(CAMERA, camera);
    ASSERT_TRUE(operations);

    std::atomic<int> mismatches{0};
    std::atomic<bool> writersDone{false};
    auto writer = [&](uint32_t first) {
        for (int round = 0; round < ROUNDS; ++round) {
            const uint32_t exposure = first + static_cast<uint32_t>(round % 100);
            HX_CAPTURE_SETTINGS record = exposureRequest(*operations, exposure);
            operations->setCaptureSettings(&record);
            if (record.exposure != exposure || (record.exposure_flags & (HX_FLAG_ERR | HX_FLAG_CHG)) != 0) {
                ++mismatches;
            }
        }
    };
    std::thread reader([&] {
        HX_CAPTURE_SETTINGS seen;
        while (!writersDone.load()) {
            operations->getCaptureSettings(&seen);
            EXPECT_EQ(seen.width, 2048u);
            std::this_thread::yield();
        }
    });
    std::thread first(writer, 100);
    std::thread second(writer, 300);
    first.join();
    second.join();
    writersDone = true;
    reader.join();

    EXPECT_EQ(mostAtOnce.load(), 1) << "two capture writes to one camera overlapped";
    EXPECT_EQ(mismatches.load(), 0) << "a caller read back another caller's exposure";
    EXPECT_EQ(camera->multiWrites().size(), 2u * ROUNDS);
}

} // namespace
