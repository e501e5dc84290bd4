// The streaming thread's wait and set-up, the parts of it that differ between systems
// (stream_wait_posix.cpp: ppoll with nanosecond limits; stream_wait_windows.cpp: the library's
// PollSet, in whole milliseconds).
#pragma once

#include <chrono>

#include "platform/event_fd.h"
#include "platform/unique_fd.h"

namespace hxsim {

// What the streaming thread waits for; a descriptor of NO_DESCRIPTOR is left out.
struct StreamWaitSet {
    halvex::platform::Descriptor writableDatagrams = halvex::platform::NO_DESCRIPTOR; // a blocked UDP send
    halvex::platform::Descriptor listener = halvex::platform::NO_DESCRIPTOR;          // a host connecting
    halvex::platform::Descriptor connection = halvex::platform::NO_DESCRIPTOR;        // a host's bytes or its close
    bool connectionWritable = false;                                                  // and room to send on it
};

// Waits until `wake` is set, something of `set` is ready, or `limit` has passed; 0, or the
// system's error code when the wait failed.
int waitForStreamWork(const halvex::platform::EventFd& wake, const StreamWaitSet& set, std::chrono::nanoseconds limit);

// Readies the calling thread for paced sending: short sleeps kept short where the system lets
// them be, and a name benchmarks can tell apart from the host's threads.
void prepareStreamThread();

} // namespace hxsim
