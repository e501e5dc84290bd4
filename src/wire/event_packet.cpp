// Event datagrams a camera sends to the host's event port when a watched register changes, and
// the all-zero datagram a host sends once to open that port's path.
#include "wire/event_packet.h"

#include <algorithm>

#include "wire/byte_io.h"
#include "wire/control_packet.h"
#include "wire/wire_text.h"

namespace halvex::wire {

std::vector<uint8_t> encodeEventData(const EventData& event)
{
    std::vector<uint8_t> datagram;
    datagram.reserve(kEventDatagramSize);
    ByteWriter out(datagram);
    out.u8(event.key);
    out.u8(event.flags);
    out.u16(control_code::kEventDataCmd);
    out.u16(kEventDataLength);
    out.u16(event.requestId);
    out.u16(0);
    out.u16(event.eventId);
    out.u16(event.streamChannel);
    out.u16(event.blockId);
    out.u64(event.timestamp);
    out.u32(event.value);
    return datagram;
}

EventDecodeResult decodeEventData(std::span<const uint8_t> datagram)
{
    ByteReader in(datagram);
    EventDecodeResult result;
    result.event.key = in.u8();
    result.event.flags = in.u8();
    result.command = in.u16();
    result.length = in.u16();
    if (!in.ok()) {
        return result; // Truncated
    }
    if (result.command == 0) {
        result.check = EventCheck::Empty;
        return result;
    }
    if (result.command != control_code::kEventDataCmd) {
        result.check = EventCheck::WrongCommand;
        return result;
    }
    if (result.length != kEventDataLength) {
        result.check = EventCheck::WrongLength;
        return result;
    }
    result.event.requestId = in.u16();
    in.skip(2);
    result.event.eventId = in.u16();
    result.event.streamChannel = in.u16();
    result.event.blockId = in.u16();
    result.event.timestamp = in.u64();
    result.event.value = in.u32();
    result.check = in.ok() ? EventCheck::Ok : EventCheck::Truncated;
    return result;
}

std::vector<uint8_t> encodeEventOpening()
{
    return std::vector<uint8_t>(kEventOpeningSize, 0);
}

bool isEventOpening(std::span<const uint8_t> datagram)
{
    return datagram.size() == kEventOpeningSize &&
           std::all_of(datagram.begin(), datagram.end(), [](uint8_t b) { return b == 0; });
}

std::string toString(EventCheck check)
{
    switch (check) {
    case EventCheck::Ok: return "ok";
    case EventCheck::Truncated: return "truncated";
    case EventCheck::Empty: return "empty";
    case EventCheck::WrongCommand: return "wrong command";
    case EventCheck::WrongLength: return "wrong length";
    }
    return "unknown check";
}

std::string toString(const EventData& event)
{
    return "EVENTDATA_CMD id=" + std::to_string(event.requestId) + " event=" + hexText(event.eventId, 4) +
           " value=" + hexText(event.value, 8) + " channel=" + std::to_string(event.streamChannel) +
           " block=" + std::to_string(event.blockId) + " timestamp=" + std::to_string(event.timestamp);
}

} // namespace halvex::wire
