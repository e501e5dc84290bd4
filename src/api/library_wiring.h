// Library wiring: connects the layers that cannot name each other, once, before the first call does work.
#pragma once

namespace halvex::api::frame {

// Installs what the lower layers are given from above: the camera families that the operations
// registry builds from, and the events that discovery reports cameras coming and going to.
// Idempotent and cheap after the first call. Threads: any.
void connectComponents();

} // namespace halvex::api::frame
