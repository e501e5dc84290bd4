// A camera reduced to its discovery port, scripted by the test.
#include "scripted_camera.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace discovery_test {

ScriptedCamera::ScriptedCamera(const std::string& address, const std::string& name, const std::string& version) {
  identity.currentIp = inet_addr(address.c_str());
  identity.subnetMask = inet_addr("255.0.0.0");
  identity.manufacturerName = "halvex";
  identity.modelName = "qT-test";
  identity.deviceVersion = version;
  identity.manufacturerInfo = "scripted";
  identity.serialNumber = "S-" + address;
  identity.userDefinedName = name;
  respond_ = [this](uint16_t id) { return Datagrams{wellFormedReply(id)}; };

  fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  stopFd_ = eventfd(0, EFD_CLOEXEC);
  sockaddr_in self{};
  self.sin_family = AF_INET;
  self.sin_port = htons(3956);
  self.sin_addr.s_addr = identity.currentIp;
  if (fd_ < 0 || stopFd_ < 0 || bind(fd_, reinterpret_cast<const sockaddr*>(&self), sizeof self) != 0)
    throw std::runtime_error("scripted camera cannot bind " + address + ":3956");
  thread_ = std::thread([this] { serve(); });
}

ScriptedCamera::~ScriptedCamera() {
  const uint64_t one = 1;
  if (write(stopFd_, &one, sizeof one) < 0) std::terminate();
  thread_.join();
  close(fd_);
  close(stopFd_);
}

std::vector<uint8_t> ScriptedCamera::wellFormedReply(uint16_t requestId) const {
  HX_WIRE::DiscoveryAck reply = identity;
  reply.header.ackId = requestId;
  return HX_WIRE::encodeDiscoveryAck(reply);
}

void ScriptedCamera::script(std::function<Datagrams(uint16_t)> respond) {
  const std::lock_guard guard(lock_);
  respond_ = std::move(respond);
}

std::size_t ScriptedCamera::requests() const {
  const std::lock_guard guard(lock_);
  return arrivals_.size();
}

std::vector<std::chrono::steady_clock::time_point> ScriptedCamera::arrivals() const {
  const std::lock_guard guard(lock_);
  return arrivals_;
}

bool ScriptedCamera::waitForRequests(std::size_t count, std::chrono::milliseconds limit) const {
  std::unique_lock guard(lock_);
  return arrived_.wait_for(guard, limit, [&] { return arrivals_.size() >= count; });
}

void ScriptedCamera::serve() {
  pollfd fds[2] = {{fd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
  for (;;) {
    if (poll(fds, 2, -1) < 0) continue;
    if (fds[1].revents != 0) return;
    uint8_t buffer[64];
    sockaddr_in host{};
    socklen_t length = sizeof host;
    const ssize_t size = recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&host), &length);
    const std::optional<HX_WIRE::CommandHeader> request =
        size > 0 ? HX_WIRE::decodeDiscoveryCmd({buffer, static_cast<std::size_t>(size)}) : std::nullopt;
    if (!request) continue;
    {
      const std::lock_guard guard(lock_);
      arrivals_.push_back(std::chrono::steady_clock::now());
    }
    // Answer before announcing the arrival, so a test that saw the request also sees the reply sent.
    if (!muted_) answer(request->requestId, host);
    arrived_.notify_all();
  }
}

void ScriptedCamera::answer(uint16_t requestId, const sockaddr_in& host) {
  Datagrams datagrams;
  {
    const std::lock_guard guard(lock_);
    datagrams = respond_(requestId);
  }
  for (const std::vector<uint8_t>& datagram : datagrams)
    sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&host), sizeof host);
}

}  // namespace discovery_test
