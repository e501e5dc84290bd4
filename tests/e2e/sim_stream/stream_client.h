// A host's side of the image stream for tests, built from the stream codecs alone: images put
// together from UDP datagrams or read off a TCP connection, and a reader of the TIFF files a
// download carries. Waits are bounded by deadlines.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/unique_fd.h"
#include "sim_client.h"
#include "wire/stream_packet.h"

namespace hxsim_test {

struct ReceivedImage {
    uint32_t frame = 0; // from the leader's file name
    uint16_t blockId = 0;
    std::vector<uint8_t> bytes;
};

// Puts images together from datagrams in arrival order. An image counts only when its leader,
// every payload packet in order and its trailer arrived intact; anything else is noted in
// `faults` (text for test messages) and the image is dropped until the next leader.
class UdpImageAssembler {
public:
    std::optional<ReceivedImage> feed(std::span<const uint8_t> datagram)
    {
        const auto header = halvex::wire::decodeStreamHeader(datagram);
        if (!header) {
            return note("short datagram of " + std::to_string(datagram.size()) + " bytes");
        }
        switch (header->packetFormat) {
        case halvex::wire::packet_format::kLeader: return leader(datagram);
        case halvex::wire::packet_format::kPayload: return payload(datagram, *header);
        case halvex::wire::packet_format::kTrailer: return trailer(datagram);
        case halvex::wire::packet_format::kTest: ++testPackets; return std::nullopt;
        default: return note("unknown packet format " + std::to_string(header->packetFormat));
        }
    }

    std::vector<std::string> faults;
    int testPackets = 0;

private:
    std::optional<ReceivedImage> note(const std::string& fault)
    {
        faults.push_back(fault);
        building_.reset();
        return std::nullopt;
    }

    std::optional<ReceivedImage> leader(std::span<const uint8_t> datagram)
    {
        if (building_) {
            faults.push_back("a leader before the trailer of block " + std::to_string(building_->image.blockId));
        }
        building_.reset();
        const auto decoded = halvex::wire::decodeStreamLeader(datagram);
        if (datagram.size() != halvex::wire::kStreamLeaderSize || !decoded ||
            halvex::wire::checkStreamLeader(*decoded, true) != halvex::wire::LeaderCheck::Ok) {
            return note("bad leader of " + std::to_string(datagram.size()) + " bytes");
        }
        Building next;
        next.image.frame = *halvex::wire::sequenceNumberOf(*decoded);
        next.image.blockId = decoded->header.blockId;
        next.expected = decoded->imageLength;
        building_ = next;
        return std::nullopt;
    }

    std::optional<ReceivedImage> payload(std::span<const uint8_t> datagram, const halvex::wire::StreamHeader& header)
    {
        if (!building_) {
            return note("payload without a leader");
        }
        if (header.blockId != building_->image.blockId ||
            header.packetId != halvex::wire::nextPacketId(building_->packetId)) {
            return note("payload " + std::to_string(header.packetId) + " after " + std::to_string(building_->packetId) +
                        " in block " + std::to_string(building_->image.blockId));
        }
        const auto data = datagram.subspan(halvex::wire::kStreamHeaderSize);
        if (data.empty() || building_->image.bytes.size() + data.size() > building_->expected) {
            return note("payload of " + std::to_string(data.size()) + " bytes does not fit the image");
        }
        building_->packetId = header.packetId;
        building_->image.bytes.insert(building_->image.bytes.end(), data.begin(), data.end());
        return std::nullopt;
    }

    std::optional<ReceivedImage> trailer(std::span<const uint8_t> datagram)
    {
        if (!building_) {
            return note("trailer without a leader");
        }
        const auto decoded = halvex::wire::decodeStreamTrailer(datagram);
        if (datagram.size() != halvex::wire::kStreamTrailerSize || !decoded ||
            halvex::wire::checkStreamTrailer(*decoded, building_->image.blockId,
                                             halvex::wire::nextPacketId(building_->packetId)) != 0 ||
            building_->image.bytes.size() != building_->expected) {
            return note("bad trailer for block " + std::to_string(building_->image.blockId));
        }
        ReceivedImage done = std::move(building_->image);
        building_.reset();
        return done;
    }

