// Each seeded stream fault as a host sees it on the wire: dropped, reordered, truncated and
// corrupted UDP packets, and a TCP connection cut in the middle of an image.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "sim_stream_fixture.h"

using namespace hxsim;
using namespace hxsim_test;
using namespace halvex::registers;

namespace {

// A clean live image of kGeometry in 1500-byte packets: a 48-byte leader, eleven full payload
// datagrams of 1472 bytes, a last one of 8 + 280 bytes, and a 12-byte trailer.
bool cleanSize(std::size_t size)
{
    return size == 48 || size == 1472 || size == 288 || size == 12;
}

using Watch = std::function<bool(std::span<const uint8_t> datagram)>;

// Streams live frames from a camera with `faults` until `seen` says the fault showed (true), or
// five seconds pass (false).
bool liveShows(const StreamFaults& faults, const Watch& seen)
{
    CameraConfig config = streamCamera();
    config.faults.stream = faults;
    Cluster cluster({config});
    ControlClient host;
    UdpPort stream;
    prepareStream(host, stream.port());
    EXPECT_EQ(host.write(controlOf(kCamera), {{GIGE_REG_STREAM_CONTROL, 1}}), 0);
    const auto deadline = Clock::now() + 5s;
    while (auto datagram = stream.receive(deadline)) {
        if (seen(datagram->bytes)) {
            return true;
        }
    }
    return false;
}

} // namespace

TEST(SimStreamFaults, DroppedPacketsLeaveGapsInTheirImages)
{
    UdpImageAssembler assembler;
    bool malformed = false;
    const bool gap = liveShows(StreamFaults{.drop = 0.2}, [&](std::span<const uint8_t> datagram) {
        malformed = malformed || !cleanSize(datagram.size());
        assembler.feed(datagram);
        return !assembler.faults.empty();
    });
    EXPECT_TRUE(gap) << "no image missed a packet";
    EXPECT_FALSE(malformed) << "a drop changed the packets that did arrive";
}

TEST(SimStreamFaults, ReorderedPacketsArriveBehindTheirSuccessors)
{
    std::map<uint16_t, uint32_t> highest; // per block, the highest packet id seen
    const bool overtaken = liveShows(StreamFaults{.reorder = 0.3}, [&](std::span<const uint8_t> datagram) {
        const auto header = halvex::wire::decodeStreamHeader(datagram);
        if (!header) {
            return false;
        }
        auto [entry, fresh] = highest.try_emplace(header->blockId, header->packetId);
        if (!fresh && header->packetId < entry->second) {
            return true;
        }
        entry->second = std::max(entry->second, header->packetId);
        return false;
    });
    EXPECT_TRUE(overtaken) << "every packet came in order";
}

TEST(SimStreamFaults, TruncatedPacketsAreShorterThanAnyCleanOne)
{
    const bool shortened = liveShows(StreamFaults{.truncate = 0.2},
                                     [](std::span<const uint8_t> datagram) { return !cleanSize(datagram.size()); });
    EXPECT_TRUE(shortened) << "no packet was cut short";
}

TEST(SimStreamFaults, CorruptedPacketsBreakTheFramingOrThePixels)
{
    UdpImageAssembler assembler;
    bool sizeChanged = false;
    const bool corrupted = liveShows(StreamFaults{.corrupt = 0.2}, [&](std::span<const uint8_t> datagram) {
        sizeChanged = sizeChanged || !cleanSize(datagram.size());
        const auto image = assembler.feed(datagram);
        return !assembler.faults.empty() ||
               (image && !SyntheticImage::matches(image->frame, 0, kGeometry, image->bytes));
    });
    EXPECT_TRUE(corrupted) << "every packet was intact";
    EXPECT_FALSE(sizeChanged) << "corruption flips bits; it does not change sizes";
}

TEST(SimStreamFaults, ACutConnectionEndsMidImageAndTheDownloadResumesOnTheNext)
{
    CameraConfig config = streamCamera();
    config.model = "hxsim qM";
    config.faults.stream.cut = 1.0;
    Cluster cluster({config});
    ControlClient host;
    auto stream = std::make_unique<TcpStreamClient>(kCamera);
    prepareStream(host, stream->port());
    record(host, 10);
    ASSERT_EQ(host.write(controlOf(kCamera),
                         {{GIGE_REG_DOWNLOAD_START, 2}, {GIGE_REG_DOWNLOAD_END, 4}, {GIGE_REG_STREAM_CONTROL, 3}}),
              0);
    EXPECT_FALSE(stream->next()) << "a whole image arrived despite the cut";
    EXPECT_TRUE(stream->closed()) << "the connection did not end: " << stream->fault;

    // A host that connects again gets the frame that was cut, from its leader on.
    stream = std::make_unique<TcpStreamClient>(kCamera);
    const auto leaderBytes = stream->read(halvex::wire::kStreamLeaderSize, Clock::now() + 5s);
    ASSERT_TRUE(leaderBytes) << "nothing came on the new connection";
    const auto leader = halvex::wire::decodeStreamLeader(*leaderBytes);
    ASSERT_TRUE(leader && halvex::wire::checkStreamLeader(*leader, true) == halvex::wire::LeaderCheck::Ok);
    EXPECT_EQ(halvex::wire::sequenceNumberOf(*leader), 2u);
}
