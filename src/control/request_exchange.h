// A camera's control channel, on the callers' side: the pending table, request ids, the reading
// role, repeats of late requests, acknowledges and the age-out that ends unanswered requests.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "control/hx_comm_messages.h"
#include "control/resend_schedule.h"

namespace halvex::control {

class ChannelSockets;
class ChannelThread;
class ControlDatagrams;
class ExchangeFeed;
class ReaderWait;

// A request sent and not yet answered.
struct Pending {
    using Clock = std::chrono::steady_clock;
    RequestMessage* request;
    int32_t age;
    // The command as sent, kept while the request may go out again; empty for a request sent
    // once (repeat_rule.h).
    std::vector<uint8_t> datagram{};
    Clock::time_point sentAt{};
    Clock::time_point resendAt = Clock::time_point::max();
    std::chrono::microseconds interval{};
    uint32_t sends = 1;
};

// Threads: transact() on callers' threads, never the channel's own. A caller sends its command
// itself and, while no other caller is doing so, reads the control socket for the answers (its
// own and any other caller's), so a round trip costs no hand-off between threads; the other
// callers wait on the exchange lock's condition. The channel's thread ages requests out, fails
// them on purge and halt, and ticks (its wait's time limit) every period while something may need
// it: a request pending, an answer overdue, or a request since the last tick (whose strays the
// tick reads); otherwise once a second, and the next request wakes it. The exchange lock guards
// the pending table, the request id, the reading role, the tick bookkeeping and every pending
// request; the control socket is written only under it.
class RequestExchange final : public RequestChannel {
public:
    // A request unanswered for this many age ticks fails as busy (5 s at the 100 ms period).
    static constexpr int32_t AGE_OUT_TICKS = 50;
    // A camera counts as having been away once this many requests in a row aged out. One lost
    // acknowledge on a lossy link is no absence: taking it for one sets the camera up again,
    // whose requests lose acknowledges of their own, and at 20 % loss the camera's service did
    // nothing else while the host's calls waited behind it.
    static constexpr uint32_t AWAY_AGE_OUTS = 3;
    static constexpr uint32_t AGE_TICK_MICROSECONDS = 100000;

    RequestExchange(uint32_t cameraAddress, const std::string& cameraName, std::chrono::microseconds tickPeriod,
                    ChannelSockets& sockets, ReaderWait& reader, ControlDatagrams& datagrams, ChannelThread& thread);

    const std::string& cameraName() const override;
    void closeWriteGate() override;
    // Sends the request and returns once it has ended, done or failed.
    void transact(RequestMessage& request);
    // The channel stops taking requests and fails the pending ones as "channel down"; a halt
    // first releases the camera (write gate closed, control privilege given up).
    void stop(bool releaseCamera, const char* who);
    // The camera is lost: pending requests fail at once.
    void failAll(const char* who);
    // Completes the pending request an acknowledge answers (a datagram from the camera's control port).
    void processAck(std::span<const uint8_t> datagram);
    bool isCompleted(const RequestMessage& request);
    // The channel thread's wait limit: until the next tick, or none while no tick is wanted.
    std::optional<std::chrono::milliseconds> untilNextTick();
    void tickWhenDue();
    // True while the channel has nothing to age out and ticks only once a second.
    bool quiet();

private:
    friend class ExchangeFeed;
    using Clock = std::chrono::steady_clock;
    using ExchangeLock = std::unique_lock<std::mutex>;
    // How long a reader waits for traffic before looking at its request again, and how long a
    // reader whose wait failed leaves the socket to the channel's thread: one age-out tick, so
    // a lost wake-up costs no more than the age-out's own granularity.
    static constexpr std::chrono::milliseconds READER_PAUSE{AGE_TICK_MICROSECONDS / 1000};
    // A brief wait (HxComm::writeBriefly) lasts twice the first repeat interval, never less than this.
    static constexpr std::chrono::milliseconds BRIEF_WAIT_FLOOR{50};

    bool admit(RequestMessage& request);
    bool withinLimits(RequestMessage& request) const;
    bool needsNoExchange(const RequestMessage& request) const;
    bool sendRequest(RequestMessage& request);
    void awaitCompletion(RequestMessage& request, ExchangeLock& lock, Clock::time_point until);
    bool receiveUntilCompleted(const RequestMessage& request, Clock::time_point until);
    // The caller of a brief wait leaves: its request stays pending without it (exchange lock held).
    void leavePending(RequestMessage& request);
    Clock::time_point briefWaitEnd() const;
    // Sends again the repeatable requests whose answer is overdue (exchange lock held); how long a
    // reader may wait before the next one is due (at most READER_PAUSE).
    std::chrono::milliseconds resendOverdueLocked();
    uint16_t nextRequestId();
    void pokeReg(uint32_t regAddress, uint32_t value);
    void settle(RequestMessage& request, uint32_t status);
    void complete(RequestMessage& request, uint32_t status);
    void failPending(bool channelDown, const char* who);
    void ageOut();
    void handleAgeOutTick();
    bool ticksWantedLocked() const;
    // Under the exchange lock, for a request that became pending.
    void noteRequestPendingLocked();

    const uint32_t cameraAddress_;
    const std::string& cameraName_;
    // The age-out tick's period (100 ms, scaled by the test hook) and, on the channel's thread,
    // when the next tick is due (none until the next pass of the loop has chosen it).
    const std::chrono::microseconds tickPeriod_;
    std::optional<Clock::time_point> nextTick_;
    ChannelSockets& sockets_;
    ReaderWait& reader_;
    ControlDatagrams& datagrams_;
    ChannelThread& thread_;

    std::mutex exchangeLock_;
    std::condition_variable answered_;
    uint16_t requestId_ = 0;
    std::map<uint16_t, Pending> pending_;
    bool readerBusy_ = false;
    std::thread::id readerThread_;
    // Requests aged out since the camera last answered. From AWAY_AGE_OUTS on, the next answer
    // tells the camera's service that the camera is back (it may have restarted meanwhile).
    uint32_t silentAgeOuts_ = 0;
    // Requests made pending since the last tick, and whether the channel's thread ticks slowly
    // (a request then wakes it, so that it ticks every period again).
    uint32_t pendingSinceTick_ = 0;
    bool ticksIdle_ = false;
    ResendSchedule resends_;
};

} // namespace halvex::control
