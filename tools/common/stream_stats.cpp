// Stream statistics: what a live or download run received, and its progress bar.
#include "stream_stats.h"

#include <unistd.h>

#include <algorithm>

namespace halvex::common {
namespace {

// IP and UDP headers, then the stream packet's own header, come out of every packet.
constexpr int32_t PACKET_OVERHEAD = 20 + 8 + 8;
constexpr int BAR_WIDTH = 30;

double megabytesPerSecond(uint64_t bytes, double seconds)
{
    return seconds > 0 ? static_cast<double>(bytes) / 1e6 / seconds : 0.0;
}

} // namespace

StreamStats::StreamStats(bool consecutiveFrames)
    : consecutiveFrames_(consecutiveFrames), start_(std::chrono::steady_clock::now()), last_(start_)
{
}

void StreamStats::setPacketSize(int32_t packetSize)
{
    packetSize_ = packetSize;
}

bool StreamStats::complete(const HX_READ_STREAM& record)
{
    return (record.status & HX_STREAM_STATUS_COMPLETE) != 0 && (record.status & HX_STREAM_STATUS_ERROR) == 0 &&
           record.received_length == record.image_length && record.image_length != 0;
}

void StreamStats::expectRange(uint32_t first, uint32_t last)
{
    range_ = {first, last};
}

uint64_t StreamStats::packetsOfImage() const
{
    const int32_t payload = packetSize_ - PACKET_OVERHEAD;
    return payload > 0 && largestImage_ > 0 ? (uint64_t{largestImage_} + payload - 1) / payload : 1;
}

void StreamStats::add(const HX_READ_STREAM& record)
{
    last_ = std::chrono::steady_clock::now();
    ++frames_;
    bytes_ += record.received_length;
    largestImage_ = std::max({largestImage_, record.image_length, record.received_length});
    if (!complete(record)) {
        ++incomplete_;
        const uint32_t missing =
            record.image_length > record.received_length ? record.image_length - record.received_length : 0;
        const int32_t payload = std::max(packetSize_ - PACKET_OVERHEAD, int32_t{1});
        lostPackets_ += std::max<uint64_t>(1, packetSize_ > PACKET_OVERHEAD ? (missing + payload - 1) / payload : 0);
    }
    if (consecutiveFrames_) {
        const uint32_t expected = lastFrameId_ ? *lastFrameId_ + 1 : range_ ? range_->first : record.frame_id;
        if (record.frame_id > expected) {
            missingFrames_ += record.frame_id - expected;
            lostPackets_ += (record.frame_id - expected) * packetsOfImage();
        }
    }
    if (!lastFrameId_ || record.frame_id > *lastFrameId_)
        lastFrameId_ = record.frame_id;
}

uint64_t StreamStats::framesAfterLast() const
{
    if (!consecutiveFrames_ || !range_)
        return 0;
    const uint64_t next = lastFrameId_ ? uint64_t{*lastFrameId_} + 1 : range_->first;
    return range_->second >= next ? range_->second - next + 1 : 0;
}

uint64_t StreamStats::missingFrames() const
{
    return missingFrames_ + framesAfterLast();
}

uint64_t StreamStats::lostPackets() const
{
    return lostPackets_ + framesAfterLast() * packetsOfImage();
}

double StreamStats::seconds() const
{
    return std::chrono::duration<double>(last_ - start_).count();
}

void StreamStats::print(std::FILE* out) const
{
    const double elapsed = seconds();
    std::fprintf(out,
                 "stats: frames=%llu bytes=%llu seconds=%.3f rate=%.2fMB/s fps=%.1f lost-packets=%llu "
                 "incomplete-frames=%llu",
                 static_cast<unsigned long long>(frames_), static_cast<unsigned long long>(bytes_), elapsed,
                 megabytesPerSecond(bytes_, elapsed), elapsed > 0 ? static_cast<double>(frames_) / elapsed : 0.0,
                 static_cast<unsigned long long>(lostPackets()), static_cast<unsigned long long>(incomplete_));
    if (consecutiveFrames_)
        std::fprintf(out, " missing-frames=%llu", static_cast<unsigned long long>(missingFrames()));
    std::fprintf(out, " packet-size=%d\n", packetSize_);
}

ProgressBar::ProgressBar(std::FILE* stream, uint64_t total, const char* what)
    : stream_(stream), total_(std::max<uint64_t>(total, 1)), what_(what), terminal_(isatty(fileno(stream)) != 0)
{
}

void ProgressBar::update(uint64_t done, uint64_t bytes, double seconds)
{
    done = std::min(done, total_);
    const double rate = megabytesPerSecond(bytes, seconds);
    if (terminal_) {
        const int filled = static_cast<int>(done * BAR_WIDTH / total_);
        std::fprintf(stream_, "\r[%.*s%*s] %llu/%llu %s  %.1f MB/s ", filled, "##############################",
                     BAR_WIDTH - filled, "", static_cast<unsigned long long>(done),
                     static_cast<unsigned long long>(total_), what_, rate);
        std::fflush(stream_);
        drawn_ = true;
        return;
    }
    const uint64_t quarter = done * 4 / total_;
    if (quarter > lastQuarter_) {
        lastQuarter_ = quarter;
        std::fprintf(stream_, "hxcam: %llu/%llu %s (%llu%%), %.1f MB/s\n", static_cast<unsigned long long>(done),
                     static_cast<unsigned long long>(total_), what_, static_cast<unsigned long long>(quarter) * 25,
                     rate);
    }
}

void ProgressBar::finish()
{
    if (terminal_ && drawn_)
        std::fprintf(stream_, "\n");
}

} // namespace halvex::common
