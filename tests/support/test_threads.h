// Helpers for the framework tests: a recording message thread, whose records a test waits on with a deadline.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "arrivals.h"
#include "hlv_thread/msg_thread.h"

namespace framework_test {

using namespace std::chrono_literals;

// Generous: only a broken implementation ever waits this long.
constexpr std::chrono::milliseconds kDeadline = hx_test::kWaitDeadline;

using hx_test::Signal;

// Names of the threads that handled a message, in order.
struct VisitLog {
    virtual ~VisitLog() = default;
    std::vector<std::string> visits;
};

class TracedMessage : public halvex::thread::Message, public VisitLog {};

// A message thread that records what it handled and what came back to it, and by default
// replies "done" to everything. A custom action replaces the default for messages it accepts.
class Recorder : public halvex::thread::MsgThread {
public:
    using Action = std::function<bool(Recorder&, halvex::thread::Message*)>;

    explicit Recorder(std::string name, bool gateClosed = false) : name_(std::move(name))
    {
        if (gateClosed)
            closeStartGate();
    }
    ~Recorder() override { halvex::thread::closeThread(*this); }

    void setAction(Action action) { action_ = std::move(action); }

    void messageHandle(halvex::thread::Message* message) override
    {
        const uint32_t req = message->req;
        if (auto* traced = dynamic_cast<VisitLog*>(message))
            traced->visits.push_back(name_);
        signal.update([&] { handled.push_back(req); });
        if (action_ && action_(*this, message))
            return;
        if (req == halvex::thread::HALT || message->synchronous() || !message->routeEmpty() ||
            message->owner != nullptr)
            message->reply(halvex::thread::MESSAGE_DONE);
        else
            delete message;
    }

    void ownerMessage(halvex::thread::Message* message) override
    {
        const uint32_t status = message->status;
        std::vector<std::string> visits;
        if (auto* traced = dynamic_cast<VisitLog*>(message))
            visits = traced->visits;
        const std::size_t routeLeft = message->routeLength();
        delete message;
        signal.update([&] {
            returnedStatus.push_back(status);
            returnedVisits.push_back(visits);
            returnedRouteLength.push_back(routeLeft);
        });
    }

    Signal signal;
    // Guarded by signal's lock.
    std::vector<uint32_t> handled;
    std::vector<uint32_t> returnedStatus;
    std::vector<std::vector<std::string>> returnedVisits;
    std::vector<std::size_t> returnedRouteLength;

private:
    std::string name_;
    Action action_;
};

} // namespace framework_test
