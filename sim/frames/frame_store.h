// The camera's image memory: the recording it holds and the synthetic images of its frames.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace hxsim {

struct FrameGeometry {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t pixelFormat = 16;
    uint64_t bytes = 0; // one frame in camera memory
};

// One finished recording: `length` frames numbered 0 .. length-1, the first `triggerFrame` of
// them recorded before the trigger.
struct Recording {
    uint32_t serial = 0; // counts recordings since power-on, from 1
    uint32_t length = 0;
    uint32_t triggerFrame = 0;
    uint32_t frameRate = 0;
    FrameGeometry geometry;
};

// Image content. Every frame is `geometry.bytes` long and laid out as rows of bytes/height:
//   bytes 0-3  the frame number, little-endian
//   bytes 4-7  the recording serial, little-endian (0 for live images)
//   byte  i    (column + row + 3 * frame number) mod 256 for every later byte, a diagonal
//              pattern that moves three bytes per frame
// so a receiver can tell which frame it got from the first word and check the rest.
namespace SyntheticImage {
void render(uint32_t frameNumber, uint32_t serial, const FrameGeometry& geometry, std::span<uint8_t> out);
// Renders only bytes [offset, offset + out.size()) of the frame, for packet-sized pieces.
void renderPart(uint32_t frameNumber, uint32_t serial, const FrameGeometry& geometry, uint64_t offset,
                std::span<uint8_t> out);
// The frame number in an image's first word; nothing when fewer than four bytes.
std::optional<uint32_t> frameNumberOf(std::span<const uint8_t> image);
// True when the whole image is exactly the frame's content.
bool matches(uint32_t frameNumber, uint32_t serial, const FrameGeometry& geometry, std::span<const uint8_t> image);
} // namespace SyntheticImage

// Holds the camera's one recording. Frames are rendered on demand, so a recording of any
// length costs no memory; a streaming component reads frame N with frame() or readFrame().
class FrameStore {
public:
    void store(const Recording& recording) { recording_ = recording; }
    void clear() { recording_.reset(); }
    const std::optional<Recording>& recording() const { return recording_; }

    // Frame `index` of the recording; empty when there is none or the index is out of range.
    std::vector<uint8_t> frame(uint32_t index) const;
    // Part of frame `index` from byte `offset`; false when out of range.
    bool readFrame(uint32_t index, uint64_t offset, std::span<uint8_t> out) const;

private:
    std::optional<Recording> recording_;
};

} // namespace hxsim