    struct Building {
        ReceivedImage image;
        uint32_t expected = 0;
        uint32_t packetId = 0;
    };
    std::optional<Building> building_;
};

// One connection to a camera's TCP stream port, read as leader, payload and trailer.
class TcpStreamClient {
public:
    explicit TcpStreamClient(uint32_t camera) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(0x7F000001);
        sockaddr_in remote{};
        remote.sin_family = AF_INET;
        remote.sin_port = htons(halvex::wire::kTcpStreamPort);
        remote.sin_addr.s_addr = htonl(camera);
        socklen_t size = sizeof local;
        if (!fd_ || ::bind(fd_.get(), reinterpret_cast<sockaddr*>(&local), size) != 0 ||
            ::connect(fd_.get(), reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0 ||
            ::getsockname(fd_.get(), reinterpret_cast<sockaddr*>(&local), &size) != 0) {
            throw std::runtime_error(std::string("cannot connect to the camera's stream port: ") +
                                     std::strerror(errno));
        }
        port_ = ntohs(local.sin_port);
    }

    uint16_t port() const { return port_; }
    bool closed() const { return closed_; }

    // The next image; nothing when the deadline passes, the connection ends, or the framing is
    // wrong (then `fault` says how).
    std::optional<ReceivedImage> next(std::chrono::milliseconds limit = 5s)
    {
        const auto deadline = Clock::now() + limit;
        auto leaderBytes = read(halvex::wire::kStreamLeaderSize, deadline);
        if (!leaderBytes) {
            return std::nullopt;
        }
        const auto leader = halvex::wire::decodeStreamLeader(*leaderBytes);
        if (!leader || halvex::wire::checkStreamLeader(*leader, true) != halvex::wire::LeaderCheck::Ok) {
            fault = "bad leader";
            return std::nullopt;
        }
        auto payload = read(leader->imageLength, deadline);
        auto trailerBytes = payload ? read(halvex::wire::kStreamTrailerSize, deadline) : std::nullopt;
        if (!trailerBytes) {
            fault = "the image ended early";
            return std::nullopt;
        }
        const auto trailer = halvex::wire::decodeStreamTrailer(*trailerBytes);
        if (!trailer || halvex::wire::checkStreamTrailer(*trailer, leader->header.blockId,
                                                         halvex::wire::nextPacketId(leader->header.packetId)) != 0) {
            fault = "bad trailer";
            return std::nullopt;
        }
        return ReceivedImage{*halvex::wire::sequenceNumberOf(*leader), leader->header.blockId, std::move(*payload)};
    }

    // Exactly `count` bytes, or nothing when the connection ends or the deadline passes first.
    std::optional<std::vector<uint8_t>> read(std::size_t count, Clock::time_point deadline)
    {
        std::vector<uint8_t> bytes(count);
        std::size_t have = 0;
        while (have < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            pollfd wait{fd_.get(), POLLIN, 0};
            if (left.count() <= 0 || ::poll(&wait, 1, static_cast<int>(left.count()) + 1) <= 0) {
                return std::nullopt;
            }
            const ssize_t got = ::recv(fd_.get(), bytes.data() + have, count - have, MSG_DONTWAIT);
            if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
                closed_ = true;
                return std::nullopt;
            }
            have += got > 0 ? static_cast<std::size_t>(got) : 0;
        }
        return bytes;
    }

    std::string fault;

private:
    halvex::platform::UniqueFd fd_;
    uint16_t port_ = 0;
    bool closed_ = false;
};

// The fields of a baseline TIFF's first directory that a download's files must have.
struct TiffView {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t bitsPerSample = 0;
    uint32_t compression = 0;
    uint32_t stripOffset = 0;
    uint32_t stripBytes = 0;
    std::span<const uint8_t> pixels;
};

inline std::optional<TiffView> readTiff(std::span<const uint8_t> file)
{
    const auto u16 = [&](std::size_t at) { return static_cast<uint32_t>(file[at] | file[at + 1] << 8); };
    const auto u32 = [&](std::size_t at) { return u16(at) | u16(at + 2) << 16; };
    if (file.size() < 8 || file[0] != 'I' || file[1] != 'I' || u16(2) != 42) {
        return std::nullopt;
    }
    const std::size_t directory = u32(4);
    if (directory + 2 > file.size() || directory + 2 + 12 * u16(directory) > file.size()) {
        return std::nullopt;
    }
    TiffView view;
    for (std::size_t i = 0, count = u16(directory); i < count; ++i) {
        const std::size_t entry = directory + 2 + 12 * i;
        const uint32_t value = u16(entry + 2) == 3 ? u16(entry + 8) : u32(entry + 8); // SHORT or LONG
        switch (u16(entry)) {
        case 256: view.width = value; break;
        case 257: view.height = value; break;
        case 258: view.bitsPerSample = value; break;
        case 259: view.compression = value; break;
        case 273: view.stripOffset = value; break;
        case 279: view.stripBytes = value; break;
        default: break;
        }
    }
    if (uint64_t{view.stripOffset} + view.stripBytes > file.size()) {
        return std::nullopt;
    }
    view.pixels = file.subspan(view.stripOffset, view.stripBytes);
    return view;
}

} // namespace hxsim_test
