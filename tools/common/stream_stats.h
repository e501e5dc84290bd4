// Stream statistics: what a live or download run received, and its progress bar.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <utility>

#include <hx/hx.h>

namespace halvex::common {

// Counts the buffers a stream gave back. Bytes are payload bytes placed in host buffers. A frame
// is incomplete when its trailer did not arrive, the receiver marked it faulty, or fewer bytes
// arrived than it announced. Lost packets are estimated from the missing bytes at the negotiated
// packet size (its IP, UDP and stream headers taken off); an incomplete frame lost at least one.
// A download's frames are consecutive, so gaps in its frame ids (and, once its range is known,
// frames before the first or after the last received) are missing frames, each of which lost a
// whole image's packets: over TCP, where a broken framing costs whole images and there is no
// packet size, one per image. A live stream skips frames whenever the host is busy, so there gaps
// are not counted.
class StreamStats {
public:
    explicit StreamStats(bool consecutiveFrames);

    void setPacketSize(int32_t packetSize);
    // The frames a download asked for.
    void expectRange(uint32_t first, uint32_t last);
    // Counts one returned buffer that holds (part of) an image.
    void add(const HX_READ_STREAM& record);

    uint64_t frames() const { return frames_; }
    uint64_t bytes() const { return bytes_; }
    uint64_t incompleteFrames() const { return incomplete_; }
    uint64_t lostPackets() const;
    uint64_t missingFrames() const;
    double seconds() const;

    // One line of key=value pairs.
    void print(std::FILE* out) const;

    // Whether a record holds a whole, unmarked image.
    static bool complete(const HX_READ_STREAM& record);

private:
    const bool consecutiveFrames_;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point last_;
    int32_t packetSize_ = 0;
    uint64_t frames_ = 0;
    uint64_t bytes_ = 0;
    uint64_t incomplete_ = 0;
    uint64_t lostPackets_ = 0;
    uint64_t missingFrames_ = 0;
    uint32_t largestImage_ = 0;
    std::optional<uint32_t> lastFrameId_;
    std::optional<std::pair<uint32_t, uint32_t>> range_;

    uint64_t packetsOfImage() const;
    uint64_t framesAfterLast() const;
};

// A bar on a terminal, redrawn in place; on anything else a line at each quarter of the way.
class ProgressBar {
public:
    ProgressBar(std::FILE* stream, uint64_t total, const char* what);
    void update(uint64_t done, uint64_t bytes, double seconds);
    void finish();

private:
    std::FILE* stream_;
    const uint64_t total_;
    const char* const what_;
    const bool terminal_;
    uint64_t lastQuarter_ = 0;
    bool drawn_ = false;
};

} // namespace halvex::common
