// The camera's side of the stream benchmark: a control responder, the UDP image sender with its
// pacer, the TCP image sender, and the socket helpers they share with the measuring side.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <thread>
#include <vector>

namespace stream_bench {

using Bytes = std::vector<uint8_t>;

constexpr const char* kCamera = "127.0.0.2";
constexpr const char* kHost = "127.0.0.1";
constexpr std::size_t kPayloadPerPacket = 8964; // a 9000-byte packet less IP, UDP and stream headers
constexpr std::size_t kPacketsPerImage = 1000;
constexpr std::size_t kImageBytes = kPayloadPerPacket * kPacketsPerImage;
constexpr int kReceiveBuffer = 128 << 20;

uint32_t ipv4(const char* dotted);
sockaddr_in endpoint(const char* dotted, uint16_t port);
// A socket bound to dotted:port (0: any port); exits the benchmark when it cannot bind.
int boundSocket(int type, const char* dotted, uint16_t port);
// Forces the large receive buffer and returns what the system granted.
int grantReceiveBuffer(int fd);
double threadCpu();
// A UDP socket on the host's address with the large receive buffer, and the port it got.
int rawSinkSocket(uint16_t& port);
// CPU seconds the whole process has used.
double processCpu();
// Datagrams this namespace's UDP dropped for want of receive buffer.
uint64_t udpReceiveDrops();
// Reads every stream datagram waiting on fd into the ring `sink` (payload only, from `offset`),
// adds the payload bytes to `bytes` and returns how many trailers (ends of images) it read.
unsigned drainImagePayload(int fd, Bytes& sink, std::size_t& offset, uint64_t& bytes);
Bytes leaderFor(unsigned image);

// Answers the register writes the receivers make, so none of them waits for a time-out, and
// notes whether the receiver has paused the stream.
class ControlResponder {
public:
    ControlResponder();
    ~ControlResponder();
    bool paused() const { return streamControl_ == kPauseValue; }

private:
    void serve();

    static constexpr uint32_t kStreamControlRegister = 0xD314;
    static constexpr uint32_t kPauseValue = 16;

    int fd_;
    int stop_;
    std::atomic<uint32_t> streamControl_{0};
    std::thread thread_;
};

// The camera's UDP side: leader, payload packets and trailer of every image, from the camera's
// address, at `rate` bytes per second or (0) as fast as it can. Returns the sender's CPU time.
double sendUdpImages(uint16_t hostPort, unsigned images, double rate);

// Has the kernel write every page of `memory` once, as a host's buffers have been after their
// first image. On a paravirtualised machine the kernel's first write to a page the program only
// touched itself costs a trip to the hypervisor: a first pass through fresh buffers delays images
// by milliseconds, which is the machine's start-up, not the receive path's.
void writtenByTheKernel(std::span<uint8_t> memory);

// What one receiver measured over one run.
struct Measured {
    uint64_t bytes = 0;
    double seconds = 0;
    double cameraCpu = 0; // the sending side's CPU seconds
    double hostCpu = 0;   // the receiving side's
    uint64_t lost = 0;    // datagrams dropped for want of receive buffer
    unsigned sent = 0;    // images sent
    unsigned complete = 0;
    unsigned incomplete = 0;
    double rate() const { return seconds > 0 ? double(bytes) / seconds / 1e6 : 0; } // MB/s
    double perGb(double cpu) const { return bytes > 0 ? cpu / (double(bytes) / 1e9) : 0; }
};

// Sends `images` at `rate` into a raw sink socket drained into `sinkBytes` of memory (touched
// before use, as a host's buffers are): woken by the socket, then drained until it has nothing
// more, as the library does; done once the sender has finished and `quiet` has passed without a
// datagram. Every image counts as sent and complete.
Measured runRawUdpSink(unsigned images, double rate, std::size_t sinkBytes, std::chrono::milliseconds quiet);

// The camera's TCP side: accepts one connection, waits for the go, and sends whole images back
// to back, holding back between images while paused; keeps the connection open until told to
// stop, so the receiver does not see the camera go away.
class TcpCamera {
public:
    TcpCamera();
    ~TcpCamera();

    std::atomic<bool> go{false};
    std::atomic<bool> stop{false};
    std::function<bool()> paused = [] { return false; };

    // Returns the sender's CPU time.
    double serve(unsigned images);

private:
    static void sendAll(int fd, const Bytes& bytes);

    int listen_;
    Bytes image_;
};

} // namespace stream_bench
