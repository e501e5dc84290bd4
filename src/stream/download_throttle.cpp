// The download throttle: pauses a camera while the host's download buffers run short, resumes it
// once enough are lent again, and knows which frames the download still has to bring.
#include "stream/download_throttle.h"

#include "control/register_channel.h"
#include "hlv_thread/log.h"
#include "registers/register_map.h"

namespace halvex::stream {

using control::RegisterChannel;

using thread::TRACE_STREAM;

namespace {

// Both counts in one word, so a reader never sees one from an old setting and one from a new.
std::atomic<uint64_t> countsWord{(uint64_t{DownloadThrottle::DEFAULT_COUNTS.pauseCount} << 32) |
                                 DownloadThrottle::DEFAULT_COUNTS.resumeCount};

} // namespace

void DownloadThrottle::set(Counts counts)
{
    countsWord = (uint64_t{counts.pauseCount} << 32) | counts.resumeCount;
}

DownloadThrottle::Counts DownloadThrottle::current()
{
    const uint64_t word = countsWord;
    return {static_cast<uint32_t>(word >> 32), static_cast<uint32_t>(word)};
}

DownloadThrottle::DownloadThrottle(RegisterChannel& registers, const char* className, const std::string& where)
    : registers_(registers), className_(className), where_(where)
{
}

void DownloadThrottle::setDownloadRange(uint32_t firstFrame, uint32_t lastFrame, bool serviceSeesEveryImage)
{
    serviceSeesEveryImageNext_ = serviceSeesEveryImage;
    range_ = (uint64_t{firstFrame} << 32) | lastFrame;
}

void DownloadThrottle::startDownload()
{
    const uint64_t range = range_.exchange(~uint64_t{0});
    firstFrame_ = static_cast<uint32_t>(range >> 32);
    nextFrame_ = firstFrame_;
    lastFrame_ = static_cast<uint32_t>(range);
    serviceSeesEveryImage_ = serviceSeesEveryImageNext_.exchange(true);
    endEmpty_ = false;
}

// An image that arrived incomplete is not sent again either: whatever its status, the frames still
// to come are the ones after it.
void DownloadThrottle::noteImage(uint32_t frame, uint32_t receivedLength)
{
    if (nextFrame_ != UNKNOWN_FRAME && frame != UNKNOWN_FRAME && frame + 1 > nextFrame_)
        nextFrame_ = frame + 1;
    endEmpty_ = frame == lastFrame_ && receivedLength == 0;
}

std::optional<std::size_t> DownloadThrottle::framesToCome() const
{
    if (nextFrame_ == UNKNOWN_FRAME || lastFrame_ == UNKNOWN_FRAME)
        return std::nullopt;
    if (nextFrame_ > lastFrame_)
        return 0;
    return std::size_t{lastFrame_ - nextFrame_} + 1;
}

bool DownloadThrottle::endToCome() const
{
    return lastFrame_ != UNKNOWN_FRAME && (nextFrame_ == UNKNOWN_FRAME || nextFrame_ <= lastFrame_ || endEmpty_);
}

bool DownloadThrottle::goesStraightBack(uint32_t frame) const
{
    return !serviceSeesEveryImage_ && firstFrame_ != UNKNOWN_FRAME && lastFrame_ != UNKNOWN_FRAME &&
           frame >= firstFrame_ && frame < lastFrame_;
}

bool DownloadThrottle::shortOfBuffers(std::size_t queued, std::size_t space)
{
    return queued <= current().pauseCount || space < MIN_QUEUED_SPACE;
}

uint32_t DownloadThrottle::firstFrame() const
{
    return firstFrame_;
}

uint32_t DownloadThrottle::lastFrame() const
{
    return lastFrame_;
}

bool DownloadThrottle::paused() const
{
    return paused_;
}

bool DownloadThrottle::change(bool pause)
{
    if (pause == paused_)
        return false;
    paused_ = pause;
    return true;
}

void DownloadThrottle::tellCamera(bool pause)
{
    registers_.writeReg(registers::GIGE_REG_STREAM_CONTROL,
                        pause ? registers::STREAM_CONTROL_PAUSE : registers::STREAM_CONTROL_RESUME);
    HLV_TRACE(TRACE_STREAM, "%s(%s): write complete.", className_, where_.c_str());
}

} // namespace halvex::stream
