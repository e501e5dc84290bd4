// The streaming thread of a stand-in camera: from register writes to images on the wire.
#include "sim/stream/stream_engine.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include <fmt/format.h>

#include "platform/errno_text.h"
#include "sim/frames/tiff_frames.h"
#include "sim/registers/camera_registers.h"
#include "sim/stream/segment_runs.h"
#include "sim/stream/stream_wait.h"
#include "wire/stream_packet.h"

namespace hxsim {

using namespace halvex::sim;
using SteadyClock = std::chrono::steady_clock;

namespace {

constexpr uint32_t kFireTestPacket = 1u << 31;
// The longest the thread sleeps without looking around.
constexpr std::chrono::nanoseconds kLongestWait = std::chrono::seconds(1);
// A sender that fell behind catches up by at most this much at once.
constexpr std::chrono::microseconds kLongestBurst{1000};
// Packets due this soon go with the ones due now: waking for each of them would cost more than
// the evenness gains (a 9000-byte packet lasts 7.2 us at 10 Gbit/s).
constexpr std::chrono::microseconds kPacingLead{20};
// Datagrams handed to the system in one call, and per pass before the inbox gets a look again: a
// host's pause must take effect within a fraction of a frame, or its last buffers overflow.
constexpr std::size_t kDatagramsPerCall = 32;
constexpr std::size_t kDatagramsPerPass = 64;
// TCP: bytes handed to the system in one call, and calls per pass (for the same reason).
constexpr std::size_t kTcpBytesPerCall = std::size_t{256} << 10;
constexpr int kTcpCallsPerPass = 2;
constexpr std::size_t kTcpPartsPerCall = 512;

SimTime minGapFor(const CameraConfig& config)
{
    if (!config.liveFrameCap) {
        return SimTime{0};
    }
    const double nanos =
        std::chrono::duration<double, std::nano>(StreamEngine::kMinFrameGap).count() * config.timeScale;
    return SimTime(static_cast<SimTime::rep>(std::min(nanos, 1e15)));
}

} // namespace

StreamEngine::StreamEngine(const CameraConfig& config, Logger logger, Clock clock)
    : config_(config), logger_(std::move(logger)), clock_(std::move(clock)),
      overTcp_(config.family() == CameraFamily::Morvane), rules_(config.sensor, false, overTcp_),
      schedule_(minGapFor(config)), faults_(config.faults.stream, config.seed), udp_(config.address),
      drawer_(config.scene)
{
    if (overTcp_) {
        tcp_ = std::make_unique<TcpStreamLink>(config.address);
    }
    udp_.segment(config.udpSegmentation);
    if (!wake_.valid()) {
        throw std::runtime_error("cannot open an eventfd: " + halvex::platform::errnoText(wake_.error()));
    }
    thread_ = std::jthread([this](const std::stop_token& stop) { run(stop); });
}

StreamEngine::~StreamEngine()
{
    stop();
}

void StreamEngine::stop()
{
    if (thread_.joinable()) {
        thread_.request_stop();
        wake_.set();
        thread_.join();
    }
}

void StreamEngine::log(const std::string& line) const
{
    if (logger_) {
        logger_("stream: " + line);
    }
}

void StreamEngine::noteWrite(uint32_t address, uint32_t value)
{
    if (address == GIGE_REG_STREAM_CONTROL || (address == GIGE_REG_SCPS0 && (value & kFireTestPacket) != 0)) {
        std::lock_guard<std::mutex> lock(mutex_);
        unsent_.push_back({address, value});
    }
}

void StreamEngine::sync(const CameraDevice& device, SimTime now, bool silent)
{
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
        latest_ = settings;
    }
    if (wake) {
        wake_.set();
    }
}

