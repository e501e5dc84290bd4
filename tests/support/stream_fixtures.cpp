// Test fixtures for the image receivers: a scripted camera (control answers, UDP and TCP stream
// senders), packets built by hand from the protocol tables, host buffers with guard bytes, and
// a thread that collects the buffers the receivers hand back.
#include "stream_fixtures.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "callback/callback.h"
#include "callback/hx_stream.h"
#include "wire/control_packet.h"

using namespace halvex::callback;

namespace stream_test {

namespace {

constexpr uint8_t kGuardByte = 0xA5;
constexpr std::size_t kGuardSize = 256;
constexpr uint32_t kWriteGate = 0xC58C;
constexpr uint32_t kPacketSizeRegister = 0x0D04;
constexpr uint32_t kStreamPortRegister = 0x0D00;
constexpr uint32_t kStreamAddressRegister = 0x0D18;
constexpr uint32_t kStreamControlRegister = 0xD314;
constexpr HX_CLIENT_HANDLE kClient = 0x5EED;

using hx_test::put16;
using hx_test::put32;
using hx_test::put8;

void header(Bytes& out, uint16_t blockId, uint8_t packetFormat, uint32_t packetId)
{
    put16(out, 0);
    put16(out, blockId);
    put8(out, packetFormat);
    put8(out, uint8_t(packetId >> 16));
    put16(out, uint16_t(packetId));
}

sockaddr_in endpoint(uint32_t address, uint16_t port)
{
    sockaddr_in out{};
    out.sin_family = AF_INET;
    out.sin_addr.s_addr = address;
    out.sin_port = htons(port);
    return out;
}

int boundSocket(int type, uint32_t address, uint16_t port)
{
    const int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    const sockaddr_in local = endpoint(address, port);
    if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0)
        throw std::runtime_error("scripted camera cannot bind its socket");
    return fd;
}

} // namespace

Bytes leader(uint16_t blockId, uint32_t packetId, uint32_t imageLength, const std::string& fileName, uint16_t magic,
             uint16_t payloadType, uint8_t packetFormat)
{
    Bytes out;
    header(out, blockId, packetFormat, packetId);
    put16(out, magic);
    put16(out, payloadType);
    put32(out, 0x01020304); // timestamp
    put32(out, 0x05060708);
    put32(out, 0); // payload size, high word
    put32(out, imageLength);
    Bytes name(20, 0);
    std::copy_n(fileName.begin(), std::min<std::size_t>(fileName.size(), 19), name.begin());
    out.insert(out.end(), name.begin(), name.end());
    return out;
}

Bytes trailer(uint16_t blockId, uint32_t packetId, uint16_t payloadType, uint8_t packetFormat)
{
    Bytes out;
    header(out, blockId, packetFormat, packetId);
    put16(out, 0);
    put16(out, payloadType);
    return out;
}

