// A write that starts or stops a camera's stream, confirmed by reading the camera's stream state
// when its acknowledge does not come.
#pragma once

#include <cstdint>
#include <string>

#include "control/register_channel.h"

namespace halvex::family {

// The control channel sends a stream start or stop once (the camera acts on it), so a lost request
// or a lost acknowledge both end as a time-out, and the caller cannot tell whether the camera is
// streaming. The write's answer is waited for a few round trips, not the age-out
// (RegisterChannel::writeBriefly); after such a failure the stream control register is read (a read is sent again while
// unanswered): if it holds the wanted mode, or a throttle's pause or resume of it, the write took
// effect and counts as done; if not, the camera is known not to have taken it, and it is sent once
// more, then judged the same way. A refusal the camera answered, or a channel that is down, is
// final. `writes` (one exchange) holds the stream control register's new mode, `wanted`.
//
// Threads: whatever the channel allows; holds no state of its own.
uint32_t writeStreamControlConfirmed(control::RegisterChannel& channel, const wire::RegisterPairs& writes,
                                     uint32_t wanted, const std::string& cameraName);

} // namespace halvex::family
