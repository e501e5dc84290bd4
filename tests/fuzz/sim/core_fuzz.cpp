// Feeds arbitrary datagram sequences to the stand-in camera's request handler: it must never
// crash, and everything it sends must be a well-formed acknowledge, discovery reply or event.
//
// Input: one configuration byte (bit 0 second family, bits 1-3 sensor, bit 4 old firmware),
// then records of [flags][time step][length, 2 bytes][datagram]: flags bit 0 picks one of two
// hosts, bit 1 marks a broadcast arrival, bit 2 refuses the request instead; the step advances
// the camera clock in 10 ms units first.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

#include "sim/device/camera_core.h"
#include "wire/control_packet.h"
#include "wire/discovery_packet.h"
#include "wire/event_packet.h"

using namespace hxsim;

namespace {

void check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

void checkOutgoing(const Outgoing& datagram)
{
    const auto& bytes = datagram.bytes;
    switch (datagram.channel) {
    case FaultChannel::Discovery:
        check(bytes.size() == halvex::wire::kDiscoveryAckSize, "discovery reply of 256 bytes");
        check(halvex::wire::decodeDiscoveryAck(bytes).has_value(), "discovery reply decodes");
        break;
    case FaultChannel::Events:
        check(halvex::wire::decodeEventData(bytes).check == halvex::wire::EventCheck::Ok, "event decodes");
        break;
    case FaultChannel::Control: {
        const auto header = halvex::wire::decodeAckHeader(bytes);
        check(header.has_value(), "acknowledge decodes");
        check(bytes.size() == halvex::wire::kControlHeaderSize + header->length, "acknowledge length matches");
        check(bytes.size() <= halvex::wire::kMaxControlDatagram, "acknowledge fits a control datagram");
        break;
    }
    }
}

CameraConfig configFrom(uint8_t selector)
{
    CameraConfig config;
    if ((selector & 1) != 0) {
        config.model = "hxsim qM";
    }
    const auto chips = SensorModel::chips();
    config.sensor = *SensorModel::fromName(std::string(chips[((selector >> 1) & 7) % chips.size()].name) + "-mono");
    config.faults.oldFirmware = (selector & 0x10) != 0;
    config.memoryBytes = uint64_t{256} << 20;
    return config;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    std::span<const uint8_t> input(data, size);
    if (input.empty()) {
        return 0;
    }
    CameraCore core(configFrom(input[0]));
    input = input.subspan(1);
    SimTime now{0};
    const Endpoint hosts[2] = {{0x7F000001, 5824}, {0x7F000001, 5830}};
    while (input.size() >= 4) {
        const uint8_t flags = input[0];
        now += std::chrono::milliseconds(10 * input[1]);
        const std::size_t length = std::min<std::size_t>(input[2] << 8 | input[3], input.size() - 4);
        const auto datagram = input.subspan(4, length);
        input = input.subspan(4 + length);
        const Endpoint from = hosts[flags & 1];
        const auto out = (flags & 4) != 0 ? core.refuse(datagram, from, halvex::wire::camera_status::kBusy)
                                          : core.handle(datagram, from, now, (flags & 2) != 0);
        for (const Outgoing& item : out) {
            checkOutgoing(item);
        }
        // Whatever was due has been done: a camera thread waiting for the deadline cannot spin.
        for (const Outgoing& item : core.advance(now)) {
            checkOutgoing(item);
        }
        check(core.nextDeadline() > now, "nothing left due after advancing");
    }
    for (const Outgoing& item : core.advance(now + std::chrono::hours(1))) {
        checkOutgoing(item);
    }
    return 0;
}
