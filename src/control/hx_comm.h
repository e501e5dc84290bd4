// A camera's control channel: one message thread per camera that carries register and memory
// requests to the camera and back, ages out the unanswered ones and forwards the camera's events;
// here the channel as its users see it, and the process-wide registry of channels.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "control/channel_sockets.h"
#include "control/channel_thread.h"
#include "control/control_datagrams.h"
#include "control/event_reader.h"
#include "control/hx_comm_messages.h"
#include "control/reader_wait.h"
#include "control/request_exchange.h"
#include "control/udp_socket.h"

namespace halvex::control {

class ExchangeFeed;

// The static operations are the C-edge calls the other layers make by camera address, from any
// thread but the channel's own; each finds or starts the camera's channel in the process-wide
// registry. A channel is a few parts, each one file pair: its sockets, the request exchange (the
// callers' side, whose header states the thread rules), the readers of control and event
// datagrams and the channel's message thread.
class HxComm {
public:
    // close() with this address closes every channel and refuses new ones.
    static constexpr uint32_t ALL_CAMERAS = 0xFFFFFFFF;
    static constexpr int32_t AGE_OUT_TICKS = RequestExchange::AGE_OUT_TICKS;
    static constexpr uint32_t AWAY_AGE_OUTS = RequestExchange::AWAY_AGE_OUTS;
    static constexpr uint32_t AGE_TICK_MICROSECONDS = RequestExchange::AGE_TICK_MICROSECONDS;

    // The camera's channel, created and started on first use. None once the channel has halted
    // or been closed, after close(ALL_CAMERAS), or when it could not start (no free ports).
    static std::shared_ptr<HxComm> factory(uint32_t cameraAddress);
    // Halts and joins the camera's channel (or every channel); later requests for the camera
    // return 6 until it is recycled.
    static void close(uint32_t cameraAddress);
    // Halts and forgets the camera's channel, so the next request starts a fresh one.
    static void recycle(uint32_t cameraAddress);
    // The camera is lost: pending requests fail at once and later ones return 6.
    static void setFault(uint32_t cameraAddress);
    static bool isKnown(uint32_t cameraAddress);
    // True when the camera has no channel or its channel is faulted.
    static bool isFaulted(uint32_t cameraAddress);

    // Register and memory operations, waiting for the camera's answer. Each returns 0, 6 when
    // the channel is halted or faulted, or the camera's status mapped to 7..13 (12 when the
    // camera did not answer in time).
    static uint32_t readReg(uint32_t cameraAddress, uint32_t regAddress, uint32_t& value);
    static uint32_t writeReg(uint32_t cameraAddress, uint32_t regAddress, uint32_t value);
    // Reads byteCount bytes (0 or more than one datagram carries: 536) into data.
    static uint32_t readMem(uint32_t cameraAddress, uint32_t startAddress, std::vector<uint8_t>& data,
                            std::size_t byteCount);
    // Writes at most 536 bytes of data; callers split larger transfers.
    static uint32_t writeMem(uint32_t cameraAddress, uint32_t startAddress, const std::vector<uint8_t>& data);
    // Fills the values of pairs in their order.
    static uint32_t readMultiReg(uint32_t cameraAddress, wire::RegisterPairs& pairs);
    static uint32_t writeMultiReg(uint32_t cameraAddress, const wire::RegisterPairs& pairs);
    // A write sent once (an action) whose caller waits only a few smoothed round trips (at least
    // BRIEF_WAIT_FLOOR) instead of the age-out: unanswered by then, it returns the age-out's result
    // while the request stays pending, so its late acknowledge is dropped. The caller learns from
    // the camera's state what happened. One pair goes out as a single-register write.
    static uint32_t writeBriefly(uint32_t cameraAddress, const wire::RegisterPairs& pairs);
    // Takes the event datagrams that wait on the camera's event socket now, so that a read sent
    // after this call is known later than every event that arrived before it, however late the
    // channel's thread gets to its socket. Nothing for a camera without a channel.
    static void catchUpEvents(uint32_t cameraAddress);

    // Where a camera is told to send its events: the channel's event port (0 without a channel)
    // and the local address (host order) that reaches the camera.
    static uint16_t hmpPort(uint32_t cameraAddress);
    static uint32_t localAddressToward(uint32_t cameraAddress);
    // Datagrams sent to the camera's control port so far (0 without a channel).
    static uint64_t activityCount(uint32_t cameraAddress);

    ~HxComm();
    HxComm(const HxComm&) = delete;
    HxComm& operator=(const HxComm&) = delete;

    uint32_t cameraAddress() const;
    const std::string& cameraName() const;
    ChannelPorts ports() const;
    bool faulted() const;
    // The stream socket, read only by the stream receiver; nullptr before the channel started.
    UdpSocket* streamSocket();
    uint64_t activityCount() const;
    // True while the channel has nothing to age out and ticks only once a second.
    bool quiet();

private:
    // Drives the pending table, acknowledges, events and age-out in-process, without sockets or
    // threads: the control channel's fuzz target.
    friend class ExchangeFeed;

    explicit HxComm(uint32_t cameraAddress);

    static std::shared_ptr<HxComm> startChannel(uint32_t cameraAddress);
    static void closeChannels(uint32_t cameraAddress, bool forget);
    static uint32_t exchange(const char* who, RequestMessage& request);

    const uint32_t cameraAddress_;
    const std::string cameraName_;
    std::atomic<bool> faulted_{false};
    ChannelSockets sockets_;
    ReaderWait reader_;
    RequestExchange exchange_;
    ControlDatagrams datagrams_;
    EventReader events_;
    ChannelThread thread_;
};

} // namespace halvex::control
