// Test fixtures for the image receivers: a scripted camera (control answers, UDP and TCP stream
// senders), packets built by hand from the protocol tables, host buffers with guard bytes, and
// a thread that collects the buffers the receivers hand back.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <hx/hx.h>

#include "arrivals.h"
#include "control/hx_comm.h"
#include "hlv_thread/msg_thread.h"
#include "hlv_thread/period_scale.h"
#include "stream/stream_receiver.h"
#include "wire_bytes.h"

namespace stream_test {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;
constexpr auto kDeadline = 10s;

// Packets typed from the stream packet tables (big-endian, generic header first).
Bytes leader(uint16_t blockId, uint32_t packetId, uint32_t imageLength, const std::string& fileName,
             uint16_t magic = 0x4858, uint16_t payloadType = 3, uint8_t packetFormat = 1);
Bytes trailer(uint16_t blockId, uint32_t packetId, uint16_t payloadType = 3, uint8_t packetFormat = 2);
Bytes payload(uint16_t blockId, uint32_t packetId, const Bytes& data);
// Image bytes that differ from image to image.
Bytes imageBytes(std::size_t length, uint8_t seed);
// One whole image as a camera sends it over TCP: leader, payload, trailer back to back.
Bytes tcpImage(uint16_t blockId, const Bytes& data, const std::string& fileName);
// One image as UDP datagrams: leader, payload packets of at most `chunk` bytes, trailer.
std::vector<Bytes> udpImage(uint16_t blockId, const Bytes& data, const std::string& fileName, std::size_t chunk = 8964);
using hx_test::ipv4;

// A camera on one loopback address: answers register writes (recording them) and reads (zero),
// fires a test packet when the packet-size register asks for one and the "network" carries that
// size, sends stream datagrams, and serves a TCP stream port.
class ScriptedStreamCamera {
public:
    explicit ScriptedStreamCamera(const char* address);
    ~ScriptedStreamCamera();

    uint32_t address() const { return address_; }
    // Register writes in arrival order (the write gate's pairs left out).
    halvex::wire::RegisterPairs writes() const;
    std::vector<uint32_t> writesOf(uint32_t reg) const;
    bool waitForWrite(uint32_t reg, uint32_t value, std::chrono::milliseconds timeout = kDeadline) const;
    // Waits until the register has been written `count` times, or last holds `value`.
    bool waitForWriteCount(uint32_t reg, std::size_t count, std::chrono::milliseconds timeout = kDeadline) const;
    bool waitForLastWrite(uint32_t reg, uint32_t value, std::chrono::milliseconds timeout = kDeadline) const;
    uint32_t lastWrite(uint32_t reg) const;
    // Writes of this value to this register are refused with "access denied".
    void refuseWrite(uint32_t reg, uint32_t value);
    // Packet sizes whose test packets reach the host (default: 9000 and 1500).
    void carryPacketSizes(std::set<uint32_t> sizes);
    // The next `count` test packets are lost on the way, whatever their size.
    void loseTestPackets(int count);

    // Sends a stream datagram from the camera's address to the host's stream port.
    void sendDatagram(const Bytes& datagram, uint16_t hostPort);
    void sendDatagrams(const std::vector<Bytes>& datagrams, uint16_t hostPort);

    // TCP stream port: listen, accept the receiver's connection, send, cut it.
    void listenTcp(uint16_t port = 3957);
    void stopListening();
    bool acceptTcp(std::chrono::milliseconds timeout = kDeadline);
    // The host port of the accepted connection.
    uint16_t tcpPeerPort() const { return peerPort_; }
    void sendTcp(const Bytes& bytes);
    void closeTcp();
    // Waits until the camera is not paused (stream control last written 16) and then sends.
    bool sendTcpWhenRunning(const Bytes& bytes, std::chrono::milliseconds timeout = kDeadline);

private:
    void serve();
    void handleCommand(const Bytes& datagram, uint32_t sourceAddress, uint16_t sourcePort);
    void fireTestPacket(uint32_t packetSize);
    // Waits until `holds` is true under the lock, re-checked at every write.
    bool waitUntil(const std::function<bool()>& holds, std::chrono::milliseconds timeout) const;

