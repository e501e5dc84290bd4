// Synthetic frame content and the recording held in image memory.
#include "sim/frames/frame_store.h"

#include <algorithm>

namespace hxsim {
namespace {

constexpr uint64_t kHeaderBytes = 8;

uint8_t headerByte(uint32_t frameNumber, uint32_t serial, uint64_t position)
{
    const uint32_t word = position < 4 ? frameNumber : serial;
    return static_cast<uint8_t>(word >> (8 * (position % 4)));
}

uint8_t patternByte(uint32_t frameNumber, uint64_t rowBytes, uint64_t position)
{
    const uint64_t row = position / rowBytes;
    const uint64_t column = position % rowBytes;
    return static_cast<uint8_t>(column + row + 3 * uint64_t{frameNumber});
}

uint64_t rowBytesOf(const FrameGeometry& geometry)
{
    const uint64_t rows = std::max<uint64_t>(geometry.height, 1);
    return std::max<uint64_t>(geometry.bytes / rows, 1);
}

} // namespace

namespace SyntheticImage {

void renderPart(uint32_t frameNumber, uint32_t serial, const FrameGeometry& geometry, uint64_t offset,
                std::span<uint8_t> out)
{
    const uint64_t rowBytes = rowBytesOf(geometry);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const uint64_t position = offset + i;
        out[i] = position < kHeaderBytes ? headerByte(frameNumber, serial, position)
                                         : patternByte(frameNumber, rowBytes, position);
    }
}

void render(uint32_t frameNumber, uint32_t serial, const FrameGeometry& geometry, std::span<uint8_t> out)
{
    renderPart(frameNumber, serial, geometry, 0, out);
}

std::optional<uint32_t> frameNumberOf(std::span<const uint8_t> image)
{
    if (image.size() < 4) {
        return std::nullopt;
    }
    return uint32_t{image[0]} | uint32_t{image[1]} << 8 | uint32_t{image[2]} << 16 | uint32_t{image[3]} << 24;
}

bool matches(uint32_t frameNumber, uint32_t serial, const FrameGeometry& geometry, std::span<const uint8_t> image)
{
    if (image.size() != geometry.bytes) {
        return false;
    }
    std::vector<uint8_t> expected(image.size());
    render(frameNumber, serial, geometry, expected);
    return std::equal(expected.begin(), expected.end(), image.begin());
}

} // namespace SyntheticImage

std::vector<uint8_t> FrameStore::frame(uint32_t index) const
{
    if (!recording_ || index >= recording_->length) {
        return {};
    }
    std::vector<uint8_t> image(recording_->geometry.bytes);
    SyntheticImage::render(index, recording_->serial, recording_->geometry, image);
    return image;
}

bool FrameStore::readFrame(uint32_t index, uint64_t offset, std::span<uint8_t> out) const
{
    if (!recording_ || index >= recording_->length || offset > recording_->geometry.bytes ||
        out.size() > recording_->geometry.bytes - offset) {
        return false;
    }
    SyntheticImage::renderPart(index, recording_->serial, recording_->geometry, offset, out);
    return true;
}

} // namespace hxsim
