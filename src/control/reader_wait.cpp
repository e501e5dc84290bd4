// The reading caller's wait on a control channel: control socket and wake event together.
#include "control/reader_wait.h"

#include "hlv_thread/log.h"
#include "platform/errno_text.h"
#include "platform/event_fd.h"
#include "platform/poll_wait.h"

namespace halvex::control {

using platform::raiseSystemError;

ReaderWait::ReaderWait(const std::string& cameraName) : cameraName_(cameraName) {}

ReaderWait::~ReaderWait() = default;

void ReaderWait::open(platform::Descriptor controlSocket)
{
    wake_ = std::make_unique<platform::EventFd>();
    if (!wake_->valid())
        raiseSystemError(__FILE__, __LINE__, "Could not create the reader's wake event", wake_->error());
    // In this order: control socket, wake event.
    poll_ = std::make_unique<platform::PollSet>();
    poll_->add(controlSocket);
    poll_->add(*wake_);
}

ControlTraffic ReaderWait::wait(std::chrono::milliseconds limit)
{
    switch (poll_->wait(limit)) {
    case platform::PollStatus::Failed:
        HLV_LOG("%s(%s): Could not wait for the camera's answer: %s", "HxComm::waitForControlTraffic",
                cameraName_.c_str(), platform::errnoIndicates(poll_->error()).c_str());
        return ControlTraffic::Failed;
    case platform::PollStatus::TimedOut: return ControlTraffic::Quiet;
    case platform::PollStatus::Ready: break;
    }
    if (poll_->events(1).any())
        wake_->reset();
    return poll_->events(0).any() ? ControlTraffic::Readable : ControlTraffic::Quiet;
}

void ReaderWait::wake()
{
    if (wake_ && !wake_->set())
        HLV_LOG("%s(%s): Could not wake the caller reading the control socket", "HxComm::wakeReader",
                cameraName_.c_str());
}

void ReaderWait::close()
{
    poll_.reset();
    wake_.reset();
}

} // namespace halvex::control
