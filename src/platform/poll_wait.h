// Waits with a time limit on a set of descriptors (sockets and event fds) and tells which are
// readable, writable (a connect has completed) or closed.
#pragma once

#include <poll.h>

#include <chrono>
#include <cstddef>
#include <optional>
#include <vector>

namespace HX_PLATFORM {

struct PollEvents {
  bool readable = false;
  bool writable = false;
  bool closed = false;  // hung up, in error, or not an open descriptor
  bool any() const { return readable || writable || closed; }
};

enum class PollStatus { Ready, TimedOut, Failed };

// One wait loop's descriptors. Not shared between threads; reuse it across waits so a wait
// allocates nothing.
class PollSet {
 public:
  // Watches `fd` for reading, and for writing when asked; returns its index for events().
  std::size_t add(int fd, bool watchWrite = false);
  void watchWrite(std::size_t index, bool watch);
  std::size_t size() const { return entries_.size(); }

  // Waits until a descriptor is ready or `limit` has passed (no limit when nullopt). A signal
  // does not end the wait early: it goes on for the time that remains. On Failed, error()
  // holds errno.
  PollStatus wait(std::optional<std::chrono::milliseconds> limit);
  // What the last wait found for the descriptor at `index`.
  PollEvents events(std::size_t index) const;
  int error() const { return error_; }

 private:
  std::vector<pollfd> entries_;
  int error_ = 0;
};

}  // namespace HX_PLATFORM
