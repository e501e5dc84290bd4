// Stream bytes the TCP image receiver has taken from its connection but not parsed yet: the
// recovery scan's window, and what follows a leader the scan found.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "wire/stream_packet.h"

namespace halvex::stream {

// One scratch area, allocated once, of which [begin, end) is pending. The scan reads a window at a
// time; a leader straddling two reads is found in the next one because the last bytes that could
// start a leader are kept back.
//
// Threads: the receiver's thread only.
class TcpPendingBytes {
public:
    // Stream bytes the recovery scan reads at a time.
    static constexpr std::size_t SCAN_WINDOW = 64 * 1024;
    static constexpr std::size_t KEPT_FOR_NEXT_SCAN = wire::kStreamLeaderSize - 1;

    TcpPendingBytes();

    std::size_t size() const;
    // Takes up to `want` pending bytes; how many were taken.
    std::size_t take(uint8_t* into, std::size_t want);
    // Puts bytes back in front of those still pending (at most a leader's worth, and pending bytes
    // never fill the whole scratch area while a leader is being read).
    void putBack(std::span<const uint8_t> bytes);
    // Moves the pending bytes to the front of the scratch area; the room after them, empty when
    // the window is full.
    std::span<uint8_t> compactForScan();
    // `count` bytes were read into the room compactForScan gave.
    void filled(std::size_t count);
    // The scan's window: every byte from the front of the scratch area to the end of the pending.
    std::span<const uint8_t> window() const;
    // The window's bytes before `offset` are done with.
    void consumeTo(std::size_t offset);
    void clear();

private:
    std::vector<uint8_t> scratch_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
};

} // namespace halvex::stream
