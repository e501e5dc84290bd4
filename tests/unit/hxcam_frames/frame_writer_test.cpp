// hxcam's frame writer: jobs run in order on its thread, finish() waits for all of them, and the
// counts --stats prints add up.
#include <gtest/gtest.h>

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
    for (int i = 0; i < 50; ++i) {
        writer.post([&, i]() -> uint64_t {
            order.push_back(i);
            elsewhere = elsewhere && std::this_thread::get_id() != caller;
            return i % 10 == 9 ? 0 : 1000; // every tenth frame fails to be written
        });
    }
    writer.finish();
    ASSERT_EQ(order.size(), 50u) << "finish() returned before every job had run";
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(order[std::size_t(i)], i);
    EXPECT_TRUE(elsewhere) << "jobs ran on the posting thread";
    EXPECT_EQ(writer.written(), 45u);
    EXPECT_EQ(writer.bytes(), 45000u);
    EXPECT_GE(writer.busySeconds(), 0.0);

    FrameWriter idle;
    idle.finish();
    EXPECT_EQ(idle.megabytesPerSecond(), 0.0) << "nothing written, no rate";
}
