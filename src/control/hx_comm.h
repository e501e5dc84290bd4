// A camera's control channel: one message thread per camera that carries register and memory
// requests to the camera and back, ages out the unanswered ones and forwards the camera's events.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "control/hx_comm_messages.h"
#include "control/udp_socket.h"
#include "hlv_thread/msg_thread.h"

namespace HX_COMM {
class ExchangeFeed;
} // namespace HX_COMM
namespace HX_PLATFORM {
class EventFd;
class PollSet;
} // namespace HX_PLATFORM

// Threads: the static operations may be called from any thread but the channel's own. A caller
// sends its command itself and, while no other caller is doing so, reads the control socket for
// the answers (its own and any other caller's), so a round trip costs no hand-off between
// threads; the other callers wait on the exchange lock's condition. The channel's thread serves
// halts, purges, age-out ticks, event datagrams, and control datagrams that arrive while no
// caller is reading; a caller about to stamp a read takes the waiting event datagrams itself
// (catchUpEvents). It ticks (its wait's time limit) every period while something may need it:
// a request pending, an answer overdue, or a request since the last tick (whose strays the tick
// reads); otherwise once a second, and the next request wakes it. The exchange lock
// guards the pending table, the request id, the reading role, the tick bookkeeping and every
// pending request; the control socket is written only under it.
class HxComm : private HLV_THREAD::MsgThread, private HX_COMM::RequestChannel {
public:
    // close() with this address closes every channel and refuses new ones.
    static constexpr uint32_t ALL_CAMERAS = 0xFFFFFFFF;
    // A request unanswered for this many age ticks fails as busy (5 s at the 100 ms period).
    static constexpr int32_t AGE_OUT_TICKS = 50;
    // A camera counts as having been away once this many requests in a row aged out. One lost
    // acknowledge on a lossy link is no absence: taking it for one sets the camera up again,
    // whose requests lose acknowledges of their own, and at 20 % loss the camera's service did
    // nothing else while the host's calls waited behind it.
    static constexpr uint32_t AWAY_AGE_OUTS = 3;
    static constexpr uint32_t AGE_TICK_MICROSECONDS = 100000;

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
    static uint32_t readMultiReg(uint32_t cameraAddress, HX_WIRE::RegisterPairs& pairs);
    static uint32_t writeMultiReg(uint32_t cameraAddress, const HX_WIRE::RegisterPairs& pairs);
    // A write sent once (an action) whose caller waits only a few smoothed round trips (at least
    // BRIEF_WAIT_FLOOR) instead of the age-out: unanswered by then, it returns the age-out's result
    // while the request stays pending, so its late acknowledge is dropped. The caller learns from
    // the camera's state what happened. One pair goes out as a single-register write.
    static uint32_t writeBriefly(uint32_t cameraAddress, const HX_WIRE::RegisterPairs& pairs);
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

    ~HxComm() override;

    uint32_t cameraAddress() const;
    const std::string& cameraName() const override;
    ChannelPorts ports() const;
    bool faulted() const;
    // The stream socket, read only by the stream receiver; nullptr before the channel started.
    UDPSocket* streamSocket();
    uint64_t activityCount() const;
    // True while the channel has nothing to age out and ticks only once a second.
    bool quiet();

private:
    // Drives the pending table, acknowledges, events and age-out in-process, without sockets or
    // threads: the control channel's fuzz target.
    friend class HX_COMM::ExchangeFeed;