Bytes payload(uint16_t blockId, uint32_t packetId, const Bytes& data)
{
    Bytes out;
    header(out, blockId, 3, packetId);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

Bytes imageBytes(std::size_t length, uint8_t seed)
{
    Bytes out(length);
    for (std::size_t i = 0; i < length; ++i)
        out[i] = uint8_t(seed + i * 7 + (i >> 8));
    return out;
}

Bytes tcpImage(uint16_t blockId, const Bytes& data, const std::string& fileName)
{
    Bytes out = leader(blockId, 7, uint32_t(data.size()), fileName);
    out.insert(out.end(), data.begin(), data.end());
    const Bytes end = trailer(blockId, 8);
    out.insert(out.end(), end.begin(), end.end());
    return out;
}

std::vector<Bytes> udpImage(uint16_t blockId, const Bytes& data, const std::string& fileName, std::size_t chunk)
{
    std::vector<Bytes> out{leader(blockId, 0, uint32_t(data.size()), fileName)};
    uint32_t packetId = 1;
    for (std::size_t offset = 0; offset < data.size(); offset += chunk, ++packetId) {
        const std::size_t length = std::min(chunk, data.size() - offset);
        out.push_back(
            payload(blockId, packetId, Bytes(data.begin() + long(offset), data.begin() + long(offset + length))));
    }
    out.push_back(trailer(blockId, packetId));
    return out;
}

ScriptedStreamCamera::ScriptedStreamCamera(const char* address) : address_(ipv4(address))
{
    controlFd_ = boundSocket(SOCK_DGRAM, address_, 3956);
    streamFd_ = boundSocket(SOCK_DGRAM, address_, 0);
    stopFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    thread_ = std::thread([this] { serve(); });
}

ScriptedStreamCamera::~ScriptedStreamCamera()
{
    const uint64_t one = 1;
    if (write(stopFd_, &one, sizeof(one)) == sizeof(one))
        thread_.join();
    else
        thread_.detach();
    closeTcp();
    stopListening();
    close(controlFd_);
    close(streamFd_);
    close(stopFd_);
}

void ScriptedStreamCamera::serve()
{
    pollfd watched[2] = {{controlFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
    while (poll(watched, 2, -1) >= 0 && watched[1].revents == 0) {
        Bytes datagram(2048);
        sockaddr_in source{};
        socklen_t size = sizeof(source);
        const ssize_t length =
            recvfrom(controlFd_, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&source), &size);
        if (length <= 0)
            continue;
        datagram.resize(std::size_t(length));
        handleCommand(datagram, source.sin_addr.s_addr, ntohs(source.sin_port));
    }
}

// Writes are applied in order until one is refused; the acknowledge says how many went in.
void ScriptedStreamCamera::handleCommand(const Bytes& datagram, uint32_t sourceAddress, uint16_t sourcePort)
{
    Bytes reply;
    uint32_t testPacket = 0;
    if (const auto command = halvex::wire::decodeWriteRegCmd(datagram)) {
        uint16_t status = 0;
        uint16_t index = 0;
        written_.update([&] {
            for (const halvex::wire::RegisterPair& pair : command->pairs) {
                if (refused_.count(pair) != 0) {
                    status = halvex::wire::camera_status::kAccessDenied;
                    break;
                }
                registers_[pair.address] = pair.value;
                if (pair.address != kWriteGate)
                    writes_.push_back(pair);
                if (pair.address == kPacketSizeRegister && (pair.value & 0x80000000u) != 0)
                    testPacket = pair.value & 0xFFFF;
                ++index;
            }
        });
        if ((command->header.flags & halvex::wire::kFlagAckRequired) != 0)
            reply = halvex::wire::encodeWriteRegAck(status, command->header.requestId, index);
    } else if (const auto read = halvex::wire::decodeReadRegCmd(datagram)) {
        const std::vector<uint32_t> values(read->addresses.size(), 0);
        reply = halvex::wire::encodeReadRegAck(0, read->header.requestId, values);
    }
    if (!reply.empty()) {
        const sockaddr_in target = endpoint(sourceAddress, sourcePort);
        sendto(controlFd_, reply.data(), reply.size(), 0, reinterpret_cast<const sockaddr*>(&target), sizeof(target));
    }
    if (testPacket != 0)
        fireTestPacket(testPacket);
}

// A test packet is exactly the packet size with the IP and UDP headers counted.
void ScriptedStreamCamera::fireTestPacket(uint32_t packetSize)
{
    uint32_t hostAddress = 0;
    uint16_t hostPort = 0;
    bool sent = false;
    written_.update([&] {
        if (carried_.count(packetSize) == 0)
            return;
        if (testPacketsToLose_ > 0) {
            --testPacketsToLose_;
            return;
        }
        hostAddress = htonl(registers_[kStreamAddressRegister]);
        hostPort = uint16_t(registers_[kStreamPortRegister]);
        sent = true;
    });
    if (!sent)
        return;
    Bytes packet;
    header(packet, 0, 0, 0);
    packet.resize(packetSize - 28, 0x5A);
    const sockaddr_in target = endpoint(hostAddress, hostPort);
    sendto(streamFd_, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&target), sizeof(target));
}

halvex::wire::RegisterPairs ScriptedStreamCamera::writes() const
{
    return written_.read([this] { return writes_; });
}

std::vector<uint32_t> ScriptedStreamCamera::writesOf(uint32_t reg) const
{
    std::vector<uint32_t> values;
    for (const auto& [address, value] : writes())
        if (address == reg)
            values.push_back(value);
    return values;
}

bool ScriptedStreamCamera::waitUntil(const std::function<bool()>& holds, std::chrono::milliseconds timeout) const
{
    return written_.waitUntil(holds, timeout);
}

bool ScriptedStreamCamera::waitForWrite(uint32_t reg, uint32_t value, std::chrono::milliseconds timeout) const
{
    return waitUntil(
        [&] {
            return std::find(writes_.begin(), writes_.end(), halvex::wire::RegisterPair{reg, value}) != writes_.end();
        },
        timeout);
}

bool ScriptedStreamCamera::waitForWriteCount(uint32_t reg, std::size_t count, std::chrono::milliseconds timeout) const
{
    return waitUntil(
        [&] {
            return std::size_t(std::count_if(writes_.begin(), writes_.end(),
                                             [&](const auto& write) { return write.address == reg; })) >= count;
        },
        timeout);
}

bool ScriptedStreamCamera::waitForLastWrite(uint32_t reg, uint32_t value, std::chrono::milliseconds timeout) const
{
    return waitUntil(
        [&] {
            const auto found = registers_.find(reg);
            return found != registers_.end() && found->second == value;
        },
        timeout);
}

uint32_t ScriptedStreamCamera::lastWrite(uint32_t reg) const
{
    return written_.read([&] {
        const auto found = registers_.find(reg);
        return found == registers_.end() ? 0 : found->second;
    });
}

void ScriptedStreamCamera::refuseWrite(uint32_t reg, uint32_t value)
{
    written_.update([&] { refused_.insert({reg, value}); });
}

void ScriptedStreamCamera::loseTestPackets(int count)
{
    written_.update([&] { testPacketsToLose_ = count; });
}

void ScriptedStreamCamera::carryPacketSizes(std::set<uint32_t> sizes)
{
    written_.update([&] { carried_ = std::move(sizes); });
}

void ScriptedStreamCamera::sendDatagram(const Bytes& datagram, uint16_t hostPort)
{
    const sockaddr_in target = endpoint(ipv4("127.0.0.1"), hostPort);
    sendto(streamFd_, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&target), sizeof(target));
}

