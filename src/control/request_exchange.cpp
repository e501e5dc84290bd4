// A camera's control channel, on the callers' side: turning requests into commands on the wire,
// request ids, the pending table, waiting for the answer, repeats, acknowledges and age-out.
#include "control/request_exchange.h"

#include <algorithm>
#include <utility>

#include "control/channel_sockets.h"
#include "control/channel_thread.h"
#include "control/control_datagrams.h"
#include "control/hx_comm.h"
#include "control/hx_notification.h"
#include "control/reader_wait.h"
#include "hlv_thread/log.h"
#include "hlv_thread/note.h"

namespace halvex::control {

using wire::RegisterPair;

using thread::MESSAGE_DONE;
using thread::MESSAGE_FAILED;
using wire::RegisterPair;

namespace {

// A quiet channel's tick, in age-out periods (1 s).
constexpr int QUIET_TICK_PERIODS = 10;

} // namespace

RequestExchange::RequestExchange(uint32_t cameraAddress, const std::string& cameraName,
                                 std::chrono::microseconds tickPeriod, ChannelSockets& sockets, ReaderWait& reader,
                                 ControlDatagrams& datagrams, ChannelThread& thread)
    : cameraAddress_(cameraAddress), cameraName_(cameraName), tickPeriod_(tickPeriod), sockets_(sockets),
      reader_(reader), datagrams_(datagrams), thread_(thread), resends_(tickPeriod)
{
}

const std::string& RequestExchange::cameraName() const
{
    return cameraName_;
}

// Runs on the caller's thread. Every path ends the request exactly once before returning: here,
// or when its acknowledge, its age-out, a purge or a halt comes. Exceptions can only leave before
// the request is pending, so nothing ever points at a request whose caller has gone.
void RequestExchange::transact(RequestMessage& request)
{
    if (!admit(request))
        return;
    ExchangeLock lock(exchangeLock_);
    if (thread_.halted()) {
        thread::logRaw(thread::LOG_PRIORITY_DEBUG, "Message received after HALT");
        request.channelDown = true;
        settle(request, MESSAGE_FAILED);
        return;
    }
    if (!sendRequest(request))
        return;
    const Clock::time_point until = request.briefWait ? briefWaitEnd() : Clock::time_point::max();
    awaitCompletion(request, lock, until);
    if (!request.completed)
        leavePending(request);
}

// Twice the first repeat interval: on a clean link an answer comes within a round trip or two, and
// a camera that takes longer is asked for its state, which it answers after the write.
RequestExchange::Clock::time_point RequestExchange::briefWaitEnd() const
{
    const auto wait = std::max<std::chrono::microseconds>(2 * resends_.firstInterval(), BRIEF_WAIT_FLOOR);
    return Clock::now() + wait;
}

// Its entry keeps the request id, so the late acknowledge finds it and is dropped; the caller
// hears what an age-out would have told it.
void RequestExchange::leavePending(RequestMessage& request)
{
    for (auto& [id, entry] : pending_) {
        if (entry.request != &request)
            continue;
        HLV_TRACE(thread::TRACE_COMM, "%s(%s): message 0x%04x unanswered after a brief wait; its caller goes on",
                  "HxComm::handleRequest", cameraName_.c_str(), id);
        entry.request = nullptr;
    }
    request.cameraStatus = wire::camera_status::kBusy;
    complete(request, MESSAGE_FAILED);
}

// The checks that need no exchange lock: false when the request already has its result.
bool RequestExchange::admit(RequestMessage& request)
{
    const char* who = "HxComm::messageHandle";
    if (thread_.isCurrentThread()) {
        // Nothing would age the request out while the channel's own thread waited for it.
        HLV_LOG("%s(%s): the channel's own thread cannot wait for its camera", who, cameraName_.c_str());
        settle(request, MESSAGE_FAILED);
        return false;
    }
    if (!HxComm::isKnown(cameraAddress_)) {
        HLV_TRACE(thread::TRACE_COMM, "%s(%s): req=%d, NOT CONNECTED", who, cameraName_.c_str(), request.req);
        request.channelDown = true;
        settle(request, MESSAGE_FAILED);
        return false;
    }
    HLV_TRACE(thread::TRACE_COMM, "%s(%s): req=%d", who, cameraName_.c_str(), request.req);
    if (sockets_.control() == nullptr) {
        HLV_LOG("%s: Unexpectedly null HCP object!", who);
        settle(request, MESSAGE_FAILED);
        return false;
    }
    if (!withinLimits(request)) {
        settle(request, MESSAGE_FAILED);
        return false;
    }
    if (needsNoExchange(request)) {
        request.cameraStatus = wire::camera_status::kSuccess;
        settle(request, MESSAGE_DONE);
        return false;
    }
    return true;
}

// Sends the command under the exchange lock; true when the request is now pending.
bool RequestExchange::sendRequest(RequestMessage& request)
{
    const uint16_t id = nextRequestId();
    Command command = request.encode(id, *this);
    if (command.datagram.empty() ||
        !sockets_.sendToCamera(command.datagram, "HxComm::handleRequest", request.singleRead())) {
        request.cameraStatus = wire::camera_status::kGenericError;
        settle(request, MESSAGE_FAILED);
        return false;
    }
    if (!command.ackRequired) {
        HLV_TRACE(thread::TRACE_COMM, "%s(%s): No ack for message %d, responding success", "HxComm::handleRequest",
                  cameraName_.c_str(), id);
        request.cameraStatus = wire::camera_status::kSuccess;
        settle(request, MESSAGE_DONE);
        return false;
    }
    Pending entry{&request, 0};
    entry.sentAt = Clock::now();
    if (request.repeatable()) {
        entry.interval = resends_.firstInterval();
        entry.resendAt = entry.sentAt + entry.interval;
        entry.datagram = std::move(command.datagram);
    }
    pending_[id] = std::move(entry);
    noteRequestPendingLocked();
    HLV_TRACE(thread::TRACE_COMM, "%s(%s): wait for response to message 0x%04x", "HxComm::handleRequest",
              cameraName_.c_str(), id);
    return true;
}

// One caller at a time reads the control socket; the others wait until their request ends or
// the reading role is free. A reader whose wait failed steps back for a tick, leaving the
// socket to the channel's thread.
void RequestExchange::awaitCompletion(RequestMessage& request, ExchangeLock& lock, Clock::time_point until)
{
    while (!request.completed && Clock::now() < until) {
        if (readerBusy_) {
            if (until == Clock::time_point::max())
                answered_.wait(lock);
            else
                answered_.wait_until(lock, until);
            continue;
        }
        readerBusy_ = true;
        readerThread_ = std::this_thread::get_id();
        lock.unlock();
        const bool received = receiveUntilCompleted(request, until);
        lock.lock();
        readerBusy_ = false;
        readerThread_ = std::thread::id();
        answered_.notify_all();
        if (!received)
            answered_.wait_for(lock, READER_PAUSE, [&request] { return request.completed; });
    }
}

// Reads and handles control datagrams until the request has ended; false when waiting failed.
// Nothing is due for a repeat when a reader starts (its own request was just sent, and the
// reader before it sent what was due), so the first wait skips that look; on a clean link the
// answer ends the first wait, and the round trip costs nothing more than it did without repeats.
bool RequestExchange::receiveUntilCompleted(const RequestMessage& request, Clock::time_point until)
{
    bool first = true;
    for (;;) {
        std::chrono::milliseconds limit = ResendSchedule::MIN_INTERVAL;
        {
            std::lock_guard<std::mutex> guard(exchangeLock_);
            if (request.completed)
                return true;
            if (!first)
                limit = resendOverdueLocked();
        }
        const Clock::time_point now = Clock::now();
        if (now >= until)
            return true;
        if (until != Clock::time_point::max())
            limit = std::min(limit, std::chrono::ceil<std::chrono::milliseconds>(until - now));
        first = false;
        switch (reader_.wait(limit)) {
        case ControlTraffic::Readable: datagrams_.drain(&request); break;
        case ControlTraffic::Quiet: break;
        case ControlTraffic::Failed: return false;
        }
    }
}

// A lost command or acknowledge would otherwise cost its caller the whole age-out. The repeat
// carries the same request id, so whichever acknowledge comes first completes the request and
// the others find nothing pending.
std::chrono::milliseconds RequestExchange::resendOverdueLocked()
{
    const Clock::time_point now = Clock::now();
    Clock::time_point next = now + READER_PAUSE;
    for (auto& [id, entry] : pending_) {
        if (entry.datagram.empty())
            continue;
        if (entry.resendAt <= now) {
            ++entry.sends;
            HLV_TRACE(thread::TRACE_COMM, "%s(%s): message 0x%04x unanswered after %lld us; sending it again (%u)",
                      "HxComm::resend", cameraName_.c_str(), id,
                      static_cast<long long>(
                          std::chrono::duration_cast<std::chrono::microseconds>(now - entry.sentAt).count()),
                      entry.sends);
            sockets_.sendToCamera(entry.datagram, "HxComm::resend");
            entry.interval = std::min(entry.interval * 2, resends_.longestInterval());
            entry.resendAt = now + entry.interval;
        }
        next = std::min(next, entry.resendAt);
    }
    return std::max(std::chrono::milliseconds(1), std::chrono::ceil<std::chrono::milliseconds>(next - now));
}

bool RequestExchange::isCompleted(const RequestMessage& request)
{
    std::lock_guard<std::mutex> guard(exchangeLock_);
    return request.completed;
}

// A command that does not fit one datagram would never be answered; it fails here instead of
// costing its caller the whole age-out.
bool RequestExchange::withinLimits(RequestMessage& request) const
{
    const std::optional<RegisterExtent> extent = request.registerExtent();
    if (!extent || extent->count <= extent->limit)
        return true;
    HLV_LOG("%s(%s): %zu registers do not fit one datagram (at most %zu)", "HxComm::handleRequest", cameraName_.c_str(),
            extent->count, extent->limit);
    return false;
}

// An empty register list asks nothing of the camera.
bool RequestExchange::needsNoExchange(const RequestMessage& request) const
{
    const std::optional<RegisterExtent> extent = request.registerExtent();
    return extent && extent->count == 0;
}

// Ids wrap from 65535 to 0 (exchange lock held). An id still pending (only possible with 65536 requests in flight)
// is skipped rather than shadowed.
uint16_t RequestExchange::nextRequestId()
{
    do {
        ++requestId_;
    } while (pending_.count(requestId_) != 0 && pending_.size() < 0x10000);
    return requestId_;
}

// A write nobody waits for: one ungated pair, no acknowledge wanted, request id 0. Callers hold
// the exchange lock, so commands, gate closes and the halt's releases keep their order on the wire.
void RequestExchange::pokeReg(uint32_t regAddress, uint32_t value)
{
    const RegisterPair pair[] = {{regAddress, value}};
    sockets_.sendToCamera(wire::encodeWriteRegCmd(pair, false, 0), "HxComm::pokeReg");
}

void RequestExchange::closeWriteGate()
{
    pokeReg(wire::kWriteGateRegister, wire::kWriteGateClosed);
}

// Under the exchange lock, so no caller's command can follow the releases on the wire.
void RequestExchange::stop(bool releaseCamera, const char* who)
{
    std::lock_guard<std::mutex> guard(exchangeLock_);
    if (releaseCamera) {
        pokeReg(wire::kWriteGateRegister, wire::kWriteGateClosed);
        pokeReg(wire::kControlPrivilegeRegister, 0);
    }
    thread_.markHalted();
    failPending(true, who);
}

void RequestExchange::failAll(const char* who)
{
    std::lock_guard<std::mutex> guard(exchangeLock_);
    failPending(true, who);
}

// Ends a request that never became pending: nobody else can see it.
void RequestExchange::settle(RequestMessage& request, uint32_t status)
{
    HLV_TRACE(thread::TRACE_COMM, "%s(%s): req ID=%d", "HxComm::complete", cameraName_.c_str(), request.req);
    request.status = status;
    request.completed = true;
}

// Ends a pending request (exchange lock held) and wakes its caller: a waiting caller through the
// condition, the reading caller through its wake event unless it is the one ending it.
void RequestExchange::complete(RequestMessage& request, uint32_t status)
{
    settle(request, status);
    answered_.notify_all();
    if (readerBusy_ && readerThread_ != std::this_thread::get_id())
        reader_.wake();
}

// Fails every pending request at once (exchange lock held): the camera was lost or the channel
// is going away.
void RequestExchange::failPending(bool channelDown, const char* who)
{
    std::map<uint16_t, Pending> failing;
    failing.swap(pending_);
    for (auto& [id, entry] : failing) {
        if (entry.request == nullptr)
            continue;
        HLV_TRACE(thread::TRACE_COMM, "%s(%s): Message %d [0x%x] has aged out.", who, cameraName_.c_str(), id,
                  entry.request->req);
        entry.request->channelDown = channelDown;
        complete(*entry.request, MESSAGE_FAILED);
    }
}

void RequestExchange::processAck(std::span<const uint8_t> datagram)
{
    const char* who = "HxComm::processAck";
    const wire::AckHeader header = rawAckHeader(datagram);
    HLV_TRACE(thread::TRACE_COMM, "%s(%s): msg_id=%d, recv_cmd=%x", who, cameraName_.c_str(), header.ackId,
              header.answer);
    bool returned = false;
    bool missed = false;
    {
        std::lock_guard<std::mutex> guard(exchangeLock_);
        const auto found = pending_.find(header.ackId);
        if (found == pending_.end()) {
            HLV_TRACE(thread::TRACE_COMM,
                      "%s: Cannot find a pending msg with ID=0x%04X, cmd=0x%04X. This is probably OK.", who,
                      header.ackId, header.answer);
            return;
        }
        RequestMessage* waiting = found->second.request;
        if (waiting != nullptr)
            resends_.noteAnswer(found->second.sends, found->second.sentAt);
        pending_.erase(found);
        const uint32_t silent = std::exchange(silentAgeOuts_, 0);
        returned = silent >= AWAY_AGE_OUTS;
        missed = silent != 0 && !returned;
        if (waiting == nullptr) {
            HLV_TRACE(thread::TRACE_COMM, "%s(%s): late acknowledge of message 0x%04X, whose caller went on; dropped",
                      who, cameraName_.c_str(), header.ackId);
        } else if (RequestMessage& request = *waiting; header.answer != request.expectedAnswer()) {
            HLV_LOG("%s(%s): Answer 0x%04X does not fit message %d [0x%x]; no result taken", who, cameraName_.c_str(),
                    header.answer, header.ackId, request.req);
            request.cameraStatus = unusableStatus(header);
            complete(request, MESSAGE_FAILED);
        } else {
            complete(request, request.takeAnswer(datagram, *this));
        }
    }
    // Outside the exchange lock: the service's lookup takes locks of its own.
    if (returned) {
        HLV_LOG("%s(%s): The camera answers again after a time-out", who, cameraName_.c_str());
        announceReturn(cameraAddress_);
    } else if (missed) {
        // Too few time-outs to call it an absence, but a camera can restart within one.
        announceReturn(cameraAddress_, false);
    }
}

// A tick ages the pending requests, then reads control datagrams that came while no caller was
// reading (late answers, strays), so each is handled and logged within a tick.
void RequestExchange::handleAgeOutTick()
{
    ageOut();
    {
        std::lock_guard<std::mutex> guard(exchangeLock_);
        if (readerBusy_)
            return;
        // No caller is reading (one stepped back after a failed wait): the tick sends what is due.
        resendOverdueLocked();
    }
    datagrams_.drain(nullptr);
}

// While nothing waits for the camera the channel ticks only once per QUIET_TICK_PERIODS periods,
// for the datagrams nobody else reads (a discovery reply, a stray); a request cuts that wait short.
std::optional<std::chrono::milliseconds> RequestExchange::untilNextTick()
{
    const auto now = Clock::now();
    bool wentQuiet = false;
    {
        std::lock_guard<std::mutex> guard(exchangeLock_);
        const bool idle = !ticksWantedLocked();
        wentQuiet = idle && !ticksIdle_;
        ticksIdle_ = idle;
        const auto period = ticksIdle_ ? tickPeriod_ * QUIET_TICK_PERIODS : tickPeriod_;
        if (!nextTick_ || *nextTick_ > now + period)
            nextTick_ = now + period;
    }
    if (wentQuiet)
        HLV_TRACE(thread::TRACE_COMM, "%s(%s): Nothing to age out; ticking once a second", "HxComm::untilNextTick",
                  cameraName_.c_str());
    if (*nextTick_ <= now)
        return std::chrono::milliseconds(0);
    return std::chrono::ceil<std::chrono::milliseconds>(*nextTick_ - now);
}

// A late tick is not made up: the next comes a period after this one.
void RequestExchange::tickWhenDue()
{
    const auto now = Clock::now();
    if (!nextTick_ || now < *nextTick_)
        return;
    handleAgeOutTick();
    std::lock_guard<std::mutex> guard(exchangeLock_);
    const bool wanted = ticksWantedLocked();
    pendingSinceTick_ = 0;
    if (!wanted) {
        nextTick_.reset();
        return;
    }
    *nextTick_ += tickPeriod_;
    if (*nextTick_ <= now)
        *nextTick_ = now + tickPeriod_;
}

bool RequestExchange::quiet()
{
    std::lock_guard<std::mutex> guard(exchangeLock_);
    return ticksIdle_;
}

bool RequestExchange::ticksWantedLocked() const
{
    return !pending_.empty() || silentAgeOuts_ != 0 || pendingSinceTick_ != 0;
}

void RequestExchange::noteRequestPendingLocked()
{
    ++pendingSinceTick_;
    if (!ticksIdle_)
        return;
    ticksIdle_ = false;
    if (!thread_.wakeForTicks())
        HLV_LOG("%s(%s): Could not wake the channel's thread for its age-out ticks", "HxComm::handleRequest",
                cameraName_.c_str());
}

// Each tick ages every pending request by one; at the limit it fails as "busy".
void RequestExchange::ageOut()
{
    const char* who = "HxComm::ageOut";
    std::lock_guard<std::mutex> guard(exchangeLock_);
    for (auto entry = pending_.begin(); entry != pending_.end();) {
        const uint16_t id = entry->first;
        RequestMessage* waiting = entry->second.request;
        const int32_t age = ++entry->second.age;
        if (age < AGE_OUT_TICKS) {
            ++entry;
            continue;
        }
        entry = pending_.erase(entry);
        ++silentAgeOuts_;
        // A request whose caller went on after a brief wait ends here unanswered, with no one to tell.
        if (waiting == nullptr)
            continue;
        RequestMessage& request = *waiting;
        HLV_TRACE(thread::TRACE_COMM, "%s(%s): Message %d [0x%x] has aged out.", who, cameraName_.c_str(), id,
                  request.req);
        request.cameraStatus = wire::camera_status::kBusy;
        complete(request, MESSAGE_FAILED);
    }
}

} // namespace halvex::control
