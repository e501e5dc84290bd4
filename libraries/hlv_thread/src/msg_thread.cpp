// A thread with a message queue: hands each message to a handler until a HALT has been handled.
#include "hlv_thread/msg_thread.h"

#include <algorithm>
#include <chrono>
#include <exception>

#include "hlv_thread/log.h"
#include "hlv_thread/sync_message.h"
#include "hlv_thread/timer.h"
#include "hlv_thread/wake.h"
#include "root_report.h"

namespace halvex::thread {

MsgThread::MsgThread(WakeOnPost wake)
    : Thread(false), wake_(wake == WakeOnPost::Yes ? std::make_unique<Wake>() : nullptr)
{
}

// Whatever is still queued (a thread that never ran its loop) is refused, so no sender waits
// for ever and no heap message is lost.
MsgThread::~MsgThread()
{
    requireJoined("HLV_THREAD::MsgThread::~MsgThread");
    refuseQueued();
}

void MsgThread::start(Body body)
{
    if (body) {
        Thread::start(std::move(body));
        return;
    }
    Thread::start([](Thread& thread) {
        auto& self = static_cast<MsgThread&>(thread);
        self.waitStartGate();
        self.run();
    });
}

void MsgThread::run()
{
    for (;;) {
        if (Message* message = waitForMessageOrTimer())
            dispatch(message);
        runDueTimers();
        if (loopFinished())
            return;
    }
}

Message* MsgThread::waitForMessageOrTimer()
{
    try {
        std::unique_lock<std::mutex> guard(queueLock_);
        const auto woken = [this] { return !queue_.empty() || timersChanged_; };
        for (;;) {
            if (!queue_.empty()) {
                Message* next = queue_.front();
                queue_.pop_front();
                --queued_;
                return next;
            }
            if (halted_)
                return nullptr;
            timersChanged_ = false;
            const std::optional<TimePoint> due = nextTimerDue();
            if (!due)
                queueSignal_.wait(guard, woken);
            else if (!queueSignal_.wait_until(guard, *due, woken))
                return nullptr;
        }
    } catch (...) {
        reportRootException("MsgThread", LibraryExceptions::Described);
        return nullptr;
    }
}

std::optional<MsgThread::TimePoint> MsgThread::nextTimerDue()
{
    std::lock_guard<std::mutex> guard(timerLock_);
    std::optional<TimePoint> earliest;
    for (const Timer* timer : timers_) {
        if (!earliest || timer->due_ < *earliest)
            earliest = timer->due_;
    }
    return earliest;
}

// Each timer due now ticks once; the next due time is one period on, or a period from now for a
// tick that came late, so a slow tick is never made up in a burst.
void MsgThread::runDueTimers()
{
    std::vector<Timer*> due;
    {
        std::lock_guard<std::mutex> guard(timerLock_);
        const TimePoint now = std::chrono::steady_clock::now();
        for (Timer* timer : timers_) {
            if (timer->due_ <= now)
                due.push_back(timer);
        }
    }
    for (Timer* timer : due) {
        {
            std::lock_guard<std::mutex> guard(timerLock_);
            // Stopped or re-timed by an earlier tick of this pass.
            if (std::find(timers_.begin(), timers_.end(), timer) == timers_.end() ||
                timer->due_ > std::chrono::steady_clock::now())
                continue;
            const auto period = std::chrono::microseconds(timer->period());
            const TimePoint now = std::chrono::steady_clock::now();
            timer->due_ += period;
            if (timer->due_ <= now)
                timer->due_ = now + period;
            runningTimer_ = timer;
        }
        timer->fire();
        {
            std::lock_guard<std::mutex> guard(timerLock_);
            runningTimer_ = nullptr;
        }
        timerIdle_.notify_all();
    }
}

bool MsgThread::schedule(Timer& timer)
{
    {
        std::lock_guard<std::mutex> guard(timerLock_);
        if (halted_)
            return false;
        timer.due_ = std::chrono::steady_clock::now() + std::chrono::microseconds(timer.period());
        if (std::find(timers_.begin(), timers_.end(), &timer) == timers_.end())
            timers_.push_back(&timer);
    }
    timersChanged();
    return true;
}

void MsgThread::unschedule(Timer& timer)
{
    std::unique_lock<std::mutex> guard(timerLock_);
    timers_.erase(std::remove(timers_.begin(), timers_.end(), &timer), timers_.end());
    if (!isCurrentThread())
        timerIdle_.wait(guard, [this, &timer] { return runningTimer_ != &timer; });
}

void MsgThread::reschedule(Timer& timer)
{
    {
        std::lock_guard<std::mutex> guard(timerLock_);
        if (std::find(timers_.begin(), timers_.end(), &timer) == timers_.end())
            return;
        timer.due_ = std::chrono::steady_clock::now() + std::chrono::microseconds(timer.period());
    }
    timersChanged();
}

void MsgThread::timersChanged()
{
    {
        std::lock_guard<std::mutex> guard(queueLock_);
        timersChanged_ = true;
    }
    queueSignal_.notify_one();
}

bool MsgThread::loopFinished()
{
    std::lock_guard<std::mutex> guard(queueLock_);
    return queue_.empty() && halted_;
}

// Handlers are expected to catch their own exceptions; one that escapes is logged here so that
// the thread keeps serving its queue.
void MsgThread::dispatch(Message* message)
{
    try {
        if (message->owner == this)
            ownerMessage(message);
        else
            messageHandle(message);
    } catch (...) {
        reportRootException("MsgThread", LibraryExceptions::Described);
    }
}

// A refused message is dealt with outside the queue lock: sending it back posts to other
// threads, and releasing a synchronous sender takes that message's own lock.
void MsgThread::post(Message* message)
{
    if (message == nullptr) {
        HLV_LOG("%s: NULL message ignored", "HLV_THREAD::MsgThread::post");
        return;
    }
    switch (enqueue(message)) {
    case Posted::Queued: return;
    case Posted::QueuedWithoutWake: reportWakeNotSet(); return;
    case Posted::Refused: answerRefused(message); return;
    }
}

void MsgThread::postSkippingNop(Message* message)
{
    if (message != nullptr && message->req == NOP)
        message->refuse(this);
    else
        MsgThread::post(message);
}

void MsgThread::answerRefused(Message* message)
{
    logRaw(LOG_PRIORITY_DEBUG, "Message received after HALT");
    message->refuse(this);
}

void MsgThread::reportWakeNotSet()
{
    HLV_LOG("%s: Could not set the wake, error %d", "HLV_THREAD::MsgThread::post", wake_->error());
}

// The wake is set outside the queue lock; a wake-up that finds the message already taken costs
// its waiter one empty pass.
MsgThread::Posted MsgThread::enqueue(Message* message)
{
    // Everything, the wake included, is touched under the lock: once the message is queued its
    // receiver may handle it and the thread object may be gone before this call returns.
    std::lock_guard<std::mutex> guard(queueLock_);
    if (halted_)
        return Posted::Refused;
    if (message->req == HALT)
        halted_ = true;
    const bool wasEmpty = queue_.empty();
    queue_.push_back(message);
    ++queued_;
    if (!wasEmpty)
        return Posted::Queued;
    queueSignal_.notify_one();
    if (wake_ && !wake_->set())
        return Posted::QueuedWithoutWake;
    return Posted::Queued;
}

Message* MsgThread::nextMessage()
{
    std::lock_guard<std::mutex> guard(queueLock_);
    if (queue_.empty())
        return nullptr;
    Message* next = queue_.front();
    queue_.pop_front();
    --queued_;
    return next;
}

bool MsgThread::messagesWaiting() const
{
    return queued_ != 0;
}

Wake* MsgThread::postWake() const
{
    return wake_.get();
}

std::deque<Message*> MsgThread::closeQueue()
{
    std::deque<Message*> left;
    std::lock_guard<std::mutex> guard(queueLock_);
    halted_ = true;
    left.swap(queue_);
    queued_ = 0;
    return left;
}

bool MsgThread::halted() const
{
    return halted_;
}

void MsgThread::ownerMessage(Message* message)
{
    if (message->synchronous())
        message->forward();
    else if (message->owner == this)
        delete message;
}

std::string MsgThread::messageName(uint32_t id) const
{
    switch (id) {
    case NOP: return "HLV_THREAD::NOP";
    case HALT: return "HLV_THREAD::HALT";
    case DUMP: return "HLV_THREAD::DUMP";
    default: return "unknown";
    }
}

void MsgThread::waitStartGate()
{
    std::unique_lock<std::mutex> guard(gateLock_);
    gateSignal_.wait(guard, [this] { return gateOpen_; });
}

void MsgThread::openStartGate()
{
    {
        std::lock_guard<std::mutex> guard(gateLock_);
        gateOpen_ = true;
    }
    gateSignal_.notify_all();
}

void MsgThread::closeStartGate()
{
    std::lock_guard<std::mutex> guard(gateLock_);
    gateOpen_ = false;
}

Message* MsgThread::waitForMessage(uint32_t timeoutMs)
{
    try {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        std::unique_lock<std::mutex> guard(queueLock_);
        if (queue_.empty() && halted_)
            return nullptr;
        const auto queued = [this] { return !queue_.empty(); };
        if (timeoutMs < 1)
            queueSignal_.wait(guard, queued);
        else if (!queueSignal_.wait_until(guard, deadline, queued))
            return nullptr;
        Message* next = queue_.front();
        queue_.pop_front();
        --queued_;
        return next;
    } catch (...) {
        reportRootException("MsgThread", LibraryExceptions::Described);
        return nullptr;
    }
}

void MsgThread::haltWithoutLoop()
{
    {
        std::lock_guard<std::mutex> guard(queueLock_);
        halted_ = true;
    }
    refuseQueued();
}

void MsgThread::refuseQueued()
{
    std::deque<Message*> left;
    {
        std::lock_guard<std::mutex> guard(queueLock_);
        left.swap(queue_);
        queued_ = 0;
    }
    for (Message* message : left) {
        try {
            message->refuse(this);
        } catch (...) {
            reportRootException("MsgThread", LibraryExceptions::Described);
        }
    }
}

void closeThread(MsgThread& thread)
{
    if (!thread.running()) {
        // No loop would ever handle a HALT message.
        thread.haltWithoutLoop();
    } else if (!thread.halted()) {
        SyncMessage halt;
        halt.req = HALT;
        halt.send(&thread);
    }
    thread.join();
}

} // namespace halvex::thread