    // What a caller reading the control socket found in one wait.
    enum class ControlTraffic { Readable, Quiet, Failed };
    using Clock = std::chrono::steady_clock;
    struct Pending {
        HX_COMM::RequestMessage* request;
        int32_t age;
        // The command as sent, kept while the request may go out again; empty for a request sent
        // once (repeat_rule.h).
        std::vector<uint8_t> datagram{};
        Clock::time_point sentAt{};
        Clock::time_point resendAt = Clock::time_point::max();
        std::chrono::microseconds interval{};
        uint32_t sends = 1;
    };
    using Message = HLV_THREAD::Message;
    using ExchangeLock = std::unique_lock<std::mutex>;
    // How long a reader waits for traffic before looking at its request again, and how long a
    // reader whose wait failed leaves the socket to the channel's thread: one age-out tick, so
    // a lost wake-up costs no more than the age-out's own granularity.
    static constexpr std::chrono::milliseconds READER_PAUSE{AGE_TICK_MICROSECONDS / 1000};
    // Datagrams taken from one socket in one pass; the rest wait for the next pass, so a
    // flooding peer can neither starve the message queue nor hold a reading caller for ever.
    static constexpr int MAX_DATAGRAMS_PER_PASS = 256;
    // A repeatable request unanswered after four smoothed round trips (never less than this) goes
    // out again, and again after twice the interval each time, up to the age-out. The floor keeps
    // a clean link from repeating what a busy host or camera answers a little late.
    static constexpr std::chrono::milliseconds MIN_RESEND_INTERVAL{20};
    static constexpr int RESEND_RTT_FACTOR = 4;
    // A brief wait lasts twice the first repeat interval, never less than this.
    static constexpr std::chrono::milliseconds BRIEF_WAIT_FLOOR{50};

    explicit HxComm(uint32_t cameraAddress);

    // Registry (hx_comm.cpp).
    static std::shared_ptr<HxComm> startChannel(uint32_t cameraAddress);
    static void closeChannels(uint32_t cameraAddress, bool forget);
    bool closeOnce();
    static uint32_t exchange(const char* who, HX_COMM::RequestMessage& request);
    static uint32_t writeExchange(const char* who, HX_COMM::RequestMessage& request, const char* what,
                                  uint32_t address);
    static uint32_t failureResult(const HX_COMM::RequestMessage& request);

    // Opening, thread body and message dispatch (hx_comm_engine.cpp).
    bool open();
    void run() override;
    void messageHandle(Message* message) override;
    void ownerMessage(Message* message) override;
    std::string messageName(uint32_t id) const override;
    void endChannel();
    bool loopFinished();
    void dispatch(Message* message);
    void handleHalt(Message* message);
    void replyFailed(Message* message);

    // Requests, on the caller's thread (hx_comm_requests.cpp).
    void transact(HX_COMM::RequestMessage& request);
    bool admit(HX_COMM::RequestMessage& request);
    bool withinLimits(HX_COMM::RequestMessage& request) const;
    bool needsNoExchange(const HX_COMM::RequestMessage& request) const;
    bool sendRequest(HX_COMM::RequestMessage& request);
    void awaitCompletion(HX_COMM::RequestMessage& request, ExchangeLock& lock, Clock::time_point until);
    bool receiveUntilCompleted(const HX_COMM::RequestMessage& request, Clock::time_point until);
    // The caller of a brief wait leaves: its request stays pending without it (exchange lock held).
    void leavePending(HX_COMM::RequestMessage& request);
    Clock::time_point briefWaitEnd() const;
    bool isCompleted(const HX_COMM::RequestMessage& request);
    // Sends again the repeatable requests whose answer is overdue (exchange lock held); how long a
    // reader may wait before the next one is due (at most READER_PAUSE).
    std::chrono::milliseconds resendOverdueLocked();
    std::chrono::microseconds firstResendInterval() const;
    std::chrono::microseconds longestResendInterval() const;
    void noteRoundTrip(const Pending& answered);
    uint16_t nextRequestId();
    bool sendToCamera(std::span<const uint8_t> datagram, const char* who, bool singleRead = false);
    void pokeReg(uint32_t regAddress, uint32_t value);
    void closeWriteGate() override;
    void settle(HX_COMM::RequestMessage& request, uint32_t status);
    void complete(HX_COMM::RequestMessage& request, uint32_t status);
    void failPending(bool channelDown, const char* who);

