// Manual-reset event on a non-blocking eventfd: stays signalled until reset, and can be polled
// beside sockets.
#pragma once

#include "platform/unique_fd.h"

namespace HX_PLATFORM {

// Any thread may set it; reset and wait on it from the thread that owns the wait loop.
class EventFd {
 public:
  // Opens the eventfd; when that fails valid() is false and error() holds errno.
  EventFd();

  bool valid() const { return fd_.valid(); }
  int error() const { return error_; }
  int fd() const { return fd_.get(); }

  // Signals the event; true when it is signalled afterwards (errno kept in error() otherwise).
  bool set();
  // Clears the event; true when it is clear afterwards.
  bool reset();
  // Whether the event is signalled now, without waiting.
  bool isSet() const;

 private:
  UniqueFd fd_;
  int error_ = 0;
};

}  // namespace HX_PLATFORM
