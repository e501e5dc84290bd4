// Whether an image's leader follows the images before it.
#include "stream/leader_sequence.h"

#include "hlv_thread/format.h"
#include "wire/stream_packet.h"

namespace halvex::stream {

using thread::fmtToString;

void LeaderSequence::restart(Kind kind, uint32_t firstFrame, uint32_t lastFrame)
{
    kind_ = kind;
    firstFrame_ = kind == Kind::Download ? firstFrame : UNKNOWN_FRAME;
    lastFrame_ = kind == Kind::Download ? lastFrame : UNKNOWN_FRAME;
    fitted_.reset();
    refused_.reset();
}

std::string LeaderSequence::admit(uint16_t blockId, uint32_t frame)
{
    const Mark mark{blockId, frame};
    if ((firstFrame_ != UNKNOWN_FRAME && frame < firstFrame_) || (lastFrame_ != UNKNOWN_FRAME && frame > lastFrame_))
        return fmtToString("frame %u is outside the download's frames %u to %u", frame, firstFrame_, lastFrame_);
    const bool fitsBefore = fitted_ ? follows(*fitted_, mark) : firstFrame_ == UNKNOWN_FRAME || frame == firstFrame_;
    const bool fits = fitsBefore || (refused_ && follows(*refused_, mark));
    const std::optional<Mark> before = fitted_;
    if (!fits) {
        refused_ = mark;
        if (!before)
            return fmtToString("frame %u is not the download's first, %u", frame, firstFrame_);
        return fmtToString("frame %u (block id %u) does not follow frame %u (block id %u)", frame, blockId,
                           before->frame, before->blockId);
    }
    fitted_ = mark;
    refused_.reset();
    return {};
}

bool LeaderSequence::follows(const Mark& before, const Mark& next) const
{
    const uint64_t steps = wire::blockIdSteps(before.blockId, next.blockId);
    switch (kind_) {
    case Kind::Download: return uint64_t{before.frame} + steps == next.frame;
    case Kind::Live: return uint64_t{before.frame} + steps <= next.frame;
    case Kind::Other: break;
    }
    return true;
}

} // namespace halvex::stream
