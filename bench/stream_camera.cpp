// The camera's side of the stream benchmark: a control responder, the UDP image sender with its
// pacer, the TCP image sender, and the socket helpers they share with the measuring side.
#include "stream_camera.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <span>
#include <sstream>
#include <string>

#include "wire/byte_io.h"
#include "wire/control_packet.h"
#include "wire/stream_packet.h"

namespace stream_bench {

namespace {

using Clock = std::chrono::steady_clock;

// Keeps a fixed pace by waiting until the bytes sent so far are due.
class Pacer {
public:
    explicit Pacer(double bytesPerSecond) : rate_(bytesPerSecond), start_(Clock::now()) {}
    void sent(std::size_t bytes)
    {
        if (rate_ <= 0)
            return;
        total_ += double(bytes);
        const auto due =
            start_ + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(total_ / rate_));
        while (Clock::now() < due)
            std::this_thread::yield();
    }

private:
    double rate_;
    Clock::time_point start_;
    double total_ = 0;
};

Bytes trailerFor(unsigned image, uint32_t packetId)
{
    return halvex::wire::encodeStreamTrailer(
        {{0, uint16_t(image + 1), halvex::wire::packet_format::kTrailer, packetId}, halvex::wire::kFilePayloadType});
}

} // namespace

uint32_t ipv4(const char* dotted)
{
    in_addr address{};
    inet_pton(AF_INET, dotted, &address);
    return address.s_addr;
}

sockaddr_in endpoint(const char* dotted, uint16_t port)
{
    sockaddr_in out{};
    out.sin_family = AF_INET;
    out.sin_addr.s_addr = ipv4(dotted);
    out.sin_port = htons(port);
    return out;
}

int boundSocket(int type, const char* dotted, uint16_t port)
{
    const int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    const sockaddr_in local = endpoint(dotted, port);
    if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0) {
        std::perror("bind");
        std::exit(1);
    }
    return fd;
}

int grantReceiveBuffer(int fd)
{
    setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &kReceiveBuffer, sizeof(kReceiveBuffer));
    int granted = 0;
    socklen_t size = sizeof(granted);
    getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &granted, &size);
    return granted / 2;
}

double threadCpu()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

int rawSinkSocket(uint16_t& port)
{
    const int fd = boundSocket(SOCK_DGRAM, kHost, 0);
    grantReceiveBuffer(fd);
    sockaddr_in bound{};
    socklen_t size = sizeof(bound);
    getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &size);
    port = ntohs(bound.sin_port);
    return fd;
}

double processCpu()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

uint64_t udpReceiveDrops()
{
    std::ifstream snmp("/proc/net/snmp");
    std::string line, names;
    while (std::getline(snmp, line)) {
        if (line.rfind("Udp:", 0) != 0)
            continue;
        if (names.empty()) {
            names = line;
            continue;
        }
        std::istringstream nameStream(names), valueStream(line);
        std::string name, value;
        while (nameStream >> name && valueStream >> value)
            if (name == "RcvbufErrors")
                return std::stoull(value);
    }
    return 0;
}

unsigned drainImagePayload(int fd, Bytes& sink, std::size_t& offset, uint64_t& bytes)
{
    constexpr std::size_t kLargestDatagram = 9216;
    unsigned trailers = 0;
    for (;;) {
        if (offset + kLargestDatagram > sink.size())
            offset = 0;
        const ssize_t length = recv(fd, sink.data() + offset, kLargestDatagram, MSG_DONTWAIT);
        if (length <= 0)
            return trailers;
        if (length > 8 && sink[offset + 4] == halvex::wire::packet_format::kPayload) {
            bytes += uint64_t(length) - 8;
            offset += std::size_t(length) - 8;
        } else if (length >= 8 && sink[offset + 4] == halvex::wire::packet_format::kTrailer) {
            ++trailers;
        }
    }
}

Bytes leaderFor(unsigned image)
{
    return halvex::wire::encodeStreamLeader(
        halvex::wire::makeFileLeader(uint16_t(image + 1), 0, uint32_t(kImageBytes), image, 0));
}

ControlResponder::ControlResponder()
    : fd_(boundSocket(SOCK_DGRAM, kCamera, halvex::wire::kControlPort)), stop_(eventfd(0, EFD_CLOEXEC))
{
    thread_ = std::thread([this] { serve(); });
}

ControlResponder::~ControlResponder()
{
    const uint64_t one = 1;
    if (write(stop_, &one, sizeof(one)) == sizeof(one))
        thread_.join();
    close(fd_);
    close(stop_);
}