void ScriptedStreamCamera::sendDatagrams(const std::vector<Bytes>& datagrams, uint16_t hostPort)
{
    for (const Bytes& datagram : datagrams)
        sendDatagram(datagram, hostPort);
}

void ScriptedStreamCamera::listenTcp(uint16_t port)
{
    listenFd_ = boundSocket(SOCK_STREAM, address_, port);
    listen(listenFd_, 4);
}

void ScriptedStreamCamera::stopListening()
{
    if (listenFd_ >= 0)
        close(listenFd_);
    listenFd_ = -1;
}

bool ScriptedStreamCamera::acceptTcp(std::chrono::milliseconds timeout)
{
    pollfd watched{listenFd_, POLLIN, 0};
    if (poll(&watched, 1, int(timeout.count())) != 1)
        return false;
    sockaddr_in peer{};
    socklen_t size = sizeof(peer);
    tcpFd_ = accept4(listenFd_, reinterpret_cast<sockaddr*>(&peer), &size, SOCK_CLOEXEC);
    peerPort_ = ntohs(peer.sin_port);
    return tcpFd_ >= 0;
}

void ScriptedStreamCamera::sendTcp(const Bytes& bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t count = send(tcpFd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (count <= 0)
            return;
        sent += std::size_t(count);
    }
}

