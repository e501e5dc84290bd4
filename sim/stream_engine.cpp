// The streaming thread of a stand-in camera: from register writes to images on the wire.
#include "stream_engine.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <stdexcept>

#include <fmt/format.h>

#include "platform/errno_text.h"
#include "registers/register_map.h"
#include "tiff_frames.h"
#include "wire/stream_packet.h"

namespace hxsim {

using namespace HX_REGISTERS;
using SteadyClock = std::chrono::steady_clock;

namespace {

constexpr uint32_t kFireTestPacket = 1u << 31;
// The longest the thread sleeps without looking around.
constexpr std::chrono::nanoseconds kLongestWait = std::chrono::seconds(1);
// A UDP sender that fell behind catches up by at most this much at once.
constexpr std::chrono::microseconds kLongestBurst{1000};
// Sends per pass before the inbox gets a look again.
constexpr int kSendsPerPass = 256;

SimTime minGapFor(double timeScale) {
    const double nanos = std::chrono::duration<double, std::nano>(StreamEngine::kMinFrameGap).count() * timeScale;
    return SimTime(static_cast<SimTime::rep>(std::min(nanos, 1e15)));
}

}  // namespace

StreamEngine::StreamEngine(const CameraConfig& config, Logger logger, Clock clock)
    : config_(config),
      logger_(std::move(logger)),
      clock_(std::move(clock)),
      overTcp_(config.family() == CameraFamily::Morvane),
      rules_(config.sensor, false, overTcp_),
      schedule_(minGapFor(config.timeScale)),
      faults_(config.faults.stream, config.seed),
      udp_(config.address) {
    if (overTcp_) {
        tcp_ = std::make_unique<TcpStreamLink>(config.address);
    }
    if (!wake_.valid()) {
        throw std::runtime_error("cannot open an eventfd: " + HX_PLATFORM::errnoText(wake_.error()));
    }
    thread_ = std::jthread([this](const std::stop_token& stop) { run(stop); });
}

StreamEngine::~StreamEngine() { stop(); }

void StreamEngine::stop() {
    if (thread_.joinable()) {
        thread_.request_stop();
        wake_.set();
        thread_.join();
    }
}

void StreamEngine::log(const std::string& line) const {
    if (logger_) {
        logger_("stream: " + line);
    }
}

void StreamEngine::noteWrite(uint32_t address, uint32_t value) {
    if (address == GIGE_REG_STREAM_CONTROL || (address == GIGE_REG_SCPS0 && (value & kFireTestPacket) != 0)) {
        std::lock_guard<std::mutex> lock(mutex_);
        unsent_.emplace_back(address, value);
    }
}

void StreamEngine::sync(const CameraDevice& device, SimTime now, bool silent) {
    StreamSettings settings = readStreamSettings(device, rules_);
    settings.silent = silent;
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        wake = !unsent_.empty() || needsAttention(latest_, settings);
        if (!unsent_.empty()) {
            batches_.push_back(Batch{std::move(unsent_), settings, now});
            unsent_.clear();
        }
        latest_ = std::move(settings);
    }
    if (wake) {
        wake_.set();
    }
}

void StreamEngine::run(const std::stop_token& stop) {
    while (!stop.stop_requested()) {
        wake_.reset();
        takeInbox();
        serviceConnection();
        if (!current_ && !schedule_.paused()) {
            startNextImage(clock_());
        }
        if (current_ && !schedule_.paused()) {
            sendDue();
        }
        waitForWork();
    }
}

void StreamEngine::takeInbox() {
    std::vector<Batch> batches;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        batches.swap(batches_);
        settings_ = latest_;
    }
    for (const Batch& batch : batches) {
        apply(batch);
    }
    const StreamKind before = schedule_.kind();
    schedule_.follow(settings_, clock_());
    if (before != StreamKind::None && schedule_.kind() == StreamKind::None) {
        log("stopped by the camera");
    }
    if (current_ && !channelReady()) {
        abandonImage(settings_.silent ? "the camera fell silent" : "the stream channel was switched off");
    }
}