void ControlResponder::serve()
{
    pollfd watched[2] = {{fd_, POLLIN, 0}, {stop_, POLLIN, 0}};
    Bytes datagram(2048);
    while (poll(watched, 2, -1) >= 0 && watched[1].revents == 0) {
        sockaddr_in source{};
        socklen_t size = sizeof(source);
        const ssize_t length =
            recvfrom(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&source), &size);
        if (length <= 0)
            continue;
        const std::span<const uint8_t> received(datagram.data(), std::size_t(length));
        Bytes reply;
        if (const auto command = halvex::wire::decodeWriteRegCmd(received)) {
            for (const halvex::wire::RegisterPair& pair : command->pairs)
                if (pair.address == kStreamControlRegister)
                    streamControl_ = pair.value;
            if ((command->header.flags & halvex::wire::kFlagAckRequired) != 0)
                reply = halvex::wire::encodeWriteRegAck(0, command->header.requestId, uint16_t(command->pairs.size()));
        } else if (const auto read = halvex::wire::decodeReadRegCmd(received)) {
            reply = halvex::wire::encodeReadRegAck(0, read->header.requestId,
                                                   std::vector<uint32_t>(read->addresses.size()));
        }
        if (!reply.empty())
            sendto(fd_, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&source), size);
    }
}

void writtenByTheKernel(std::span<uint8_t> memory)
{
    const int zero = open("/dev/zero", O_RDONLY | O_CLOEXEC);
    if (zero < 0)
        return;
    for (std::size_t at = 0; at < memory.size();) {
        const ssize_t got = read(zero, memory.data() + at, memory.size() - at);
        if (got <= 0)
            break;
        at += std::size_t(got);
    }
    close(zero);
}

Measured runRawUdpSink(unsigned images, double rate, std::size_t sinkBytes, std::chrono::milliseconds quiet)
{
    uint16_t port = 0;
    const int fd = rawSinkSocket(port);
    Bytes sink(sinkBytes, 0x22);
    writtenByTheKernel(sink);
    std::atomic<bool> senderDone{false};
    Measured run;
    const uint64_t dropsBefore = udpReceiveDrops();
    const double cpuBefore = processCpu();
    const auto start = Clock::now();
    Clock::time_point last = start;
    std::thread receiver([&] {
        std::size_t offset = 0;
        pollfd watched{fd, POLLIN, 0};
        while (poll(&watched, 1, int(quiet.count())) > 0 || !senderDone) {
            drainImagePayload(fd, sink, offset, run.bytes);
            last = Clock::now();
        }
    });
    run.cameraCpu = sendUdpImages(port, images, rate);
    senderDone = true;
    receiver.join();
    run.seconds = std::chrono::duration<double>(last - start).count();
    run.hostCpu = processCpu() - cpuBefore - run.cameraCpu;
    run.lost = udpReceiveDrops() - dropsBefore;
    run.sent = images;
    run.complete = images;
    close(fd);
    return run;
}

double sendUdpImages(uint16_t hostPort, unsigned images, double rate)
{
    const int fd = boundSocket(SOCK_DGRAM, kCamera, 0);
    const sockaddr_in host = endpoint(kHost, hostPort);
    const auto sendOne = [&](const Bytes& bytes) {
        sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&host), sizeof(host));
    };
    Bytes packet(halvex::wire::kStreamHeaderSize + kPayloadPerPacket, 0x3C);
    const double cpuBefore = threadCpu();
    Pacer pacer(rate);
    for (unsigned image = 0; image < images; ++image) {
        sendOne(leaderFor(image));
        for (uint32_t id = 1; id <= kPacketsPerImage; ++id) {
            halvex::wire::ByteWriter out(std::span<uint8_t>(packet.data(), halvex::wire::kStreamHeaderSize));
            halvex::wire::writeStreamHeader(out, {0, uint16_t(image + 1), halvex::wire::packet_format::kPayload, id});
            sendOne(packet);
            pacer.sent(packet.size());
        }
        sendOne(trailerFor(image, uint32_t(kPacketsPerImage + 1)));
    }
    const double cpu = threadCpu() - cpuBefore;
    close(fd);
    return cpu;
}

TcpCamera::TcpCamera()
    : listen_(boundSocket(SOCK_STREAM, kCamera, halvex::wire::kTcpStreamPort)), image_(kImageBytes, 0x5D)
{
    listen(listen_, 2);
}

TcpCamera::~TcpCamera()
{
    close(listen_);
}

double TcpCamera::serve(unsigned images)
{
    pollfd watched{listen_, POLLIN, 0};
    if (poll(&watched, 1, 10000) != 1)
        return 0;
    const int fd = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
    while (!go && !stop)
        std::this_thread::yield();
    const double cpuBefore = threadCpu();
    for (unsigned image = 0; image < images && !stop; ++image) {
        while (paused() && !stop)
            std::this_thread::yield();
        sendAll(fd, leaderFor(image));
        sendAll(fd, image_);
        sendAll(fd, trailerFor(image, 1));
    }
    const double cpu = threadCpu() - cpuBefore;
    while (!stop)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    close(fd);
    return cpu;
}

void TcpCamera::sendAll(int fd, const Bytes& bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t count = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (count <= 0)
            return;
        sent += std::size_t(count);
    }
}

} // namespace stream_bench
