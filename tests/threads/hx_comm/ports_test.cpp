// The channel's sockets: datagram draining, the port layout and its fallbacks beyond ten channels.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "control/hx_comm.h"
#include "control/udp_socket.h"
#include "log_capture.h"
#include "scripted_camera.h"

using namespace halvex::control;

using namespace hx_comm_test;
using namespace std::chrono_literals;

namespace {

// Binds a port the way another program would; -1 when it is taken.
class PortHolder {
public:
    explicit PortHolder(uint16_t port) : fd_(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(port);
        if (bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    ~PortHolder()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    bool held() const { return fd_ >= 0; }

private:
    int fd_;
};

uint32_t cameraNumber(int n)
{
    return ipv4(("127.0.1." + std::to_string(n)).c_str());
}

ChannelPorts portsOf(uint32_t camera)
{
    const std::shared_ptr<HxComm> channel = HxComm::factory(camera);
    return channel ? channel->ports() : ChannelPorts{};
}

} // namespace

TEST(UDPSocketTest, DrainsEveryDatagramAndDropsOversizedOnesWhole)
{
    UdpSocket receiver;
    UdpSocket sender;
    ASSERT_TRUE(receiver.start(7000));
    ASSERT_TRUE(sender.start(7001));
    EXPECT_GE(receiver.receiveBuffer(), UdpSocket::CONTROL_RECEIVE_BUFFER) << "granted, forced or warned once";
    const uint32_t loopback = ipv4("127.0.0.1");
    EXPECT_EQ(sender.sendMsg(Bytes(600, 1), loopback, 7000), 600);
    for (uint8_t i = 0; i < 3; ++i)
        EXPECT_EQ(sender.sendMsg(Bytes(8, i), loopback, 7000), 8);
    EXPECT_EQ(sender.sendMsg(Bytes(8, 9), 0, 7000), 0) << "destination 0.0.0.0 sends nothing";

    std::array<uint8_t, 548> buffer{};
    EXPECT_EQ(receiver.receive(buffer).kind, ReceivedDatagram::Kind::Oversized);
    for (uint8_t i = 0; i < 3; ++i) {
        const ReceivedDatagram got = receiver.receive(buffer);
        ASSERT_EQ(got.kind, ReceivedDatagram::Kind::Datagram);
        EXPECT_EQ(got.length, 8u);
        EXPECT_EQ(buffer[0], i);
        EXPECT_EQ(got.source.address, loopback);
        EXPECT_EQ(got.source.port, 7001);
    }
    EXPECT_EQ(receiver.receive(buffer).kind, ReceivedDatagram::Kind::Nothing);

    UdpSocket rival;
    EXPECT_FALSE(rival.start(7000));
    EXPECT_EQ(rival.lastError(), uint32_t(EADDRINUSE));
}

TEST(ChannelPortsTest, ChannelsTakeConsecutiveSlotsAndSkipABusyControlPort)
{
    const ChannelPorts first = portsOf(cameraNumber(1));
    EXPECT_EQ(first.hcp, 5824);
    EXPECT_EQ(first.stream, 5825);
    EXPECT_EQ(first.hmp, 5826);
    EXPECT_EQ(HxComm::hmpPort(cameraNumber(1)), 5826);
    for (uint16_t port : {5824, 5825, 5826})
        EXPECT_FALSE(PortHolder(port).held()) << port << " should be the channel's";
    EXPECT_EQ(portsOf(cameraNumber(2)).hcp, 5827);
    HxComm::recycle(cameraNumber(1));
    HxComm::recycle(cameraNumber(2));

    PortHolder other(5824);
    ASSERT_TRUE(other.held());
    const ChannelPorts moved = portsOf(cameraNumber(3));
    EXPECT_EQ(moved.hcp, 5827);
    EXPECT_EQ(moved.hmp, 5829);
    HxComm::recycle(cameraNumber(3));
}

TEST(ChannelPortsTest, ABusyEventPortFailsTheChannelWithoutSearchingFurther)
{
    hx_test::LogCapture log;
    {
        PortHolder other(5826);
        ASSERT_TRUE(other.held());
        uint32_t value = 0;
        EXPECT_EQ(HxComm::readReg(cameraNumber(4), 0x0A00, value), 6u);
        EXPECT_EQ(log.count("Unable to bind the messaging port!"), 1u);
        EXPECT_TRUE(PortHolder(5824).held()) << "the failed channel released its control port";
    }
    EXPECT_EQ(portsOf(cameraNumber(4)).hcp, 5824) << "a later request tries again";
    HxComm::recycle(cameraNumber(4));
}

TEST(ChannelPortsTest, TenFixedSetsFirstThenPortsFromTheSystem)
{
    hx_test::LogCapture log;
    for (int n = 10; n < 20; ++n)
        ASSERT_EQ(portsOf(cameraNumber(n)).hcp, 5824 + 3 * (n - 10)) << "camera " << n;
    const ChannelPorts eleventh = portsOf(cameraNumber(20));
    const ChannelPorts twelfth = portsOf(cameraNumber(21));
    EXPECT_EQ(log.count("Unable to find a usable port!"), 0u);
    for (const ChannelPorts& ports : {eleventh, twelfth}) {
        for (uint16_t port : {ports.hcp, ports.stream, ports.hmp}) {
            EXPECT_TRUE(port < 5824 || port > 5853) << port << " is one of the fixed sets";
            EXPECT_FALSE(PortHolder(port).held()) << port << " should be the channel's";
        }
    }
    EXPECT_NE(eleventh.hcp, twelfth.hcp);
    EXPECT_EQ(HxComm::hmpPort(cameraNumber(20)), eleventh.hmp) << "the camera is told the port actually bound";

    HxComm::recycle(cameraNumber(13));
    EXPECT_EQ(portsOf(cameraNumber(22)).hcp, 5824 + 3 * 3) << "a freed fixed set comes first again";
    for (int n = 10; n <= 22; ++n)
        HxComm::recycle(cameraNumber(n));
}
