// A camera reduced to its discovery port, scripted by the test: answers (or not) each request.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "wire/discovery_packet.h"

namespace discovery_test {

// Listens on ADDRESS:3956 (loopback addresses 127.x need no set-up) and answers each discovery
// request with what `respond` returns; by default one well-formed reply naming itself.
class ScriptedCamera {
 public:
  using Datagrams = std::vector<std::vector<uint8_t>>;

  ScriptedCamera(const std::string& address, const std::string& name, const std::string& version = "2.5.0");
  ~ScriptedCamera();
  ScriptedCamera(const ScriptedCamera&) = delete;
  ScriptedCamera& operator=(const ScriptedCamera&) = delete;

  // Fixed before the camera's thread starts. The reply a real camera with this identity would
  // send for `requestId`.
  HX_WIRE::DiscoveryAck identity;
  std::vector<uint8_t> wellFormedReply(uint16_t requestId) const;

  // Replaces what the camera sends back for each request.
  void script(std::function<Datagrams(uint16_t requestId)> respond);
  void setMuted(bool muted) { muted_ = muted; }

  // Requests seen so far, answered or not, and when each arrived.
  std::size_t requests() const;
  std::vector<std::chrono::steady_clock::time_point> arrivals() const;
  // Waits until at least `count` requests have arrived; false when the deadline passes first.
  bool waitForRequests(std::size_t count, std::chrono::milliseconds limit) const;

 private:
  void serve();
  void answer(uint16_t requestId, const sockaddr_in& host);

  int fd_ = -1;
  int stopFd_ = -1;
  std::atomic<bool> muted_{false};
  mutable std::mutex lock_;
  mutable std::condition_variable arrived_;
  std::function<Datagrams(uint16_t)> respond_;
  std::vector<std::chrono::steady_clock::time_point> arrivals_;
  std::thread thread_;
};

}  // namespace discovery_test
