// Round trip of one register read through the control channel, beside a raw UDP ping-pong of the
// same datagrams against the same answering peer, both on loopback in a private namespace.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "control/hx_comm.h"
#include "private_network.h"

using halvex::control::HxComm;

namespace {

using Clock = std::chrono::steady_clock;

// Raw and channel round trips alternate one by one. On an idle virtual machine a wake-up from
// sleep costs either a few microseconds or tens of them, and the machine can switch between the
// two within a second: alternating blocks let one side land in the slow state and the other not
// (ratios from 0.2x to 13x), single alternation puts both through the same states.
constexpr int kSamples = 20000;
constexpr int kWarmUp = 500;
constexpr auto kTimeBudget = std::chrono::seconds(30);
constexpr const char* kPeerAddress = "127.0.0.2";

uint32_t ipv4(const char* dotted)
{
    in_addr address{};
    inet_pton(AF_INET, dotted, &address);
    return address.s_addr;
}

int boundSocket(uint32_t address, uint16_t port)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = address;
    local.sin_port = htons(port);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0) {
        std::perror("bind");
        std::exit(3);
    }
    return fd;
}

// Answers every register read with one value, the acknowledge id repeating the request id.
class ReadPeer {
public:
    ReadPeer() : fd_(boundSocket(ipv4(kPeerAddress), 3956)), thread_([this] { serve(); }) {}
    ~ReadPeer()
    {
        stop_ = true;
        const int poke = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sendTo(poke, {0}, ipv4(kPeerAddress), 3956);
        close(poke);
        thread_.join();
        close(fd_);
    }

    // Register reads that reached the peer: the requests made, plus any the channel sent again.
    uint64_t reads() const { return reads_; }

    static void sendTo(int fd, const std::vector<uint8_t>& datagram, uint32_t address, uint16_t port)
    {
        sockaddr_in target{};
        target.sin_family = AF_INET;
        target.sin_addr.s_addr = address;
        target.sin_port = htons(port);
        sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&target), sizeof(target));
    }

private:
    void serve()
    {
        uint8_t in[600];
        while (!stop_) {
            sockaddr_in source{};
            socklen_t size = sizeof(source);
            const ssize_t length = recvfrom(fd_, in, sizeof(in), 0, reinterpret_cast<sockaddr*>(&source), &size);
            if (length < 12 || in[3] != 0x80 || (in[1] & 0x01) == 0)
                continue;
            ++reads_;
            const std::vector<uint8_t> ack = {0, 0, 0, 0x81, 0, 4, in[6], in[7], 0x12, 0x34, 0x56, 0x78};
            sendto(fd_, ack.data(), ack.size(), 0, reinterpret_cast<sockaddr*>(&source), size);
        }
    }

    int fd_;
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> reads_{0};
    std::thread thread_;
};

// The baseline: the same 12-byte command and 12-byte answer, straight through a socket.
class RawPingPong {
public:
    RawPingPong() : fd_(boundSocket(htonl(INADDR_ANY), 0)) {}
    ~RawPingPong() { close(fd_); }

    bool once()
    {
        const uint16_t id = ++id_;
        ReadPeer::sendTo(fd_, {0x42, 0x01, 0x00, 0x80, 0x00, 0x04, uint8_t(id >> 8), uint8_t(id), 0, 0, 0x0A, 0x00},
                         ipv4(kPeerAddress), 3956);
        uint8_t ack[600];
        pollfd watched{fd_, POLLIN, 0};
        for (;;) {
            if (poll(&watched, 1, 5000) <= 0)
                return false;
            const ssize_t length = recv(fd_, ack, sizeof(ack), 0);
            if (length == 12 && ack[6] == uint8_t(id >> 8) && ack[7] == uint8_t(id))
                return true;
        }
    }

private:
    int fd_;
    uint16_t id_ = 0;
};

bool readThroughChannel(uint32_t camera)
{
    uint32_t value = 0;
    return HxComm::readReg(camera, 0x0A00, value) == 0 && value == 0x12345678;
}

template <typename Operation>
bool timeBlock(int count, Operation operation, std::vector<double>& microseconds)
{
    for (int i = 0; i < count; ++i) {
        const auto start = Clock::now();
        if (!operation())
            return false;
        microseconds.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    return true;
}

double percentile(std::vector<double> samples, double fraction)
{
    std::sort(samples.begin(), samples.end());
    const auto index = std::size_t(fraction * double(samples.size() - 1) + 0.5);
    return samples[std::min(index, samples.size() - 1)];
}

void report(const char* name, const std::vector<double>& samples)
{
    std::printf("  %-26s median %8.2f us   p99 %8.2f us   (%zu samples)\n", name, percentile(samples, 0.5),
                percentile(samples, 0.99), samples.size());
}

} // namespace

int main()
{
    std::string why;
    if (!hx_test::enterPrivateNetwork(why)) {
        std::fprintf(stderr,
                     "refusing to run: this benchmark needs a private network namespace (%s).\n"
                     "Run it as root, where unprivileged user namespaces are allowed, or through "
                     "scripts/in-netns.\n",
                     why.c_str());
        return 2;
    }
    ReadPeer peer;
    RawPingPong raw;
    const uint32_t camera = ipv4(kPeerAddress);
    std::vector<double> rawSamples;
    std::vector<double> channelSamples;
    std::vector<double> discarded;
    if (!timeBlock(
            kWarmUp, [&] { return raw.once(); }, discarded) ||
        !timeBlock(
            kWarmUp, [&] { return readThroughChannel(camera); }, discarded)) {
        std::fprintf(stderr, "the peer did not answer\n");
        return 1;
    }
    const auto deadline = Clock::now() + kTimeBudget;
    for (int sample = 0; sample < kSamples && Clock::now() < deadline; ++sample) {
        if (!timeBlock(
                1, [&] { return raw.once(); }, rawSamples) ||
            !timeBlock(
                1, [&] { return readThroughChannel(camera); }, channelSamples)) {
            std::fprintf(stderr, "a round trip failed\n");
            return 1;
        }
    }
    HxComm::recycle(camera);
    const uint64_t made = 2 * kWarmUp + rawSamples.size() + channelSamples.size();

    std::printf("control round trip: one register read (12-byte command, 12-byte answer) on loopback\n");
    report("raw UDP ping-pong", rawSamples);
    report("HxComm::readReg", channelSamples);
    std::printf("  ratio HxComm / raw:        median %8.2fx        p99 %8.2fx\n",
                percentile(channelSamples, 0.5) / percentile(rawSamples, 0.5),
                percentile(channelSamples, 0.99) / percentile(rawSamples, 0.99));
    std::printf("  reads the peer answered:   %llu for %llu made (%lld sent again)\n",
                static_cast<unsigned long long>(peer.reads()), static_cast<unsigned long long>(made),
                static_cast<long long>(peer.reads()) - static_cast<long long>(made));
    return 0;
}
