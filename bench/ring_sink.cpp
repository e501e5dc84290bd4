// The TPACKET_V3 ring sink: a classic BPF program picks the camera's flow off the loopback device.
#include "ring_sink.h"

#include <arpa/inet.h>
#include <linux/filter.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <span>

#include "host_memory.h"
#include "stream_camera.h"

namespace stream_bench {

namespace {

constexpr std::size_t kRingBytes = std::size_t{64} << 20;
constexpr uint32_t kWholePacket = 0x40000;

std::string failed(const char* what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

// IPv4 UDP from `camera` to `host`:`port`, unfragmented; offsets count from the link header
// (14 bytes on the loopback device).
sock_fprog flowFilter(uint32_t camera, uint32_t host, uint16_t port, sock_filter (&code)[15])
{
    const sock_filter program[15] = {
        BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 12),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0x0800, 0, 12),
        BPF_STMT(BPF_LD | BPF_B | BPF_ABS, 23),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, IPPROTO_UDP, 0, 10),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, 26),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, camera, 0, 8),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, 30),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, host, 0, 6),
        BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 20),
        BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, 0x1FFF, 4, 0),
        BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, 14),
        BPF_STMT(BPF_LD | BPF_H | BPF_IND, 16),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, port, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, kWholePacket),
        BPF_STMT(BPF_RET | BPF_K, 0),
    };
    std::memcpy(code, program, sizeof(program));
    return sock_fprog{15, code};
}

} // namespace

std::unique_ptr<PacketRingSink> PacketRingSink::open(uint32_t camera, uint32_t host, std::size_t blockBytes,
                                                     std::string& why)
{
    std::unique_ptr<PacketRingSink> sink(new PacketRingSink);
    if (!sink->setUp(camera, host, blockBytes, why))
        return nullptr;
    return sink;
}

bool PacketRingSink::setUp(uint32_t camera, uint32_t host, std::size_t blockBytes, std::string& why)
{
    udp_ = boundSocket(SOCK_DGRAM, kHost, 0);
    sockaddr_in bound{};
    socklen_t size = sizeof(bound);
    getsockname(udp_, reinterpret_cast<sockaddr*>(&bound), &size);
    port_ = ntohs(bound.sin_port);
    sock_filter dropAll[1] = {BPF_STMT(BPF_RET | BPF_K, 0)};
    const sock_fprog dropProgram{1, dropAll};
    if (setsockopt(udp_, SOL_SOCKET, SO_ATTACH_FILTER, &dropProgram, sizeof(dropProgram)) != 0) {
        why = failed("a drop-all filter on the UDP socket");
        return false;
    }
    // Protocol 0: the socket sees nothing until it is bound, by which time its filter is in place.
    packets_ = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0);
    if (packets_ < 0) {
        why = failed("a packet socket");
        return false;
    }
    const int version = TPACKET_V3;
    const int on = 1;
    sock_filter code[15];
    const sock_fprog flow = flowFilter(camera, host, port_, code);
    blockBytes_ = blockBytes;
    blocks_ = unsigned(kRingBytes / blockBytes);
    tpacket_req3 request{};
    request.tp_block_size = unsigned(blockBytes);
    request.tp_block_nr = blocks_;
    request.tp_frame_size = 2048;
    request.tp_frame_nr = unsigned(kRingBytes / request.tp_frame_size);
    request.tp_retire_blk_tov = kBlockTimeoutMillis;
    // The loopback device shows each packet twice, leaving and arriving; only arrivals count.
    if (setsockopt(packets_, SOL_PACKET, PACKET_VERSION, &version, sizeof(version)) != 0 ||
        setsockopt(packets_, SOL_PACKET, PACKET_IGNORE_OUTGOING, &on, sizeof(on)) != 0 ||
        setsockopt(packets_, SOL_SOCKET, SO_ATTACH_FILTER, &flow, sizeof(flow)) != 0 ||
        setsockopt(packets_, SOL_PACKET, PACKET_RX_RING, &request, sizeof(request)) != 0) {
        why = failed("setting up the TPACKET_V3 ring");
        return false;
    }
    ringBytes_ = kRingBytes;
    void* mapped = mmap(nullptr, ringBytes_, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, packets_, 0);
    if (mapped == MAP_FAILED) {
        why = failed("mapping the ring");
        return false;
    }
    ring_ = static_cast<uint8_t*>(mapped);
    sockaddr_ll link{};
    link.sll_family = AF_PACKET;
    link.sll_protocol = htons(0x0800);
    link.sll_ifindex = int(if_nametoindex("lo"));
    if (link.sll_ifindex == 0 || bind(packets_, reinterpret_cast<const sockaddr*>(&link), sizeof(link)) != 0) {
        why = failed("binding the packet socket to the loopback device");
        return false;
    }
    return true;
}

PacketRingSink::~PacketRingSink()
{
    if (ring_ != nullptr)
        munmap(ring_, ringBytes_);
    if (packets_ >= 0)
        close(packets_);
    if (udp_ >= 0)
        close(udp_);
}

uint8_t* PacketRingSink::readyBlock()
{
    uint8_t* block = ring_ + std::size_t(next_) * blockBytes_;
    auto* description = reinterpret_cast<tpacket_block_desc*>(block);
    const uint32_t status =
        std::atomic_ref<uint32_t>(description->hdr.bh1.block_status).load(std::memory_order_acquire);
    return (status & TP_STATUS_USER) != 0 ? block : nullptr;
}

bool PacketRingSink::take(std::chrono::milliseconds limit, HostMemory& memory)
{
    if (readyBlock() == nullptr) {
        pollfd watched{packets_, POLLIN | POLLERR, 0};
        if (poll(&watched, 1, int(limit.count())) <= 0 || readyBlock() == nullptr)
            return false;
    }
    while (uint8_t* block = readyBlock()) {
        takeBlock(block, memory);
        next_ = (next_ + 1) % blocks_;
    }
    return true;
}

// Each packet carries the link header, the IP header and the UDP header before the datagram.
void PacketRingSink::takeBlock(uint8_t* block, HostMemory& memory)
{
    auto* description = reinterpret_cast<tpacket_block_desc*>(block);
    const uint32_t count = description->hdr.bh1.num_pkts;
    uint8_t* at = block + description->hdr.bh1.offset_to_first_pkt;
    for (uint32_t i = 0; i < count; ++i) {
        const auto* packet = reinterpret_cast<const tpacket3_hdr*>(at);
        const uint8_t* ip = at + packet->tp_net;
        const std::size_t ipHeader = std::size_t(ip[0] & 0x0F) * 4;
        const std::size_t captured = packet->tp_snaplen - (packet->tp_net - packet->tp_mac);
        if (captured > ipHeader + 8)
            memory.copy(std::span<const uint8_t>(ip + ipHeader + 8, captured - ipHeader - 8));
        at += packet->tp_next_offset;
    }
    std::atomic_ref<uint32_t>(description->hdr.bh1.block_status).store(TP_STATUS_KERNEL, std::memory_order_release);
}

uint64_t PacketRingSink::drops()
{
    tpacket_stats_v3 stats{};
    socklen_t size = sizeof(stats);
    if (getsockopt(packets_, SOL_PACKET, PACKET_STATISTICS, &stats, &size) == 0)
        drops_ += stats.tp_drops;
    return drops_;
}

} // namespace stream_bench
