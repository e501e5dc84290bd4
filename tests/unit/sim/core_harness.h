// Drives a CameraCore with datagrams built by the host-side codecs, as a host would.
#pragma once

#include <optional>
#include <vector>

#include "registers/register_map.h"
#include "sim/device/camera_core.h"
#include "wire/control_packet.h"
#include "wire/event_packet.h"

namespace hxsim_test {

using namespace std::chrono_literals;

inline const hxsim::Endpoint kHost{0x7F000001, 5824};
inline const hxsim::Endpoint kOtherHost{0x7F000001, 5830};

struct CoreHarness {
    explicit CoreHarness(hxsim::CameraConfig config = {}) : core(config) {}

    hxsim::CameraCore core;
    hxsim::SimTime now{0};
    uint16_t nextId = 1;
    std::vector<hxsim::Outgoing> events; // event datagrams seen so far

    std::vector<hxsim::Outgoing> send(const std::vector<uint8_t>& datagram, hxsim::Endpoint from = kHost)
    {
        auto out = core.handle(datagram, from, now);
        std::vector<hxsim::Outgoing> answers;
        for (auto& item : out) {
            (item.channel == hxsim::FaultChannel::Events ? events : answers).push_back(item);
        }
        return answers;
    }

    std::optional<halvex::wire::WriteRegAck> write(halvex::wire::RegisterPairs pairs, bool ack = true,
                                                   hxsim::Endpoint from = kHost)
    {
        auto answers = send(halvex::wire::encodeWriteRegCmd(pairs, ack, nextId++), from);
        if (answers.empty()) {
            return std::nullopt;
        }
        return halvex::wire::decodeWriteRegAck(answers.front().bytes);
    }

    // A write wrapped in the gate pairs, as hosts send most writes.
    std::optional<halvex::wire::WriteRegAck> gatedWrite(halvex::wire::RegisterPairs pairs, hxsim::Endpoint from = kHost)
    {
        return write(halvex::wire::planMultiWrite(pairs).pairs, true, from);
    }

    halvex::wire::ReadRegAck read(const std::vector<uint32_t>& addresses)
    {
        auto answers = send(halvex::wire::encodeReadRegCmd(addresses, nextId++));
        return *halvex::wire::decodeReadRegAck(answers.at(0).bytes);
    }

    uint32_t reg(uint32_t address) { return read({address}).values.at(0); }

    std::vector<uint8_t> readMem(uint32_t address, std::size_t count)
    {
        auto answers = send(halvex::wire::encodeReadMemCmd(address, count, nextId++));
        auto ack = halvex::wire::decodeReadMemAck(answers.at(0).bytes);
        return {ack->data.begin(), ack->data.end()};
    }

    void tick(hxsim::SimTime by)
    {
        now += by;
        for (auto& item : core.advance(now)) {
            events.push_back(item);
        }
    }

    // (register, value) of every event seen so far.
    halvex::wire::RegisterPairs eventPairs() const
    {
        halvex::wire::RegisterPairs pairs;
        for (const auto& item : events) {
            auto decoded = halvex::wire::decodeEventData(item.bytes);
            pairs.push_back({decoded.event.eventId, decoded.event.value});
        }
        return pairs;
    }
};

} // namespace hxsim_test