void StreamEngine::apply(const Batch& batch) {
    for (const auto& [address, value] : batch.writes) {
        if (address == GIGE_REG_SCPS0) {
            fireTestPacket(value, batch.settings);
        } else {
            streamControl(value, batch.settings, batch.at);
        }
    }
}

void StreamEngine::streamControl(uint32_t value, const StreamSettings& settings, SimTime at) {
    const std::string before = schedule_.describe();
    const uint64_t generation = schedule_.generation();
    schedule_.control(value, settings, at);
    // An image on its way is finished first (a TCP host would otherwise lose its footing); a
    // pause holds it where it is.
    if (schedule_.generation() != generation) {
        lostOnPath_ = 0;
    }
    if (schedule_.generation() != generation || schedule_.describe() != before) {
        log(schedule_.describe());
    }
}

// The camera answers a packet size trial with one datagram of exactly that size, unless the path
// to the host carries nothing that large.
void StreamEngine::fireTestPacket(uint32_t registerValue, const StreamSettings& settings) {
    const uint32_t size = registerValue & 0xFFFF;
    if (settings.destination.address == 0 || settings.destination.port == 0) {
        log(fmt::format("no test packet of {} bytes: the stream channel has no destination", size));
        return;
    }
    if (size > config_.maxStreamPacket || size < HX_WIRE::kIpUdpHeaderSize + HX_WIRE::kStreamHeaderSize) {
        log(fmt::format("test packet of {} bytes lost: the path carries {} to {} bytes", size,
                        HX_WIRE::kIpUdpHeaderSize + HX_WIRE::kStreamHeaderSize, config_.maxStreamPacket));
        return;
    }
    if (udp_.send(HX_WIRE::encodeTestPacket(size), settings.destination) != UdpStreamLink::SendResult::Sent) {
        log(fmt::format("test packet of {} bytes not sent: {}", size, HX_PLATFORM::errnoText(udp_.lastError())));
        return;
    }
    log(fmt::format("test packet of {} bytes sent to {}", size, toString(settings.destination)));
}

void StreamEngine::serviceConnection() {
    if (!tcp_) {
        return;
    }
    if (tcp_->acceptWaiting()) {
        log(fmt::format("host connected from {}", toString(tcp_->peer())));
        if (current_) {
            connectionLost("replaced by a new connection");
        }
        blocked_ = false;
    }
    if (tcp_->connected() && !tcp_->drainIncoming()) {
        connectionLost("closed by the host");
    }
}

// A channel with port 0 is switched off; TCP also needs a host connected.
bool StreamEngine::channelReady() const {
    if (settings_.silent || settings_.destination.port == 0) {
        return false;
    }
    return overTcp_ ? tcp_->connected() : settings_.destination.address != 0;
}

void StreamEngine::startNextImage(SimTime now) {
    if (!channelReady()) {
        return;
    }
    const std::optional<FrameOrder> order = schedule_.take(now);
    if (!order) {
        return;
    }
    const std::optional<StreamImage> image = render(*order, now);
    if (!image) {
        return;
    }
    Transmission transmission;
    transmission.order = *order;
    transmission.packets = packetize(*image);
    if (overTcp_) {
        std::size_t total = 0;
        for (const auto& piece : transmission.packets) {
            total += piece.size();
        }
        transmission.cutAt = faults_.cutPoint(total);
    }
    current_ = std::move(transmission);
    nextPacketAt_ = std::max(nextPacketAt_, SteadyClock::now() - kLongestBurst);
}