void ScriptedStreamCamera::closeTcp()
{
    if (tcpFd_ >= 0)
        close(tcpFd_);
    tcpFd_ = -1;
}

bool ScriptedStreamCamera::sendTcpWhenRunning(const Bytes& bytes, std::chrono::milliseconds timeout)
{
    if (!waitUntil([&] { return registers_[kStreamControlRegister] != 16; }, timeout))
        return false;
    sendTcp(bytes);
    return true;
}

HostBuffer::HostBuffer(std::size_t bufferSize) : size(bufferSize), memory(bufferSize + kGuardSize, kGuardByte)
{
    std::fill_n(memory.begin(), bufferSize, 0);
    record.ver_maj = HX_API_VERSION_MAJ;
    record.ver_min = HX_API_VERSION_MIN;
    record.buffer = memory.data();
    record.buffer_size = bufferSize;
}

bool HostBuffer::guardIntact() const
{
    return std::all_of(memory.begin() + long(size), memory.end(), [](uint8_t b) { return b == kGuardByte; });
}

Collector::Collector()
{
    start();
}

Collector::~Collector()
{
    halvex::thread::closeThread(*this);
}

halvex::thread::Message* Collector::buffer(uint32_t kind, HostBuffer& host)
{
    auto* message = new HxStream<halvex::thread::Message>(kind, &host.record, nullptr, kClient, 0);
    message->pushRoute(this);
    message->owner = this;
    return message;
}

halvex::thread::Message* Collector::stopRequest(uint32_t kind)
{
    auto* message = new HxStream<halvex::thread::Message>(kind, nullptr, nullptr, kClient, 0);
    message->stop = true;
    message->pushRoute(this);
    message->owner = this;
    return message;
}

void Collector::messageHandle(halvex::thread::Message* message)
{
    ownerMessage(message);
}

void Collector::ownerMessage(halvex::thread::Message* message)
{
    if (message->req == halvex::thread::HALT) {
        message->reply(halvex::thread::MESSAGE_DONE);
        return;
    }
    Returned entry;
    entry.kind = message->req;
    entry.messageStatus = message->status;
    if (HxStreamBuffer* stream = streamBufferOf(message)) {
        entry.record = stream->record();
        entry.hostRecord = stream->hostRecord();
        entry.released = stream->released;
        entry.stop = stream->stop;
    }
    if (message->synchronous())
        message->forward();
    else
        delete message;
    returned_.add(entry);
}

NegotiationEvents& NegotiationEvents::instance()
{
    static auto* events = new NegotiationEvents;
    return *events;
}

// Registrations count only when the Callback thread owns them.
NegotiationEvents::NegotiationEvents()
{
    halvex::callback::Callback* thread = halvex::callback::Callback::factory();
    auto* registration = new halvex::callback::CallbackRegister(kClient, &callback, this);
    registration->owner = thread;
    thread->post(registration);
}

void NegotiationEvents::clear()
{
    events_.clear();
}

void NegotiationEvents::callback(uint32_t event, HX_CLIENT_HANDLE, HX_CAMERA_HANDLE camera, void* data, void* cookie)
{
    if (event != HX_STREAM_NEGOTIATION || data == nullptr)
        return;
    static_cast<NegotiationEvents*>(cookie)->events_.add({uint32_t(camera), *static_cast<int32_t*>(data)});
}

std::vector<int32_t> NegotiationEvents::sizes(uint32_t camera) const
{
    std::vector<int32_t> out;
    for (const auto& [address, size] : events_.all())
        if (address == camera)
            out.push_back(size);
    return out;
}

bool NegotiationEvents::waitFor(uint32_t camera, std::size_t count, std::chrono::milliseconds timeout) const
{
    return events_.waitUntil(
        [&](const auto& events) {
            return std::count_if(events.begin(), events.end(), [&](const auto& e) { return e.first == camera; }) >=
                   long(count);
        },
        timeout);
}

} // namespace stream_test
