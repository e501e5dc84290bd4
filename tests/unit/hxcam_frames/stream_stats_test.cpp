// What --stats counts: incomplete frames and the packets their missing bytes took, and gaps in a
// download's frame ids (a live stream's gaps are frames the host was too busy for, not losses).
#include <gtest/gtest.h>

#include "stream_stats.h"

namespace {

HX_READ_STREAM frame(uint32_t id, uint32_t status, uint32_t received, uint32_t announced)
{
    HX_READ_STREAM record{};
    record.frame_id = id;
    record.status = status;
    record.received_length = received;
    record.image_length = announced;
    return record;
}

constexpr uint32_t WHOLE = HX_STREAM_STATUS_LEADER | HX_STREAM_STATUS_COMPLETE;

TEST(StreamStats, CountsIncompleteFramesAndThePacketsTheyLost)
{
    halvex::common::StreamStats stats(true);
    // 9000-byte packets carry 9000 - 20 (IP) - 8 (UDP) - 8 (stream header) = 8964 image bytes.
    stats.setPacketSize(9000);
    stats.add(frame(0, WHOLE, 20000, 20000));
    stats.add(frame(1, WHOLE, 20000 - 8964, 20000));                          // one packet short
    stats.add(frame(2, WHOLE | HX_STREAM_STATUS_ERROR, 20000 - 8965, 20000)); // just over one packet
    stats.add(frame(3, HX_STREAM_STATUS_LEADER, 100, 20000));                 // trailer never came
    EXPECT_EQ(stats.frames(), 4u);
    EXPECT_EQ(stats.bytes(), 20000u + 11036u + 11035u + 100u);
    EXPECT_EQ(stats.incompleteFrames(), 3u);
    EXPECT_EQ(stats.lostPackets(), 1u + 2u + 3u);
    EXPECT_EQ(stats.missingFrames(), 0u);
}

TEST(StreamStats, GapsAreMissingFramesOnlyInADownload)
{
    halvex::common::StreamStats download(true);
    halvex::common::StreamStats live(false);
    for (uint32_t id : {3u, 4u, 7u, 8u, 12u}) {
        download.add(frame(id, WHOLE, 10, 10));
        live.add(frame(id, WHOLE, 10, 10));
    }
    EXPECT_EQ(download.missingFrames(), 2u + 3u);
    EXPECT_EQ(live.missingFrames(), 0u);
    EXPECT_EQ(download.incompleteFrames(), 0u);
}

// Over TCP a broken framing costs whole images and there is no packet size: every image missing
// from the range, or broken before its size was known, counts as lost.
TEST(StreamStats, ImagesATcpDownloadLostCountAsLost)
{
    halvex::common::StreamStats stats(true);
    stats.expectRange(0, 9);
    for (uint32_t id : {1u, 4u, 5u, 7u})
        stats.add(frame(id, WHOLE, 1000, 1000));
    stats.add(frame(8, HX_STREAM_STATUS_ERROR, 0, 0));
    EXPECT_EQ(stats.missingFrames(), 1u + 2u + 1u + 1u); // 0, 2-3, 6, 9
    EXPECT_EQ(stats.lostPackets(), 5u + 1u);
    EXPECT_EQ(stats.incompleteFrames(), 1u);
}

TEST(StreamStats, AMissingUdpImageLostAllItsPackets)
{
    halvex::common::StreamStats stats(true);
    stats.setPacketSize(1500); // 1464 image bytes per packet: 20000 bytes take 14
    stats.expectRange(0, 2);
    stats.add(frame(0, WHOLE, 20000, 20000));
    stats.add(frame(2, WHOLE, 20000, 20000));
    EXPECT_EQ(stats.missingFrames(), 1u);
    EXPECT_EQ(stats.lostPackets(), 14u);
}

} // namespace
