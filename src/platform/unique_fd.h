// Sole owner of a POSIX file descriptor: closes it exactly once.
#pragma once

namespace HX_PLATFORM {

// Move-only. A default-constructed or moved-from owner holds -1 and closes nothing.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd();
  UniqueFd(UniqueFd&& other) noexcept;
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  explicit operator bool() const { return valid(); }
  // Gives up ownership without closing.
  int release();
  // Closes the current descriptor, if any, and owns `fd` instead.
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

}  // namespace HX_PLATFORM
