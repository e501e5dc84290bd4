// Network side of one stand-in camera: sockets, the receive loop and timed work.
#include "sim/net/camera.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include <fmt/format.h>

#include "platform/errno_text.h"
#include "sim/net/sim_log.h"
#include "wire/control_packet.h"

namespace hxsim {
namespace {

constexpr std::size_t kReceiveBuffer = 65536;

HX_PLATFORM::UniqueFd bindUdp(uint32_t hostOrderAddress, bool wantPacketInfo)
{
    HX_PLATFORM::UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    const auto fail = [&](const char* what) {
        const int err = errno;
        return std::runtime_error(fmt::format("cannot {} {}:{}: {}", what, dotted(hostOrderAddress),
                                              HX_WIRE::kControlPort, HX_PLATFORM::errnoText(err)));
    };
    if (!fd) {
        throw fail("open a socket for");
    }
    const int on = 1;
    // Every camera of a cluster shares port 3956: the own-address sockets beside the wildcard ones.
    if (::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEPORT, &on, sizeof on) != 0 ||
        (wantPacketInfo && ::setsockopt(fd.get(), IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0)) {
        throw fail("set socket options for");
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(HX_WIRE::kControlPort);
    address.sin_addr.s_addr = htonl(hostOrderAddress);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        throw fail("bind");
    }
    return fd;
}

// The destination address of a datagram received with IP_PKTINFO, or 0 when it is missing.
uint32_t destinationOf(msghdr& message)
{
    for (cmsghdr* item = CMSG_FIRSTHDR(&message); item != nullptr; item = CMSG_NXTHDR(&message, item)) {
        if (item->cmsg_level == IPPROTO_IP && item->cmsg_type == IP_PKTINFO) {
            in_pktinfo info{};
            std::memcpy(&info, CMSG_DATA(item), sizeof info);
            return ntohl(info.ipi_addr.s_addr);
        }
    }
    return 0;
}

} // namespace

Camera::Camera(const CameraConfig& config, Logger logger)
    : config_(config), logger_(prefixed(std::move(logger), dotted(config.address))),
      start_(std::chrono::steady_clock::now()), core_(config, logger_), faults_(config.faults, config.seed),
      socket_(bindUdp(config.address, false)), buffer_(kReceiveBuffer)
{
    if (config.hearBroadcast) {
        broadcastSocket_ = bindUdp(INADDR_ANY, true);
    }
    if (!wake_.valid()) {
        throw std::runtime_error("cannot open an eventfd: " + HX_PLATFORM::errnoText(wake_.error()));
    }
    streams_ = std::make_unique<StreamEngine>(config_, logger_, [this] { return now(); });
    core_.device().observeWrites([this](uint32_t address, uint32_t value) { streams_->noteWrite(address, value); });
    if (logger_) {
        logger_(fmt::format("up: '{}' {} sensor {}, {} MiB, firmware {}, name '{}'{}", config.model,
                            halvex::sim::familyName(config.family()), config.sensor.describe(),
                            config.memoryBytes >> 20, config.deviceVersion(), config.userName,
                            config.hearBroadcast ? ", hears broadcast discovery" : ""));
    }
    thread_ = std::jthread([this](const std::stop_token& stop) { run(stop); });
}

Camera::~Camera()
{
    stop();
}

void Camera::stop()
{
    if (thread_.joinable()) {
        thread_.request_stop();
        wake_.set();
        thread_.join();
    }
    if (streams_) {
        streams_->stop();
    }
}

Endpoint Camera::endpoint() const
{
    return Endpoint{config_.address, HX_WIRE::kControlPort};
}

SimTime Camera::now() const
{
    const auto elapsed = std::chrono::steady_clock::now() - start_;
    const double scaled = static_cast<double>(std::chrono::nanoseconds(elapsed).count()) * config_.timeScale;
    return SimTime(static_cast<SimTime::rep>(scaled));
}

void Camera::withCore(const std::function<void(CameraCore& core, SimTime now)>& action)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const SimTime at = now();
        action(core_, at);
        pump(at);
    }
    wake_.set(); // the action may have moved the next deadline
}

void Camera::run(const std::stop_token& stop)
{
    // Named so that benchmarks can tell the camera's CPU time from the host's.
    ::pthread_setname_np(::pthread_self(), "hxsim-camera");
    while (!stop.stop_requested()) {
        const SimTime at = now();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            pump(at);
        }
        waitForWork(at);
        wake_.reset();
        drain(socket_.get(), false);
        if (broadcastSocket_) {
            drain(broadcastSocket_.get(), true);
        }
    }
}