std::optional<StreamImage> StreamEngine::render(const FrameOrder& order, SimTime now) const {
    StreamImage image;
    image.sequence = order.frame;
    image.timestamp = static_cast<uint64_t>(now.count());
    if (order.kind == StreamKind::Live) {
        image.bytes.resize(settings_.liveGeometry.bytes);
        SyntheticImage::render(order.frame, 0, settings_.liveGeometry, image.bytes);
    } else if (settings_.recording) {
        const Recording& recording = *settings_.recording;
        if (order.kind == StreamKind::Download) {
            image.bytes = TiffFrame::encode(order.frame, recording.serial, recording.geometry);
        } else {
            image.bytes.resize(recording.geometry.bytes);
            SyntheticImage::render(order.frame, recording.serial, recording.geometry, image.bytes);
        }
    }
    if (image.bytes.empty() || image.bytes.size() > HX_WIRE::kMaxImageLength) {
        log(fmt::format("frame {} not sent: {} bytes is no image a host accepts", order.frame, image.bytes.size()));
        return std::nullopt;
    }
    return image;
}

// Packets larger than the path carries are lost on the way; the rest may meet the seeded faults.
Packets StreamEngine::packetize(const StreamImage& image) {
    blockId_ = nextBlockId(blockId_);
    if (overTcp_) {
        Packets pieces = tcpPieces(image, blockId_, HX_WIRE::payloadBytesPerPacket(kMaxPacketSize));
        faults_.apply(pieces);
        return pieces;
    }
    const uint32_t size = std::clamp(settings_.packetSize, kMinPacketSize, kMaxPacketSize);
    Packets packets = udpPackets(image, blockId_, size);
    const auto tooLarge = [this](const std::vector<uint8_t>& packet) {
        return packet.size() + HX_WIRE::kIpUdpHeaderSize > config_.maxStreamPacket;
    };
    const auto lost = static_cast<uint64_t>(std::count_if(packets.begin(), packets.end(), tooLarge));
    if (lost > 0 && lostOnPath_ == 0) {
        log(fmt::format("packets of {} bytes are lost: the path carries at most {}", size, config_.maxStreamPacket));
    }
    lostOnPath_ += lost;
    packets.erase(std::remove_if(packets.begin(), packets.end(), tooLarge), packets.end());
    faults_.apply(packets);
    return packets;
}

void StreamEngine::sendDue() {
    if (overTcp_) {
        sendTcp();
    } else {
        sendUdp();
    }
    if (current_ && current_->next >= current_->packets.size()) {
        imageSent();
    }
}

// One packet per delay on average; a sender that fell behind sends a short burst.
void StreamEngine::sendUdp() {
    const uint32_t delay = std::clamp(settings_.packetDelayMicros, kMinPacketDelayMicros, kMaxPacketDelayMicros);
    const auto gap = std::chrono::microseconds(delay);
    const auto now = SteadyClock::now();
    nextPacketAt_ = std::max(nextPacketAt_, now - kLongestBurst);
    blocked_ = false;
    for (int sends = 0; sends < kSendsPerPass && current_->next < current_->packets.size(); ++sends) {
        if (nextPacketAt_ > now) {
            return;
        }
        const auto result = udp_.send(current_->packets[current_->next], settings_.destination);
        if (result == UdpStreamLink::SendResult::Blocked) {
            blocked_ = true;
            return;
        }
        if (result == UdpStreamLink::SendResult::Failed && !current_->failed) {
            current_->failed = true;
            log(fmt::format("frame {}: send to {} failed: {}", current_->order.frame, toString(settings_.destination),
                            HX_PLATFORM::errnoText(udp_.lastError())));
        }
        ++current_->next;
        nextPacketAt_ += gap;
    }
}

