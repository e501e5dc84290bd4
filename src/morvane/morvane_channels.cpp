// Morvane channels: the memory-register exchanges that carry the family's JSON texts.
#include "morvane/morvane_channels.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include <hlv_thread/period_scale.h>

namespace halvex::morvane {

using control::RegisterChannel;

namespace channels {
namespace {

// The camera pads what it hands out with zeros: the text is what comes before the first NUL.
std::string textOf(const std::vector<uint8_t>& bytes)
{
    const auto end = std::find(bytes.begin(), bytes.end(), uint8_t{0});
    return std::string(bytes.begin(), end);
}

} // namespace

std::optional<std::string> readText(RegisterChannel& channel, uint32_t reg, uint32_t& result)
{
    for (int attempt = 1; attempt <= kTextReads; ++attempt) {
        std::vector<uint8_t> bytes;
        result = channel.readMem(reg, bytes, 0);
        if (result == 0)
            return textOf(bytes);
        if (result != kBusyResult || attempt == kTextReads)
            break;
        // A camera busy composing the text answers late; give it a moment before asking again.
        std::this_thread::sleep_for(std::chrono::milliseconds(thread::scaledMilliseconds(100)));
    }
    return std::nullopt;
}

ChunkedText readChunkedText(RegisterChannel& channel, uint32_t reg)
{
    ChunkedText out;
    if (out.result = channel.writeReg(reg, 0); out.result != 0) {
        out.failure = ChunkedFailure::Rewind;
        return out;
    }
    for (;;) {
        std::vector<uint8_t> bytes;
        if (out.result = channel.readMem(reg, bytes, kChunkBytes); out.result != 0) {
            out.failure = ChunkedFailure::Read;
            return out;
        }
        const std::string chunk = textOf(bytes);
        out.text += chunk;
        if (out.text.size() > kMaxChunkedText) {
            out.failure = ChunkedFailure::TooLong;
            return out;
        }
        // A chunk shorter than (nearly) a full read is the last one.
        if (chunk.size() < kChunkBytes - 1)
            return out;
    }
}

uint32_t writeText(RegisterChannel& channel, uint32_t reg, const std::string& text)
{
    return channel.writeMem(reg, std::vector<uint8_t>(text.begin(), text.end()));
}

} // namespace channels

} // namespace halvex::morvane