// Sleeps until a socket or the wake event is readable, or until the next thing due.
void Camera::waitForWork(SimTime at)
{
    SimTime due = kNever;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        due = std::min(core_.nextDeadline(), faults_.nextDue());
    }
    timespec limit{};
    timespec* limitPointer = nullptr;
    if (due != kNever) {
        const double wallNanos = std::max(0.0, std::ceil(static_cast<double>((due - at).count()) / config_.timeScale));
        const auto nanos = static_cast<long long>(std::min(wallNanos, 3600e9));
        limit.tv_sec = static_cast<time_t>(nanos / 1000000000);
        limit.tv_nsec = static_cast<long>(nanos % 1000000000);
        limitPointer = &limit;
    }
    pollfd fds[3] = {{wake_.fd(), POLLIN, 0}, {socket_.get(), POLLIN, 0}, {broadcastSocket_.get(), POLLIN, 0}};
    const nfds_t count = broadcastSocket_ ? 3 : 2;
    if (::ppoll(fds, count, limitPointer, nullptr) < 0 && errno != EINTR && logger_) {
        logger_("poll failed: " + HX_PLATFORM::errnoText(errno));
    }
}

// Reads every datagram waiting on `fd`; the socket is non-blocking, so this ends at EAGAIN.
void Camera::drain(int fd, bool broadcast)
{
    for (;;) {
        sockaddr_in from{};
        iovec part{buffer_.data(), buffer_.size()};
        alignas(cmsghdr) char control[128];
        msghdr message{};
        message.msg_name = &from;
        message.msg_namelen = sizeof from;
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t size = ::recvmsg(fd, &message, MSG_DONTWAIT | MSG_TRUNC);
        if (size < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK && logger_) {
                logger_("receive failed: " + HX_PLATFORM::errnoText(errno));
            }
            return;
        }
        const Endpoint source{ntohl(from.sin_addr.s_addr), ntohs(from.sin_port)};
        if (static_cast<std::size_t>(size) > buffer_.size()) {
            if (logger_) {
                logger_(fmt::format("dropped a {}-byte datagram from {}: too large", size, toString(source)));
            }
            continue;
        }
        if (broadcast) {
            const uint32_t destination = destinationOf(message);
            if (!forUs(destination)) {
                continue; // unicast to an address no camera of ours owns
            }
            broadcast = destination != config_.address;
        }
        receive({buffer_.data(), static_cast<std::size_t>(size)}, source, broadcast);
    }
}

bool Camera::forUs(uint32_t destination) const
{
    return destination == config_.address || destination == config_.broadcastAddress() || destination == 0xFFFFFFFF;
}

void Camera::receive(std::span<const uint8_t> datagram, Endpoint from, bool broadcast)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const SimTime at = now();
    if (faults_.silent(at)) {
        return;
    }
    const auto header = HX_WIRE::decodeCommandHeader(datagram);
    std::vector<Outgoing> out;
    std::optional<uint16_t> refusal;
    if (header && !broadcast && header->command != HX_WIRE::ControlCode::kDiscoveryCmd) {
        refusal = faults_.refusal();
    }
    out = refusal ? core_.refuse(datagram, from, *refusal) : core_.handle(datagram, from, at, broadcast);
    for (Outgoing& item : out) {
        faults_.submit(std::move(item), at);
    }
    pump(at);
}

// Collects what the camera does on its own by `at` and sends every datagram that is due.
void Camera::pump(SimTime at)
{
    for (Outgoing& item : core_.advance(at)) {
        faults_.submit(std::move(item), at);
    }
    for (const Outgoing& item : faults_.due(at)) {
        if (!faults_.silent(at)) {
            send(item);
        }
    }
    streams_->sync(core_.device(), at, faults_.silent(at));
}

void Camera::send(const Outgoing& datagram)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(datagram.to.port);
    to.sin_addr.s_addr = htonl(datagram.to.address);
    const ssize_t sent = ::sendto(socket_.get(), datagram.bytes.data(), datagram.bytes.size(), MSG_DONTWAIT,
                                  reinterpret_cast<const sockaddr*>(&to), sizeof to);
    if (sent < 0 && logger_) {
        logger_(fmt::format("send of {} bytes to {} failed: {}", datagram.bytes.size(), toString(datagram.to),
                            HX_PLATFORM::errnoText(errno)));
    }
}

} // namespace hxsim