    // Acknowledges, age-out and events (hx_comm_receive.cpp).
    enum class Take { Datagram, Skipped, Stop };
    Take takeDatagram(UDPSocket& socket, const char* socketName, std::span<uint8_t> buffer, ReceivedDatagram& received);
    void drainControlSocket(const HX_COMM::RequestMessage* awaited);
    void handleControlDatagram(std::span<const uint8_t> datagram, uint32_t sourceAddress, uint16_t sourcePort);
    void processAck(std::span<const uint8_t> datagram);
    void handleAgeOutTick();
    void ageOut();
    // The channel thread's wait limit: until the next tick, or none while no tick is wanted.
    std::optional<std::chrono::milliseconds> untilNextTick();
    void tickWhenDue();
    bool ticksWantedLocked() const;
    // Under the exchange lock, for a request that became pending.
    void noteRequestPendingLocked();
    void handleHmpMsg(HX_COMM::HMPMessage* message);

    // Sockets and the wait loop (hx_comm_sockets.cpp).
    void classInit();
    bool startComms();
    std::optional<ChannelPorts> bindControlPort();
    void processLoop();
    void post(Message* message) override;
    void reportWakeNotSet() override;
    void answerRefused(Message* message) override;
    bool halted() const override;
    void drainQueue();
    void readPendingEvents();
    ControlTraffic waitForControlTraffic(std::chrono::milliseconds limit);
    void wakeReader();
    void sendOpeningDatagram();
    void cleanup();

    const uint32_t cameraAddress_;
    const std::string cameraName_;
    std::atomic<bool> faulted_{false};
    std::atomic<uint64_t> activity_{0};
    std::unique_ptr<UDPSocket> hcp_;
    std::unique_ptr<UDPSocket> hmp_;
    // Held while the event socket is read (by the channel's thread or a caller catching up) and
    // while it closes.
    std::mutex eventSocketLock_;
    std::unique_ptr<UDPSocket> stream_;
    std::unique_ptr<HX_PLATFORM::PollSet> pollSet_;
    // The age-out tick's period (100 ms, scaled by the test hook) and, on the channel's thread,
    // when the next tick is due (none until the next pass of the loop has chosen it).
    const std::chrono::microseconds tickPeriod_;
    std::optional<std::chrono::steady_clock::time_point> nextTick_;

    // The request side, guarded by exchangeLock_ (see the class comment).
    std::mutex exchangeLock_;
    std::condition_variable answered_;
    uint16_t requestId_ = 0;
    std::map<uint16_t, Pending> pending_;
    bool readerBusy_ = false;
    // Requests aged out since the camera last answered. From AWAY_AGE_OUTS on, the next answer
    // tells the camera's service that the camera is back (it may have restarted meanwhile).
    uint32_t silentAgeOuts_ = 0;
    // Requests made pending since the last tick, and whether the channel's thread ticks slowly
    // (a request then wakes it, so that it ticks every period again).
    uint32_t pendingSinceTick_ = 0;
    bool ticksIdle_ = false;
    std::thread::id readerThread_;
    // The smoothed round trip of requests answered at their first sending; none before the first.
    std::optional<std::chrono::microseconds> smoothedRoundTrip_;
    // Wakes the caller reading the control socket when its request ends elsewhere (age-out,
    // purge, halt). readerPoll_ (control socket, wake event) is used only by that caller.
    std::unique_ptr<HX_PLATFORM::EventFd> readerWake_;
    std::unique_ptr<HX_PLATFORM::PollSet> readerPoll_;

    // The counter of the last event datagram, on the channel's thread only; none before the first.
    std::optional<uint16_t> lastEventId_;

    // Set once the channel stops taking requests (halt handled, or the loop ended); a halted
    // message queue means the same for messages.
    std::atomic<bool> halted_{false};
    std::once_flag closeFlag_;
};
