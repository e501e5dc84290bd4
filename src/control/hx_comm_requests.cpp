// A camera's control channel, on the caller's side: turning requests into commands on the wire,
// request ids, the pending table, waiting for the answer, and fire-and-forget writes.
#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>

#include "control/hx_comm.h"
#include "hlv_thread/log.h"
#include "hlv_thread/note.h"

using HLV_THREAD::MESSAGE_DONE;
using HLV_THREAD::MESSAGE_FAILED;
using HX_WIRE::RegisterPair;

// Runs on the caller's thread. Every path ends the request exactly once before returning: here,
// or when its acknowledge, its age-out, a purge or a halt comes. Exceptions can only leave before
// the request is pending, so nothing ever points at a request whose caller has gone.
void HxComm::transact(HX_COMM::RequestMessage& request)
{
    if (!admit(request))
        return;
    ExchangeLock lock(exchangeLock_);
    if (halted()) {
        HLV_THREAD::logRaw(HLV_THREAD::LOG_PRIORITY_DEBUG, "Message received after HALT");
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
HxComm::Clock::time_point HxComm::briefWaitEnd() const
{
    const auto wait = std::max<std::chrono::microseconds>(2 * firstResendInterval(), BRIEF_WAIT_FLOOR);
    return Clock::now() + wait;
}

// Its entry keeps the request id, so the late acknowledge finds it and is dropped; the caller
// hears what an age-out would have told it.
void HxComm::leavePending(HX_COMM::RequestMessage& request)
{
    for (auto& [id, entry] : pending_) {
        if (entry.request != &request)
            continue;
        HLV_TRACE(HLV_THREAD::TRACE_COMM, "%s(%s): message 0x%04x unanswered after a brief wait; its caller goes on",
                  "HxComm::handleRequest", cameraName_.c_str(), id);
        entry.request = nullptr;
    }
    request.cameraStatus = HX_WIRE::CameraStatus::kBusy;
    complete(request, MESSAGE_FAILED);
}

// The checks that need no exchange lock: false when the request already has its result.
bool HxComm::admit(HX_COMM::RequestMessage& request)
{
    const char* who = "HxComm::messageHandle";
    if (isCurrentThread()) {
        // Nothing would age the request out while the channel's own thread waited for it.
        HLV_LOG("%s(%s): the channel's own thread cannot wait for its camera", who, cameraName_.c_str());
        settle(request, MESSAGE_FAILED);
        return false;
    }
    if (!isKnown(cameraAddress_)) {
        HLV_TRACE(HLV_THREAD::TRACE_COMM, "%s(%s): req=%d, NOT CONNECTED", who, cameraName_.c_str(), request.req);
        request.channelDown = true;
        settle(request, MESSAGE_FAILED);
        return false;
    }
    HLV_TRACE(HLV_THREAD::TRACE_COMM, "%s(%s): req=%d", who, cameraName_.c_str(), request.req);
    if (!hcp_) {
        HLV_LOG("%s: Unexpectedly null HCP object!", who);
        settle(request, MESSAGE_FAILED);
        return false;
    }
    if (!withinLimits(request)) {
        settle(request, MESSAGE_FAILED);
        return false;
    }
    if (needsNoExchange(request)) {
        request.cameraStatus = HX_WIRE::CameraStatus::kSuccess;
        settle(request, MESSAGE_DONE);
        return false;
    }
    return true;
}

// Sends the command under the exchange lock; true when the request is now pending.
bool HxComm::sendRequest(HX_COMM::RequestMessage& request)
{
    const uint16_t id = nextRequestId();
    HX_COMM::Command command = request.encode(id, *this);
    if (command.datagram.empty() || !sendToCamera(command.datagram, "HxComm::handleRequest", request.singleRead())) {
        request.cameraStatus = HX_WIRE::CameraStatus::kGenericError;
        settle(request, MESSAGE_FAILED);
        return false;
    }
    if (!command.ackRequired) {
        HLV_TRACE(HLV_THREAD::TRACE_COMM, "%s(%s): No ack for message %d, responding success", "HxComm::handleRequest",
                  cameraName_.c_str(), id);
        request.cameraStatus = HX_WIRE::CameraStatus::kSuccess;
        settle(request, MESSAGE_DONE);
        return false;
    }
    Pending entry{&request, 0};
    entry.sentAt = Clock::now();
    if (request.repeatable()) {
        entry.interval = firstResendInterval();
        entry.resendAt = entry.sentAt + entry.interval;
        entry.datagram = std::move(command.datagram);
    }
    pending_[id] = std::move(entry);
    noteRequestPendingLocked();
    HLV_TRACE(HLV_THREAD::TRACE_COMM, "%s(%s): wait for response to message 0x%04x", "HxComm::handleRequest",
              cameraName_.c_str(), id);
    return true;
}

// One caller at a time reads the control socket; the others wait until their request ends or
// the reading role is free. A reader whose wait failed steps back for a tick, leaving the
// socket to the channel's thread.
void HxComm::awaitCompletion(HX_COMM::RequestMessage& request, ExchangeLock& lock, Clock::time_point until)
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
bool HxComm::receiveUntilCompleted(const HX_COMM::RequestMessage& request, Clock::time_point until)
{
    bool first = true;
    for (;;) {
        std::chrono::milliseconds limit = MIN_RESEND_INTERVAL;
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
        switch (waitForControlTraffic(limit)) {
        case ControlTraffic::Readable: drainControlSocket(&request); break;
        case ControlTraffic::Quiet: break;
        case ControlTraffic::Failed: return false;
        }
    }
}

// A lost command or acknowledge would otherwise cost its caller the whole age-out. The repeat
// carries the same request id, so whichever acknowledge comes first completes the request and
// the others find nothing pending.
std::chrono::milliseconds HxComm::resendOverdueLocked()
{
    const Clock::time_point now = Clock::now();
    Clock::time_point next = now + READER_PAUSE;
    for (auto& [id, entry] : pending_) {
        if (entry.datagram.empty())
            continue;
        if (entry.resendAt <= now) {
            ++entry.sends;
            HLV_TRACE(HLV_THREAD::TRACE_COMM, "%s(%s): message 0x%04x unanswered after %lld us; sending it again (%u)",
                      "HxComm::resend", cameraName_.c_str(), id,
                      static_cast<long long>(
                          std::chrono::duration_cast<std::chrono::microseconds>(now - entry.sentAt).count()),
                      entry.sends);
            sendToCamera(entry.datagram, "HxComm::resend");
            entry.interval = std::min(entry.interval * 2, longestResendInterval());
            entry.resendAt = now + entry.interval;
        }
        next = std::min(next, entry.resendAt);
    }
    return std::max(std::chrono::milliseconds(1), std::chrono::ceil<std::chrono::milliseconds>(next - now));
}

// Four smoothed round trips, at least MIN_RESEND_INTERVAL; one age-out tick before any answer
// has been timed.
std::chrono::microseconds HxComm::firstResendInterval() const
{
    const std::chrono::microseconds guess =
        smoothedRoundTrip_ ? *smoothedRoundTrip_ * RESEND_RTT_FACTOR : std::chrono::microseconds(tickPeriod_);
    return std::clamp<std::chrono::microseconds>(guess, MIN_RESEND_INTERVAL, longestResendInterval());
}

// Ten age-out ticks (1 s): a request still gets several sendings within its age-out.
std::chrono::microseconds HxComm::longestResendInterval() const
{
    return std::max<std::chrono::microseconds>(tickPeriod_ * 10, MIN_RESEND_INTERVAL);
}

// Only a request answered at its first sending times the round trip: the answer to a repeat may
// be the first sending's, late.
void HxComm::noteRoundTrip(const Pending& answered)
{
    if (answered.sends != 1)
        return;
    const auto sample = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - answered.sentAt);
    smoothedRoundTrip_ = smoothedRoundTrip_ ? *smoothedRoundTrip_ + (sample - *smoothedRoundTrip_) / 8 : sample;
}

bool HxComm::isCompleted(const HX_COMM::RequestMessage& request)
{
    std::lock_guard<std::mutex> guard(exchangeLock_);
    return request.completed;
}

// A command that does not fit one datagram would never be answered; it fails here instead of
// costing its caller the whole age-out.
bool HxComm::withinLimits(HX_COMM::RequestMessage& request) const
{
    const std::optional<HX_COMM::RegisterExtent> extent = request.registerExtent();
    if (!extent || extent->count <= extent->limit)
        return true;
    HLV_LOG("%s(%s): %zu registers do not fit one datagram (at most %zu)", "HxComm::handleRequest", cameraName_.c_str(),
            extent->count, extent->limit);
    return false;
}

// An empty register list asks nothing of the camera.
bool HxComm::needsNoExchange(const HX_COMM::RequestMessage& request) const
{
    const std::optional<HX_COMM::RegisterExtent> extent = request.registerExtent();
    return extent && extent->count == 0;
}

// Ids wrap from 65535 to 0 (exchange lock held). An id still pending (only possible with 65536 requests in flight)
// is skipped rather than shadowed.
uint16_t HxComm::nextRequestId()
{
    do {
        ++requestId_;
    } while (pending_.count(requestId_) != 0 && pending_.size() < 0x10000);
    return requestId_;
}

// Every datagram that reaches the camera's control port counts as activity for the heartbeat.
// Callers hold the exchange lock, so commands, gate closes and the halt's releases keep their
// order on the wire.
// A failed single register read names the camera before the failure, every other send after it.
bool HxComm::sendToCamera(std::span<const uint8_t> datagram, const char* who, bool singleRead)
{
    if (!hcp_) {
        HLV_LOG("%s: Unexpectedly null HCP object!", who);
        return false;
    }
    const long sent = hcp_->sendMsg(datagram, cameraAddress_, HX_WIRE::kControlPort);
    if (sent != static_cast<long>(datagram.size())) {
        const int error = static_cast<int>(hcp_->lastError());
        if (singleRead)
            HLV_LOG("%s(%s): Failed sendMsg, err=%d", who, cameraName_.c_str(), error);
        else
            HLV_LOG("%s: Failed sendMsg(%s), err=%d", who, cameraName_.c_str(), error);
        return false;
    }
    ++activity_;
    return true;
}

// A write nobody waits for: one ungated pair, no acknowledge wanted, request id 0.
void HxComm::pokeReg(uint32_t regAddress, uint32_t value)
{
    const RegisterPair pair[] = {{regAddress, value}};
    sendToCamera(HX_WIRE::encodeWriteRegCmd(pair, false, 0), "HxComm::pokeReg");
}

void HxComm::closeWriteGate()
{
    pokeReg(HX_WIRE::kWriteGateRegister, HX_WIRE::kWriteGateClosed);
}

// Ends a request that never became pending: nobody else can see it.
void HxComm::settle(HX_COMM::RequestMessage& request, uint32_t status)
{
    HLV_TRACE(HLV_THREAD::TRACE_COMM, "%s(%s): req ID=%d", "HxComm::complete", cameraName_.c_str(), request.req);
    request.status = status;
    request.completed = true;
}

// Ends a pending request (exchange lock held) and wakes its caller: a waiting caller through the
// condition, the reading caller through its wake event unless it is the one ending it.
void HxComm::complete(HX_COMM::RequestMessage& request, uint32_t status)
{
    settle(request, status);
    answered_.notify_all();
    if (readerBusy_ && readerThread_ != std::this_thread::get_id())
        wakeReader();
}

// Fails every pending request at once (exchange lock held): the camera was lost or the channel
// is going away.
void HxComm::failPending(bool channelDown, const char* who)
{
    std::map<uint16_t, Pending> failing;
    failing.swap(pending_);
    for (auto& [id, entry] : failing) {
        if (entry.request == nullptr)
            continue;
        HLV_TRACE(HLV_THREAD::TRACE_COMM, "%s(%s): Message %d [0x%x] has aged out.", who, cameraName_.c_str(), id,
                  entry.request->req);
        entry.request->channelDown = channelDown;
        complete(*entry.request, MESSAGE_FAILED);
    }
}
