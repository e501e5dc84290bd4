// Network side of one stand-in camera: sockets, the receive loop and timed work.
#include "sim/net/camera.h"

#include <cmath>
#include <stdexcept>

#include <fmt/format.h>

#include "platform/errno_text.h"
#include "sim/net/sim_log.h"
#include "wire/control_packet.h"

namespace hxsim {
namespace {

constexpr std::size_t kReceiveBuffer = 65536;

} // namespace

Camera::Camera(const CameraConfig& config, Logger logger)
    : config_(config), logger_(prefixed(std::move(logger), dotted(config.address))),
      start_(std::chrono::steady_clock::now()), core_(config, logger_), faults_(config.faults, config.seed),
      socket_(config.address, false), buffer_(kReceiveBuffer)
{
    if (config.hearBroadcast) {
        broadcastSocket_.emplace(0, true); // the wildcard address
    }
    if (!wake_.valid()) {
        throw std::runtime_error("cannot open an eventfd: " + halvex::platform::errnoText(wake_.error()));
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
    return Endpoint{config_.address, halvex::wire::kControlPort};
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

void Camera::vanish(SimTime length)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const SimTime at = now();
        faults_.vanish(at, length);
        if (logger_) {
            logger_(fmt::format("vanished for {} ms",
                                std::chrono::duration_cast<std::chrono::milliseconds>(length).count()));
        }
        pump(at); // the streams fall silent with the camera
    }
    wake_.set();
}

void Camera::run(const std::stop_token& stop)
{
    // Named so that benchmarks can tell the camera's CPU time from the host's.
    nameCameraThread();
    while (!stop.stop_requested()) {
        const SimTime at = now();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            pump(at);
        }
        waitForWork(at);
        wake_.reset();
        drain(socket_, false);
        if (broadcastSocket_) {
            drain(*broadcastSocket_, true);
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
    std::optional<std::chrono::nanoseconds> limit;
    if (due != kNever) {
        const double wallNanos = std::max(0.0, std::ceil(static_cast<double>((due - at).count()) / config_.timeScale));
        limit = std::chrono::nanoseconds(static_cast<long long>(std::min(wallNanos, 3600e9)));
    }
    const int error = waitForDatagrams(wake_, socket_, broadcastSocket_ ? &*broadcastSocket_ : nullptr, limit);
    if (error != 0 && logger_) {
        logger_("poll failed: " + halvex::platform::errnoText(error));
    }
}

// Reads every datagram waiting on the port; the socket is non-blocking, so this ends when it is
// drained.
void Camera::drain(ControlPort& port, bool broadcast)
{
    for (;;) {
        const ControlPort::Received got = port.receive(buffer_);
        switch (got.kind) {
        case ControlPort::Received::Kind::Drained: return;
        case ControlPort::Received::Kind::Failed:
            if (logger_) {
                logger_("receive failed: " + halvex::platform::errnoText(got.error));
            }
            return;
        case ControlPort::Received::Kind::Oversized:
            if (logger_) {
                const std::string size = got.size > 0 ? fmt::format("{}-byte ", got.size) : std::string();
                logger_(fmt::format("dropped a {}datagram from {}: too large", size, toString(got.source)));
            }
            continue;
        case ControlPort::Received::Kind::Datagram: break;
        }
        bool fromBroadcast = broadcast;
        if (fromBroadcast) {
            if (!forUs(got.destination)) {
                continue; // unicast to an address no camera of ours owns
            }
            fromBroadcast = got.destination != config_.address;
        }
        receive({buffer_.data(), got.size}, got.source, fromBroadcast);
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
    const auto header = halvex::wire::decodeCommandHeader(datagram);
    std::vector<Outgoing> out;
    std::optional<uint16_t> refusal;
    if (header && !broadcast && header->command != halvex::wire::control_code::kDiscoveryCmd) {
        refusal = faults_.refusal(datagram);
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
    const int error = socket_.send(datagram.bytes, datagram.to);
    if (error != 0 && logger_) {
        logger_(fmt::format("send of {} bytes to {} failed: {}", datagram.bytes.size(), toString(datagram.to),
                            halvex::platform::errnoText(error)));
    }
}

} // namespace hxsim
