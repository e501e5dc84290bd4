// The Discovery thread's own work: one timer step per poll and one lost event at the sixth silent
// poll, cameras known by their replies' source, hostile datagrams on its socket, and messages of
// other threads refused.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <future>

#include "addresses.h"
#include "camera/camera_message_ids.h"
#include "discovery/discovery.h"
#include "hlv_thread/sync_message.h"
#include "platform/socket_address.h"
#include "wire/discovery_packet.h"

using namespace halvex::discovery;

namespace {

using hx_test::cameraSource;
using hx_test::ip;

class CountingEvents : public halvex::discovery::DiscoveryEvents {
public:
    std::string adapterName(uint32_t) override { return {}; }
    void cameraFound(uint32_t, const std::string&, const HX_CAMERA_INFORMATION&) override { ++found; }
    void cameraLost(uint32_t address, const std::string& name) override
    {
        ++lost;
        lostName = name;
        lostAddress = address;
    }
    // Touched on the Discovery thread only; tests read them behind a barrier.
    int found = 0;
    int lost = 0;
    std::string lostName;
    uint32_t lostAddress = 0;
};

halvex::wire::DiscoveryAck identity(const char* address, const char* name)
{
    halvex::wire::DiscoveryAck reply;
    reply.currentIp = ip(address);
    reply.manufacturerName = "halvex";
    reply.deviceVersion = "2.5.0";
    reply.userDefinedName = name;
    return reply;
}

// The poller stays paused: each test posts its polls itself.
class DiscoveryThread : public ::testing::Test {
protected:
    void SetUp() override
    {
        discovery.pausePolling(true);
        discovery.start();
    }
    void TearDown() override { halvex::thread::closeThread(discovery); }
    void pollOnce() { discovery.post(new halvex::discovery::DiscoverySend(&discovery)); }
    // A reply from `address` that reports `reported` as the camera's own address.
    void reply(const char* address, const char* name, const char* reported = nullptr)
    {
        discovery.processDiscoveryAck(halvex::wire::encodeDiscoveryAck(identity(reported ? reported : address, name)),
                                      cameraSource(address));
    }
    // Returns once everything posted before it has been handled (the queue is first in, first out).
    // The barrier itself is refused: the thread takes no foreign requests.
    void barrier()
    {
        halvex::thread::SyncMessage marker;
        marker.req = halvex::thread::NOP;
        marker.send(&discovery);
    }

    CountingEvents events;
    Discovery discovery{events};
};

TEST_F(DiscoveryThread, EachPollRunsTimersDownOnceAndTheSixthSilentOneLosesTheCamera)
{
    // A camera without an address of its own is known, and lost, where it answers from.
    reply("127.0.0.2", "quiet", "0.0.0.0");
    barrier();
    ASSERT_EQ(events.found, 1);
    uint32_t handle = 0;
    ASSERT_TRUE(discovery.lookup("quiet", handle));
    EXPECT_EQ(handle, ip("127.0.0.2"));
    ASSERT_TRUE(discovery.lookup("127.0.0.2", handle));
    EXPECT_EQ(handle, ip("127.0.0.2"));
    for (int missed = 1; missed <= 5; ++missed) {
        pollOnce();
        barrier();
        EXPECT_EQ(discovery.database()->timer(ip("127.0.0.2")), 6 - missed);
    }
    EXPECT_EQ(events.lost, 0);
    pollOnce();
    pollOnce();
    barrier();
    EXPECT_EQ(events.lost, 1);
    EXPECT_EQ(events.lostName, "quiet");
    EXPECT_EQ(events.lostAddress, ip("127.0.0.2"));
    reply("127.0.0.2", "quiet");
    barrier();
    EXPECT_EQ(events.found, 2);
}

TEST_F(DiscoveryThread, HostileDatagramsOnTheSocketAreDroppedAndTheGenuineReplyCounts)
{
    const int camera = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const sockaddr_in self = halvex::platform::toSockaddr(cameraSource("127.0.0.2"));
    ASSERT_EQ(bind(camera, reinterpret_cast<const sockaddr*>(&self), sizeof self), 0);
    uint32_t handle = 0;
    std::future<bool> added =
        std::async(std::launch::async, [&] { return discovery.addCameraByAddress("127.0.0.2", handle); });

    pollfd wait{camera, POLLIN, 0};
    ASSERT_EQ(poll(&wait, 1, 10000), 1) << "no unicast request for a camera added by address";
    uint8_t request[64];
    sockaddr_in host{};
    socklen_t length = sizeof host;
    ASSERT_GT(recvfrom(camera, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&host), &length), 0);

    const std::vector<uint8_t> good = halvex::wire::encodeDiscoveryAck(identity("127.0.0.2", "genuine"));
    std::vector<uint8_t> failed = good;
    failed[1] = 0x01; // error status
    std::vector<uint8_t> otherAnswer = good;
    otherAnswer[3] = 0x81; // a register read acknowledge
    std::vector<uint8_t> longer = good;
    longer.push_back(0);
    const std::vector<std::vector<uint8_t>> datagrams = {
        {},
        {0x42},
        {good.begin(), good.end() - 1},
        longer,
        failed,
        otherAnswer,
        halvex::wire::encodeDiscoveryAck(identity("127.0.0.9", "impostor")), // claims another address
        good};
    for (const std::vector<uint8_t>& datagram : datagrams)
        sendto(camera, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&host), length);

    EXPECT_TRUE(added.get());
    barrier();
    EXPECT_EQ(events.found, 1);
    EXPECT_EQ(discovery.database()->addresses(), std::vector<uint32_t>{ip("127.0.0.2")});
    close(camera);
}

TEST_F(DiscoveryThread, MessagesOfOtherThreadsAreRefusedAndTheThreadGoesOn)
{
    halvex::thread::SyncMessage foreign;
    foreign.req = halvex::message_ids::CAM_SETTINGS_MSG;
    foreign.send(&discovery);
    EXPECT_EQ(foreign.status, halvex::thread::MESSAGE_FAILED);
    reply("127.0.0.2", "after");
    barrier();
    EXPECT_EQ(events.found, 1);
}

} // namespace