void StreamEngine::run(const std::stop_token& stop)
{
    prepareStreamThread();
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

void StreamEngine::takeInbox()
{
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

void StreamEngine::apply(const Batch& batch)
{
    for (const auto& [address, value] : batch.writes) {
        if (address == GIGE_REG_SCPS0) {
            fireTestPacket(value, batch.settings);
        } else {
            streamControl(value, batch.settings, batch.at);
        }
    }
}

void StreamEngine::streamControl(uint32_t value, const StreamSettings& settings, SimTime at)
{
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
void StreamEngine::fireTestPacket(uint32_t registerValue, const StreamSettings& settings)
{
    const uint32_t size = registerValue & 0xFFFF;
    if (settings.destination.address == 0 || settings.destination.port == 0) {
        log(fmt::format("no test packet of {} bytes: the stream channel has no destination", size));
        return;
    }
    if (size > config_.maxStreamPacket || size < halvex::wire::kIpUdpHeaderSize + halvex::wire::kStreamHeaderSize) {
        log(fmt::format("test packet of {} bytes lost: the path carries {} to {} bytes", size,
                        halvex::wire::kIpUdpHeaderSize + halvex::wire::kStreamHeaderSize, config_.maxStreamPacket));
        return;
    }
    if (udp_.send(halvex::wire::encodeTestPacket(size), settings.destination) != UdpStreamLink::SendResult::Sent) {
        log(fmt::format("test packet of {} bytes not sent: {}", size, halvex::platform::errnoText(udp_.lastError())));
        return;
    }
    log(fmt::format("test packet of {} bytes sent to {}", size, toString(settings.destination)));
}

void StreamEngine::serviceConnection()
{
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
bool StreamEngine::channelReady() const
{
    if (settings_.silent || settings_.destination.port == 0) {
        return false;
    }
    return overTcp_ ? tcp_->connected() : settings_.destination.address != 0;
}

void StreamEngine::startNextImage(SimTime now)
{
    if (!channelReady()) {
        return;
    }
    const std::optional<FrameOrder> order = schedule_.take(now);
    if (!order) {
        return;
    }
    std::optional<FrameImage> image = render(*order);
    if (!image) {
        return;
    }
    Transmission transmission;
    transmission.order = *order;
    transmission.packets =
        packetize(ImageInfo{order->frame, static_cast<uint64_t>(now.count()), image->size()}, *image);
    transmission.image = std::move(*image);
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

std::optional<FrameImage> StreamEngine::render(const FrameOrder& order)
{
    FrameImage image;
    if (order.kind == StreamKind::Live) {
        image = drawer_.raw(order.frame, 0, settings_.liveGeometry);
    } else if (settings_.recording) {
        const Recording& recording = *settings_.recording;
        image = order.kind == StreamKind::Download ? drawer_.tiff(order.frame, recording.serial, recording.geometry)
                                                   : drawer_.raw(order.frame, recording.serial, recording.geometry);
    }
    if (image.size() == 0 || image.size() > halvex::wire::kMaxImageLength) {
        log(fmt::format("frame {} not sent: {} bytes is no image a host accepts", order.frame, image.size()));
        return std::nullopt;
    }
    return image;
}

// Packets larger than the path carries are lost on the way; the rest may meet the seeded faults,
// which work on copies of the packets (only a faulty stream pays for them).
PacketPlan StreamEngine::packetize(const ImageInfo& info, const FrameImage& image)
{
    blockId_ = nextBlockId(blockId_);
    PacketPlan plan;
    if (overTcp_) {
        plan = tcpPlan(info, blockId_, halvex::wire::payloadBytesPerPacket(kMaxPacketSize));
    } else {
        const uint32_t size = std::clamp(settings_.packetSize, kMinPacketSize, kMaxPacketSize);
        plan = udpPlan(info, blockId_, size);
        const auto tooLarge = [this](const PlannedPacket& packet) {
            return packet.size() + halvex::wire::kIpUdpHeaderSize > config_.maxStreamPacket;
        };
        const auto lost = static_cast<uint64_t>(std::count_if(plan.begin(), plan.end(), tooLarge));
        if (lost > 0 && lostOnPath_ == 0) {
            log(fmt::format("packets of {} bytes are lost: the path carries at most {}", size,
                            config_.maxStreamPacket));
        }
        lostOnPath_ += lost;
        plan.erase(std::remove_if(plan.begin(), plan.end(), tooLarge), plan.end());
    }
    if (!faults_.any()) {
        return plan;
    }
    Packets packets = materialize(plan, image);
    faults_.apply(packets);
    plan.clear();
    for (std::vector<uint8_t>& packet : packets) {
        plan.push_back({std::move(packet), 0, 0});
    }
    return plan;
}

void StreamEngine::sendDue()
{
    if (overTcp_) {
        sendTcp();
    } else {
        sendUdp();
    }
    if (current_ && current_->next >= current_->packets.size()) {
        imageSent();
    }
}

// How long a packet of `bytes` occupies the link, or the packet delay if that is longer.
std::chrono::nanoseconds StreamEngine::packetGap(std::size_t bytes) const
{
    const auto delay = std::chrono::microseconds(std::min(settings_.packetDelayMicros, kMaxPacketDelayMicros));
    return std::max<std::chrono::nanoseconds>(delay, onLink(bytes));
}

// How long a packet of `bytes` occupies the link; 0 on a link without a limit.
std::chrono::nanoseconds StreamEngine::onLink(std::size_t bytes) const
{
    if (config_.linkBitsPerSecond == 0) {
        return std::chrono::nanoseconds(0);
    }
    return std::chrono::nanoseconds(static_cast<int64_t>((bytes + halvex::wire::kIpUdpHeaderSize) * 8 *
                                                         1'000'000'000ull / config_.linkBitsPerSecond));
}

// Appends the pieces of `packet` from byte `skip`, at most `limit` bytes; `bytes` grows by them.
void StreamEngine::gather(const PlannedPacket& packet, std::size_t skip, std::size_t limit, std::size_t& bytes)
{
    const auto add = [&](const uint8_t* data, std::size_t size) {
        if (skip >= size) {
            skip -= size;
            return;
        }
        const std::size_t count = std::min(size - skip, limit);
        if (count > 0) {
            parts_.push_back(SendPiece{const_cast<uint8_t*>(data + skip), count});
            bytes += count;
            limit -= count;
        }
        skip = 0;
    };
    add(packet.head.data(), packet.head.size());
    std::size_t offset = packet.offset;
    std::size_t length = packet.length;
    for (std::span<const uint8_t> part : current_->image.parts()) {
        if (offset >= part.size()) {
            offset -= part.size();
            continue;
        }
        const std::size_t count = std::min(part.size() - offset, length);
        add(part.data() + offset, count);
        length -= count;
        offset = 0;
    }
}

// Each datagram is due one packet gap after the one before; the ones due (or nearly) go out
// together in one call. A sender that fell behind sends a burst of at most kLongestBurst. Sending
// segmented, the look-ahead is the time a whole segmented send takes on the link (the packet
// delay aside): a network card coalesces for its host about what arrives in that time.
void StreamEngine::sendUdp()
{
    const auto now = SteadyClock::now();
    const auto lead = udp_.segmenting() ? std::max<std::chrono::nanoseconds>(kPacingLead, onLink(kMaxSegmentedBytes))
                                        : std::chrono::nanoseconds(kPacingLead);
    nextPacketAt_ = std::max(nextPacketAt_, now - kLongestBurst);
    blocked_ = false;
    for (std::size_t passed = 0; passed < kDatagramsPerPass && current_->next < current_->packets.size();) {
        parts_.clear();
        partCounts_.clear();
        auto due = nextPacketAt_;
        std::vector<std::chrono::nanoseconds> gaps;
        for (std::size_t i = current_->next;
             i < current_->packets.size() && partCounts_.size() < kDatagramsPerCall && due <= now + lead; ++i) {
            const std::size_t before = parts_.size();
            std::size_t bytes = 0;
            gather(current_->packets[i], 0, SIZE_MAX, bytes);
            partCounts_.push_back(parts_.size() - before);
            gaps.push_back(packetGap(bytes));
            due += gaps.back();
        }
        if (partCounts_.empty()) {
            return;
        }
        std::size_t sent = 0;
        const auto result = udp_.sendMany(parts_, partCounts_, settings_.destination, sent);
        for (std::size_t i = 0; i < sent; ++i) {
            nextPacketAt_ += gaps[i];
        }
        current_->next += sent;
        passed += sent;
        if (result == UdpStreamLink::SendResult::Blocked) {
            blocked_ = true;
            return;
        }
        if (udp_.segmentationRefusal() != 0 && !segmentationRefusalSaid_) {
            segmentationRefusalSaid_ = true;
            log(fmt::format("segmented sends refused, sending datagram by datagram: {}",
                            halvex::platform::errnoText(udp_.segmentationRefusal())));
        }
        if (result == UdpStreamLink::SendResult::Failed && !current_->failed) {
            current_->failed = true;
            log(fmt::format("frame {}: send to {} failed: {}", current_->order.frame, toString(settings_.destination),
                            halvex::platform::errnoText(udp_.lastError())));
        }
    }
}

// Large writes of everything left of the image, paced to the line rate; a cut fault resets the
// connection part-way through the image.
void StreamEngine::sendTcp()
{
    blocked_ = false;
    for (int calls = 0; calls < kTcpCallsPerPass && current_->next < current_->packets.size(); ++calls) {
        Transmission& out = *current_;
        if (out.cutAt && *out.cutAt <= out.streamBytes) {
            tcp_->cut();
            connectionLost(
                fmt::format("cut after {} bytes of frame {} (injected)", out.streamBytes, out.order.frame).c_str());
            return;
        }
        const auto now = SteadyClock::now();
        nextPacketAt_ = std::max(nextPacketAt_, now - kLongestBurst);
        if (nextPacketAt_ > now + kPacingLead) {
            return;
        }
        std::size_t limit = kTcpBytesPerCall;
        if (out.cutAt) {
            limit = std::min(limit, *out.cutAt - out.streamBytes);
        }
        parts_.clear();
        std::size_t bytes = 0;
        for (std::size_t i = out.next; i < out.packets.size() && bytes < limit && parts_.size() < kTcpPartsPerCall;
             ++i) {
            gather(out.packets[i], i == out.next ? out.offset : 0, limit - bytes, bytes);
        }
        std::size_t sent = 0;
        const auto result = tcp_->send(std::span<const SendPiece>(parts_), sent);
        if (result == TcpStreamLink::SendResult::Blocked) {
            blocked_ = true;
            return;
        }
        if (result == TcpStreamLink::SendResult::Broken) {
            connectionLost(fmt::format("lost: {}", halvex::platform::errnoText(tcp_->lastError())).c_str());
            return;
        }
        if (config_.linkBitsPerSecond != 0) {
            nextPacketAt_ +=
                std::chrono::nanoseconds(static_cast<int64_t>(sent * 8 * 1'000'000'000ull / config_.linkBitsPerSecond));
        }
        out.streamBytes += sent;
        while (sent > 0 && out.next < out.packets.size()) {
            const std::size_t left = out.packets[out.next].size() - out.offset;
            const std::size_t taken = std::min(left, sent);
            out.offset += taken;
            sent -= taken;
            if (out.offset == out.packets[out.next].size()) {
                ++out.next;
                out.offset = 0;
            }
        }
        // Skips empty pieces at the end (a truncated image leaves none, but a plan may).
        while (out.next < out.packets.size() && out.packets[out.next].size() == 0) {
            ++out.next;
        }
    }
}

void StreamEngine::imageSent()
{
    const FrameOrder order = current_->order;
    if (config_.onImageSent) {
        config_.onImageSent(SentImage{config_.address, blockId_, order.frame});
    }
    current_.reset();
    if (config_.logFrames && (order.kind == StreamKind::Live || order.kind == StreamKind::Playback)) {
        log(fmt::format("{} frame {} sent", order.kind == StreamKind::Live ? "live" : "playback", order.frame));
    }
    if (order.kind == StreamKind::Download && schedule_.kind() == StreamKind::Download &&
        schedule_.nextDue() == kNever && !schedule_.paused()) {
        log(fmt::format("download finished with frame {}", order.frame));
    }
}

void StreamEngine::abandonImage(const char* why)
{
    if (current_) {
        log(fmt::format("frame {} abandoned after {} of {} packets: {}", current_->order.frame, current_->next,
                        current_->packets.size(), why));
        current_.reset();
    }
}

// The image in progress is lost with the connection; a recorded frame goes again on the next one.
void StreamEngine::connectionLost(const char* what)
{
    log(fmt::format("connection {}", what));
    if (current_) {
        schedule_.retry(current_->order);
        current_.reset();
    }
    blocked_ = false;
}

void StreamEngine::waitForWork()
{
    StreamWaitSet set;
    if (blocked_ && current_ && !overTcp_) {
        set.writableDatagrams = udp_.fd();
    }
    if (tcp_) {
        set.listener = tcp_->listenFd();
        if (tcp_->connected()) {
            set.connection = tcp_->connectionFd();
            set.connectionWritable = blocked_ && current_;
        }
    }
    const std::optional<std::chrono::nanoseconds> wait = timeToWork();
    const auto limit = std::clamp(wait.value_or(kLongestWait), std::chrono::nanoseconds(0), kLongestWait);
    if (const int error = waitForStreamWork(wake_, set, limit); error != 0) {
        log("poll failed: " + halvex::platform::errnoText(error));
    }
}

// How long until there is something to send: the next paced packet, or the next frame due.
std::optional<std::chrono::nanoseconds> StreamEngine::timeToWork() const
{
    if (schedule_.paused()) {
        return std::nullopt;
    }
    if (current_) {
        if (blocked_) {
            return std::nullopt;
        }
        return nextPacketAt_ - kPacingLead - SteadyClock::now();
    }
    const SimTime due = schedule_.nextDue();
    if (due == kNever || !channelReady()) {
        return std::nullopt;
    }
    const double wall = static_cast<double>((due - clock_()).count()) / config_.timeScale;
    return std::chrono::nanoseconds(static_cast<int64_t>(std::clamp(wall, 0.0, 1e12)));
}

} // namespace hxsim
