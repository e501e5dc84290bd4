// The streaming side of one stand-in camera: test packets, live, playback and download images
// over UDP (first family) or TCP (second family), paced, with seeded faults.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/event_fd.h"
#include "sim/device/camera_config.h"
#include "sim/device/camera_device.h"
#include "sim/faults/stream_fault_injector.h"
#include "sim/frames/frame_source.h"
#include "sim/stream/stream_packets.h"
#include "sim/stream/stream_schedule.h"
#include "sim/stream/stream_settings.h"
#include "sim/stream/stream_tcp.h"
#include "sim/stream/stream_udp.h"
#include "wire/register_pair.h"

namespace hxsim {

// Runs on a thread of its own, so a long download never holds up the camera's answers (a pause
// request must get through while images are on their way). The camera's thread tells it about
// register writes and hands it a copy of the settings after every request; it never touches the
// camera's registers itself.
//
// Threads: construction, stop() and destruction on the camera's owner; noteWrite() and sync()
// on the camera's thread (under the camera's lock, in request order); everything else on the
// engine's own thread.
class StreamEngine {
public:
    using Clock = std::function<SimTime()>;

    // The least real time between two live or playback frames, whatever the frame rate and time
    // scale ask: a bound on the load a stand-in camera puts on the machine (unless the camera's
    // configuration lifts it, for benchmarks).
    static constexpr std::chrono::milliseconds kMinFrameGap{20};
    // The packet delay register counts microseconds of real time between packets, beyond the
    // line rate; it is held below this. 0 sends as fast as the link.
    static constexpr uint32_t kMaxPacketDelayMicros = 100000;
    // Stream packet sizes the camera uses, whatever the packet size register holds.
    static constexpr uint32_t kMinPacketSize = 576;
    static constexpr uint32_t kMaxPacketSize = 9000;

    // Opens the UDP stream socket (and, for the second family, the TCP listener on port 3957)
    // and starts the thread; throws std::runtime_error when a socket cannot be had.
    StreamEngine(const CameraConfig& config, Logger logger, Clock clock);
    ~StreamEngine();
    StreamEngine(const StreamEngine&) = delete;
    StreamEngine& operator=(const StreamEngine&) = delete;

    // A host's register write that the camera accepted.
    void noteWrite(uint32_t address, uint32_t value);
    // The state after a request (or a change of the camera's own) at camera time `now`; a
    // silent camera (mute, or vanished) streams nothing.
    void sync(const CameraDevice& device, SimTime now, bool silent);
    void stop();

    // The local port stream datagrams come from.
    uint16_t udpPort() const { return udp_.port(); }

private:
    struct Batch {
        halvex::wire::RegisterPairs writes;
        StreamSettings settings;
        SimTime at;
    };
    // One image on its way out.
    struct Transmission {
        FrameOrder order;
        FrameImage image;
        PacketPlan packets;
        std::size_t next = 0;        // packet to send next
        std::size_t offset = 0;      // TCP: bytes of that packet already sent
        std::size_t streamBytes = 0; // TCP: bytes sent of the whole image
        std::optional<std::size_t> cutAt;
        bool failed = false; // a send failed (said once per image)
    };

    void run(const std::stop_token& stop);
    void takeInbox();
    void apply(const Batch& batch);
    void streamControl(uint32_t value, const StreamSettings& settings, SimTime at);
    void fireTestPacket(uint32_t registerValue, const StreamSettings& settings);
    void serviceConnection();
    bool channelReady() const;
    void startNextImage(SimTime now);
    std::optional<FrameImage> render(const FrameOrder& order);
    PacketPlan packetize(const ImageInfo& info, const FrameImage& image);
    void gather(const PlannedPacket& packet, std::size_t skip, std::size_t limit, std::size_t& bytes);
    std::chrono::nanoseconds packetGap(std::size_t bytes) const;
    std::chrono::nanoseconds onLink(std::size_t bytes) const;
    void sendDue();
    void sendUdp();
    void sendTcp();
    void imageSent();
    void abandonImage(const char* why);
    void connectionLost(const char* what);
    void waitForWork();
    std::optional<std::chrono::nanoseconds> timeToWork() const;
    void log(const std::string& line) const;

    const CameraConfig config_;
    const Logger logger_;
    const Clock clock_;
    const bool overTcp_;
    const CaptureRules rules_;

    std::mutex mutex_; // guards the inbox: unsent_, batches_, latest_
    halvex::wire::RegisterPairs unsent_;
    std::vector<Batch> batches_;
    StreamSettings latest_;
    halvex::platform::EventFd wake_;

    // The engine thread's own.
    StreamSettings settings_;
    StreamSchedule schedule_;
    StreamFaultInjector faults_;
    UdpStreamLink udp_;
    std::unique_ptr<TcpStreamLink> tcp_;
    std::optional<Transmission> current_;
    uint16_t blockId_ = 0;
    bool blocked_ = false; // the socket took no more; wait until it is writable
    std::chrono::steady_clock::time_point nextPacketAt_;
    FrameDrawer drawer_;
    std::vector<SendPiece> parts_; // reused for each batch of sends
    std::vector<std::size_t> partCounts_;
    uint64_t lostOnPath_ = 0;
    bool segmentationRefusalSaid_ = false;
    std::jthread thread_;
};

} // namespace hxsim
