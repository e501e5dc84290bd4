// hxcam's frame writer: jobs run in order on its thread, finish() waits for all of them, and the
// counts --stats prints add up.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "frame_writer.h"

using hxcam::FrameWriter;

TEST(FrameWriter, RunsJobsInOrderAndCountsWhatTheyWrote)
{
    FrameWriter writer;
    std::vector<int> order;
    const auto caller = std::this_thread::get_id();
    bool elsewhere = true;
    // The first job works for at least this long, so the writer's busy time has a floor.
    constexpr auto work = std::chrono::milliseconds(20);
    const auto posted = std::chrono::steady_clock::now();
    for (int i = 0; i < 50; ++i) {
        writer.post([&, i]() -> uint64_t {
            order.push_back(i);
            elsewhere = elsewhere && std::this_thread::get_id() != caller;
            if (i == 0) {
                const auto begun = std::chrono::steady_clock::now();
                while (std::chrono::steady_clock::now() - begun < work) {
                }
            }
            return i % 10 == 9 ? 0 : 1000; // every tenth frame fails to be written
        });
    }
    writer.finish();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - posted).count();
    ASSERT_EQ(order.size(), 50u) << "finish() returned before every job had run";
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(order[std::size_t(i)], i);
    EXPECT_TRUE(elsewhere) << "jobs ran on the posting thread";
    EXPECT_EQ(writer.written(), 45u);
    EXPECT_EQ(writer.bytes(), 45000u);
    // Busy time counts the jobs' work and nothing outside it; the rate is taken over that time.
    const double floor = std::chrono::duration<double>(work).count();
    EXPECT_GE(writer.busySeconds(), floor);
    EXPECT_LE(writer.busySeconds(), wall);
    EXPECT_LE(writer.megabytesPerSecond(), 45000 / floor / 1e6);
    EXPECT_GE(writer.megabytesPerSecond(), 45000 / wall / 1e6);

    FrameWriter idle;
    idle.finish();
    EXPECT_EQ(idle.megabytesPerSecond(), 0.0) << "nothing written, no rate";
}
