// Whether an image's leader follows the images before it: a corrupted file name can name another
// frame while the block id, which every packet of the image repeats, still holds together.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace halvex::stream {

// The camera numbers its images with block ids that step by one per image (wrapping past 0xFFFF
// to 1). A download sends its frames in order, one per block id, from the first of its range; live
// frame numbers only grow, by at least one per image. A leader that breaks this has a damaged
// field, and its image must not be reported whole. Playback frames may go round, so only live and
// download frames are checked.
//
// Threads: the owning receiver's thread only.
class LeaderSequence {
public:
    enum class Kind { Download, Live, Other };
    static constexpr uint32_t UNKNOWN_FRAME = 0xFFFFFFFF;

    // A fresh stream of `kind`: nothing is known of earlier images. A download's first and last
    // frames, when known, bound its frame numbers and name the frame that comes first.
    void restart(Kind kind, uint32_t firstFrame = UNKNOWN_FRAME, uint32_t lastFrame = UNKNOWN_FRAME);
    // Takes the next leader's block id and frame number; empty when they fit, else why not.
    std::string admit(uint16_t blockId, uint32_t frame);

private:
    struct Mark {
        uint16_t blockId;
        uint32_t frame;
    };
    bool follows(const Mark& before, const Mark& next) const;

    Kind kind_ = Kind::Other;
    uint32_t firstFrame_ = UNKNOWN_FRAME;
    uint32_t lastFrame_ = UNKNOWN_FRAME;
    // The last leader that fitted, and the last that did not: when the one that fitted was itself
    // damaged, the good leaders after it follow the one that did not, and are taken again.
    std::optional<Mark> fitted_;
    std::optional<Mark> refused_;
};

} // namespace halvex::stream