// As much as the connection takes; a cut fault resets it part-way through the image.
void StreamEngine::sendTcp() {
    blocked_ = false;
    for (int sends = 0; sends < kSendsPerPass && current_->next < current_->packets.size(); ++sends) {
        Transmission& out = *current_;
        std::span<const uint8_t> piece(out.packets[out.next]);
        piece = piece.subspan(out.offset);
        if (out.cutAt) {
            if (*out.cutAt <= out.streamBytes) {
                tcp_->cut();
                connectionLost(fmt::format("cut after {} bytes of frame {} (injected)", out.streamBytes,
                                           out.order.frame).c_str());
                return;
            }
            piece = piece.first(std::min(piece.size(), *out.cutAt - out.streamBytes));
        }
        std::size_t sent = 0;
        const auto result = tcp_->send(piece, sent);
        if (result == TcpStreamLink::SendResult::Blocked) {
            blocked_ = true;
            return;
        }
        if (result == TcpStreamLink::SendResult::Broken) {
            connectionLost(fmt::format("lost: {}", HX_PLATFORM::errnoText(tcp_->lastError())).c_str());
            return;
        }
        out.offset += sent;
        out.streamBytes += sent;
        if (out.offset == out.packets[out.next].size()) {
            ++out.next;
            out.offset = 0;
        }
    }
}

void StreamEngine::imageSent() {
    const FrameOrder order = current_->order;
    current_.reset();
    if (order.kind == StreamKind::Download && schedule_.kind() == StreamKind::Download &&
        schedule_.nextDue() == kNever && !schedule_.paused()) {
        log(fmt::format("download finished with frame {}", order.frame));
    }
}

void StreamEngine::abandonImage(const char* why) {
    if (current_) {
        log(fmt::format("frame {} abandoned after {} of {} packets: {}", current_->order.frame, current_->next,
                        current_->packets.size(), why));
        current_.reset();
    }
}

// The image in progress is lost with the connection; a recorded frame goes again on the next one.
void StreamEngine::connectionLost(const char* what) {
    log(fmt::format("connection {}", what));
    if (current_) {
        schedule_.retry(current_->order);
        current_.reset();
    }
    blocked_ = false;
}

void StreamEngine::waitForWork() {
    pollfd fds[4] = {{wake_.fd(), POLLIN, 0}, {-1, 0, 0}, {-1, 0, 0}, {-1, 0, 0}};
    nfds_t count = 1;
    if (blocked_ && current_ && !overTcp_) {
        fds[count++] = {udp_.fd(), POLLOUT, 0};
    }
    if (tcp_) {
        fds[count++] = {tcp_->listenFd(), POLLIN, 0};
        if (tcp_->connected()) {
            const short events = static_cast<short>(POLLIN | (blocked_ && current_ ? POLLOUT : 0));
            fds[count++] = {tcp_->connectionFd(), events, 0};
        }
    }
    const std::optional<std::chrono::nanoseconds> wait = timeToWork();
    timespec limit{};
    const auto nanos = std::clamp(wait.value_or(kLongestWait), std::chrono::nanoseconds(0), kLongestWait).count();
    limit.tv_sec = static_cast<time_t>(nanos / 1000000000);
    limit.tv_nsec = static_cast<long>(nanos % 1000000000);
    if (::ppoll(fds, count, &limit, nullptr) < 0 && errno != EINTR) {
        log("poll failed: " + HX_PLATFORM::errnoText(errno));
    }
}

// How long until there is something to send: the next paced packet, or the next frame due.
std::optional<std::chrono::nanoseconds> StreamEngine::timeToWork() const {
    if (schedule_.paused()) {
        return std::nullopt;
    }
    if (current_) {
        if (blocked_) {
            return std::nullopt;
        }
        return overTcp_ ? std::chrono::nanoseconds(0) : nextPacketAt_ - SteadyClock::now();
    }
    const SimTime due = schedule_.nextDue();
    if (due == kNever || !channelReady()) {
        return std::nullopt;
    }
    const double wall = static_cast<double>((due - clock_()).count()) / config_.timeScale;
    return std::chrono::nanoseconds(static_cast<int64_t>(std::clamp(wall, 0.0, 1e12)));
}

}  // namespace hxsim
