// Frames drawn once per size and format.
#include "frame_source.h"

#include <algorithm>
#include <cstring>

#include "tiff_frames.h"

namespace hxsim {
namespace {

// The frame number and serial, little-endian, ahead of the pattern.
constexpr std::size_t kHeaderSamples = 8;
// Different sizes and formats kept drawn at once (live and download of one camera, with room).
constexpr std::size_t kCacheEntries = 4;
// A strip may exceed its frame by this much before the frame is drawn per frame instead.
constexpr std::size_t kStripSlack = std::size_t{8} << 20;

} // namespace

struct FrameDrawer::Drawn {
    bool tiff = false;
    FrameGeometry geometry;
    std::vector<uint8_t> prefix;
    std::size_t samples = 0;     // samples (raw: bytes) after the prefix
    std::size_t sampleBytes = 1; // 2 for 16-bit TIFF samples (the value, then 0)
    std::size_t rowSamples = 1;
    std::vector<uint8_t> strip; // empty when frames are drawn one by one
};

FrameImage FrameImage::owning(std::vector<uint8_t> bytes)
{
    auto held = std::make_shared<const std::vector<uint8_t>>(std::move(bytes));
    FrameImage image;
    image.body_ = std::span<const uint8_t>(*held);
    image.keep_ = std::move(held);
    return image;
}

std::size_t FrameImage::size() const
{
    return prefix_.size() + headSize_ + body_.size();
}

std::array<std::span<const uint8_t>, 3> FrameImage::parts() const
{
    return {prefix_, std::span<const uint8_t>(head_.data(), headSize_), body_};
}

void FrameImage::copy(std::size_t offset, std::span<uint8_t> out) const
{
    std::size_t at = 0;
    for (std::span<const uint8_t> part : parts()) {
        if (offset < part.size() && at < out.size()) {
            const std::size_t count = std::min(part.size() - offset, out.size() - at);
            std::memcpy(out.data() + at, part.data() + offset, count);
            at += count;
            offset = 0;
        } else {
            offset -= std::min(offset, part.size());
        }
    }
}

std::vector<uint8_t> FrameImage::bytes() const
{
    std::vector<uint8_t> out(size());
    copy(0, out);
    return out;
}

FrameImage FrameDrawer::raw(uint32_t frameNumber, uint32_t serial, const FrameGeometry& geometry)
{
    return view(drawn(false, geometry), frameNumber, serial);
}

FrameImage FrameDrawer::tiff(uint32_t frameNumber, uint32_t serial, const FrameGeometry& geometry)
{
    return view(drawn(true, geometry), frameNumber, serial);
}

std::shared_ptr<const FrameDrawer::Drawn> FrameDrawer::drawn(bool tiff, const FrameGeometry& geometry)
{
    for (const auto& entry : cache_) {
        const FrameGeometry& held = entry->geometry;
        if (entry->tiff == tiff && held.width == geometry.width && held.height == geometry.height &&
            held.pixelFormat == geometry.pixelFormat && held.bytes == geometry.bytes) {
            return entry;
        }
    }
    auto made = std::make_shared<Drawn>();
    made->tiff = tiff;
    made->geometry = geometry;
    if (tiff) {
        made->prefix = TiffFrame::directory(geometry);
        made->samples = std::size_t{geometry.width} * geometry.height;
        made->sampleBytes = TiffFrame::bitsPerSample(geometry.pixelFormat) / 8;
        made->rowSamples = std::max<std::size_t>(geometry.width, 1);
    } else {
        made->samples = static_cast<std::size_t>(geometry.bytes);
        made->rowSamples = std::max<std::size_t>(made->samples / std::max<std::size_t>(geometry.height, 1), 1);
    }
    const std::size_t stripSamples = made->samples + 255 * made->rowSamples;
    if (255 * made->rowSamples <= made->samples + kStripSlack) {
        made->strip.assign(stripSamples * made->sampleBytes, 0);
        for (std::size_t i = 0; i < stripSamples; ++i) {
            made->strip[i * made->sampleBytes] = static_cast<uint8_t>(i % made->rowSamples + i / made->rowSamples);
        }
    }
    if (cache_.size() == kCacheEntries) {
        cache_.erase(cache_.begin());
    }
    cache_.push_back(made);
    return made;
}

FrameImage FrameDrawer::view(const std::shared_ptr<const Drawn>& drawn, uint32_t frameNumber, uint32_t serial)
{
    if (drawn->strip.empty()) {
        if (drawn->tiff) {
            return FrameImage::owning(TiffFrame::encode(frameNumber, serial, drawn->geometry));
        }
        std::vector<uint8_t> bytes(drawn->samples);
        SyntheticImage::render(frameNumber, serial, drawn->geometry, bytes);
        return FrameImage::owning(std::move(bytes));
    }
    FrameImage image;
    image.keep_ = drawn;
    image.prefix_ = drawn->prefix;
    const std::size_t headSamples = std::min(kHeaderSamples, drawn->samples);
    for (std::size_t i = 0; i < headSamples; ++i) {
        const uint32_t word = i < 4 ? frameNumber : serial;
        image.head_[i * drawn->sampleBytes] = static_cast<uint8_t>(word >> (8 * (i % 4)));
    }
    image.headSize_ = headSamples * drawn->sampleBytes;
    const std::size_t shift = (3 * std::size_t{frameNumber} % 256) * drawn->rowSamples;
    image.body_ =
        std::span<const uint8_t>(drawn->strip)
            .subspan((shift + headSamples) * drawn->sampleBytes, (drawn->samples - headSamples) * drawn->sampleBytes);
    return image;
}

} // namespace hxsim