    uint32_t address_;
    int controlFd_ = -1;
    int streamFd_ = -1;
    int stopFd_ = -1;
    int listenFd_ = -1;
    int tcpFd_ = -1;
    uint16_t peerPort_ = 0;
    // Guards what the camera was told and how it behaves, and signals every write.
    hx_test::Signal written_;
    halvex::wire::RegisterPairs writes_;
    std::map<uint32_t, uint32_t> registers_;
    std::set<halvex::wire::RegisterPair> refused_;
    std::set<uint32_t> carried_{9000, 1500};
    int testPacketsToLose_ = 0;
    std::thread thread_;
};

// A host buffer with guard bytes after its end, and its HX_READ_STREAM record.
struct HostBuffer {
    explicit HostBuffer(std::size_t size);
    uint8_t* data() { return memory.data(); }
    Bytes contents(std::size_t length) const { return Bytes(memory.begin(), memory.begin() + long(length)); }
    bool guardIntact() const;

    std::size_t size;
    Bytes memory;
    HX_READ_STREAM record{};
};

// What a receiver handed back.
struct Returned {
    uint32_t kind = 0;
    HX_READ_STREAM record{};
    HX_READ_STREAM* hostRecord = nullptr;
    bool released = false;
    bool stop = false;
    uint32_t messageStatus = 0;
};

// The stop of every stream message's route: records what came back and deletes the message.
class Collector : public halvex::thread::MsgThread {
public:
    Collector();
    ~Collector() override;

    // A buffer message for the receiver, routed back here.
    halvex::thread::Message* buffer(uint32_t kind, HostBuffer& host);
    halvex::thread::Message* stopRequest(uint32_t kind);

    bool waitFor(std::size_t count, std::chrono::milliseconds timeout = kDeadline) const
    {
        return returned_.waitFor(count, timeout);
    }
    std::vector<Returned> returned() const { return returned_.all(); }
    std::size_t count() const { return returned_.count(); }

    void messageHandle(halvex::thread::Message* message) override;
    void ownerMessage(halvex::thread::Message* message) override;

private:
    hx_test::Arrivals<Returned> returned_;
};

// A client callback registered with the Callback thread for the whole process, recording the
// HX_STREAM_NEGOTIATION events. Never destroyed: the Callback thread may call it at any time.
class NegotiationEvents {
public:
    static NegotiationEvents& instance();
    void clear();
    // The packet sizes reported for the camera, in order.
    std::vector<int32_t> sizes(uint32_t camera) const;
    bool waitFor(uint32_t camera, std::size_t count, std::chrono::milliseconds timeout = kDeadline) const;

private:
    NegotiationEvents();
    static void callback(uint32_t event, HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, void* data, void* cookie);

    // Camera address and packet size of each event.
    hx_test::Arrivals<std::pair<uint32_t, int32_t>> events_;
};

// A receiver test's scripted camera and collector, with the library's periods scaled by
// `periodScale`. Tear-down releases what the test runs (release()) before the camera's control
// channel goes, then puts the process-wide settings back.
class StreamTest : public ::testing::Test {
protected:
    explicit StreamTest(double periodScale = 1.0) : periodScale_(periodScale) {}
    void SetUp() override
    {
        halvex::thread::setPeriodScale(periodScale_);
        NegotiationEvents::instance().clear();
    }
    void TearDown() override
    {
        release();
        halvex::control::HxComm::recycle(cam);
        halvex::thread::setPeriodScale(1.0);
        halvex::stream::DownloadThrottle::set(halvex::stream::DownloadThrottle::DEFAULT_COUNTS);
    }
    // Stops the receiver or session under test.
    virtual void release() = 0;

    ScriptedStreamCamera camera{"127.0.0.2"};
    const uint32_t cam = camera.address();
    Collector collector;

private:
    double periodScale_;
};

} // namespace stream_test
