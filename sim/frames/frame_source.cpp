// Frames drawn once per size and format.
#include "sim/frames/frame_source.h"

#include <algorithm>
#include <cstring>

#include "sim/frames/frame_scene.h"
#include "sim/frames/tiff_frames.h"

namespace hxsim {
namespace {

// The frame number and serial, little-endian, ahead of the pattern.
constexpr std::size_t kHeaderSamples = 8;
// Different sizes and formats kept drawn at once (live and download of one camera, with room).
constexpr std::size_t kCacheEntries = 4;
// A strip may exceed its frame by this much before the frame is drawn per frame instead.
constexpr std::size_t kStripSlack = std::size_t{8} << 20;
// A scene's cycle of pictures larger than this is drawn per frame instead.
constexpr std::size_t kSceneBudget = std::size_t{128} << 20;

// The frame number (samples 0-3) and serial (4-7), little-endian, one byte per sample.
void writeHeader(uint32_t frameNumber, uint32_t serial, std::size_t samples, std::size_t sampleBytes, uint8_t* out)
{
    for (std::size_t i = 0; i < std::min(kHeaderSamples, samples); ++i) {
        const uint32_t word = i < 4 ? frameNumber : serial;
        out[i * sampleBytes] = static_cast<uint8_t>(word >> (8 * (i % 4)));
    }
}

} // namespace

struct FrameDrawer::Drawn {
    bool tiff = false;
    FrameGeometry geometry;
    std::vector<uint8_t> prefix;
    std::size_t samples = 0;     // samples (raw: bytes) after the prefix
    std::size_t sampleBytes = 1; // 2 for 16-bit TIFF samples (the value, then 0)
    std::size_t rowSamples = 1;
    std::vector<uint8_t> strip; // empty when frames are drawn one by one
    bool scene = false;
    std::vector<std::vector<uint8_t>> cycle; // a scene's pictures; empty when drawn one by one
    FrameScene::Grid grid;
    std::size_t bandBytes = 0;
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
    return prefix_.size() + (band_ ? band_->size() : headSize_) + body_.size();
}

std::array<std::span<const uint8_t>, 3> FrameImage::parts() const
{
    if (band_)
        return {prefix_, std::span<const uint8_t>(*band_), body_};
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
    if (scene_) {
        drawScene(*made);
    } else if (255 * made->rowSamples <= made->samples + kStripSlack) {
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

void FrameDrawer::drawScene(Drawn& drawn) const
{
    drawn.scene = true;
    drawn.grid = {drawn.samples / drawn.rowSamples, drawn.rowSamples, drawn.sampleBytes};
    const std::size_t bytes = drawn.samples * drawn.sampleBytes;
    drawn.bandBytes = std::max(FrameScene::bandRows(drawn.grid) * drawn.rowSamples, kHeaderSamples) * drawn.sampleBytes;
    if (bytes * FrameScene::kCycle > kSceneBudget || drawn.bandBytes > bytes)
        return;
    std::vector<uint8_t> background(bytes);
    FrameScene::drawBackground(drawn.grid, background);
    drawn.cycle.assign(FrameScene::kCycle, background);
    for (uint32_t phase = 0; phase < FrameScene::kCycle; ++phase) {
        FrameScene::drawDisc(phase, drawn.grid, drawn.cycle[phase]);
    }
}

FrameImage FrameDrawer::sceneView(const std::shared_ptr<const Drawn>& drawn, uint32_t frameNumber, uint32_t serial)
{
    const std::size_t bytes = drawn->samples * drawn->sampleBytes;
    if (drawn->cycle.empty()) {
        std::vector<uint8_t> whole(drawn->prefix.size() + bytes);
        std::copy(drawn->prefix.begin(), drawn->prefix.end(), whole.begin());
        const std::span<uint8_t> picture = std::span<uint8_t>(whole).subspan(drawn->prefix.size());
        FrameScene::drawBackground(drawn->grid, picture);
        FrameScene::drawDisc(frameNumber % FrameScene::kCycle, drawn->grid, picture);
        FrameScene::drawNumber(frameNumber, drawn->grid, picture);
        writeHeader(frameNumber, serial, drawn->samples, drawn->sampleBytes, picture.data());
        return FrameImage::owning(std::move(whole));
    }
    const std::vector<uint8_t>& picture = drawn->cycle[frameNumber % FrameScene::kCycle];
    auto band = std::make_shared<std::vector<uint8_t>>(picture.begin(), picture.begin() + drawn->bandBytes);
    FrameScene::drawNumber(frameNumber, drawn->grid, *band);
    writeHeader(frameNumber, serial, drawn->samples, drawn->sampleBytes, band->data());
    FrameImage image;
    image.keep_ = drawn;
    image.prefix_ = drawn->prefix;
    image.band_ = std::move(band);
    image.body_ = std::span<const uint8_t>(picture).subspan(drawn->bandBytes);
    return image;
}

FrameImage FrameDrawer::view(const std::shared_ptr<const Drawn>& drawn, uint32_t frameNumber, uint32_t serial)
{
    if (drawn->scene)
        return sceneView(drawn, frameNumber, serial);
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
    writeHeader(frameNumber, serial, drawn->samples, drawn->sampleBytes, image.head_.data());
    image.headSize_ = headSamples * drawn->sampleBytes;
    const std::size_t shift = (3 * std::size_t{frameNumber} % 256) * drawn->rowSamples;
    image.body_ =
        std::span<const uint8_t>(drawn->strip)
            .subspan((shift + headSamples) * drawn->sampleBytes, (drawn->samples - headSamples) * drawn->sampleBytes);
    return image;
}

} // namespace hxsim
