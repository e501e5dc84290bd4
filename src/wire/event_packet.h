// Event datagrams a camera sends to the host's event port when a watched register changes, and
// the all-zero datagram a host sends once to open that port's path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace halvex::wire {

inline constexpr std::size_t kEventDatagramSize = 28;
inline constexpr uint16_t kEventDataLength = 20;
inline constexpr std::size_t kEventOpeningSize = 10;

struct EventData {
    uint8_t key = 0x42;
    uint8_t flags = 0;
    uint16_t requestId = 0;
    // The register address the event reports.
    uint16_t eventId = 0;
    uint16_t streamChannel = 0;
    uint16_t blockId = 0;
    uint64_t timestamp = 0;
    // The first four bytes of event data: the register's new value.
    uint32_t value = 0;
};

enum class EventCheck {
    Ok,
    Truncated,    // shorter than its command and length fields, or than the length it claims
    Empty,        // command 0, as the all-zero opening datagram would be: ignore quietly
    WrongCommand, // anything but an event: worth an error line naming `command`
    WrongLength,  // an event whose length is not 20: worth an error line naming `length`
};

struct EventDecodeResult {
    EventCheck check = EventCheck::Truncated;
    uint16_t command = 0; // as read, for the error line
    uint16_t length = 0;  // as read, for the error line
    EventData event;      // meaningful only when check is Ok
};

// The camera's side: always 28 bytes with command 0x00C2 and length 20.
std::vector<uint8_t> encodeEventData(const EventData& event);
// The key and flags are not checked; no acknowledge is ever expected for an event.
EventDecodeResult decodeEventData(std::span<const uint8_t> datagram);

// The 10 zero bytes a host sends from its event port when the channel opens.
std::vector<uint8_t> encodeEventOpening();
bool isEventOpening(std::span<const uint8_t> datagram);

std::string toString(EventCheck check);
std::string toString(const EventData& event);

} // namespace halvex::wire
