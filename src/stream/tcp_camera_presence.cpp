// Whether a camera is still there for the TCP image receiver to connect to, and whom to tell when
// a camera that is there keeps refusing the connection.
#include "stream/tcp_camera_presence.h"

#include <mutex>
#include <utility>

#include "control/hx_comm.h"
#include "discovery/discovery.h"

namespace halvex::stream {

using control::HxComm;
using discovery::Discovery;

namespace {

// Allocated once and never destroyed: a receiver's thread may still ask while the process exits.
std::mutex& presenceLock()
{
    static auto* lock = new std::mutex;
    return *lock;
}

TcpCameraPresence::Check& presenceCheck()
{
    static auto* check = new TcpCameraPresence::Check;
    return *check;
}

TcpCameraPresence::LossReport& lossReport()
{
    static auto* report = new TcpCameraPresence::LossReport;
    return *report;
}

} // namespace

void TcpCameraPresence::set(Check check)
{
    std::lock_guard<std::mutex> guard(presenceLock());
    presenceCheck() = std::move(check);
}

void TcpCameraPresence::setLossReport(LossReport report)
{
    std::lock_guard<std::mutex> guard(presenceLock());
    lossReport() = std::move(report);
}

// Called outside the lock, so a check or report may itself set another.
void TcpCameraPresence::reportLoss(uint32_t cameraAddress)
{
    LossReport report;
    {
        std::lock_guard<std::mutex> guard(presenceLock());
        report = lossReport();
    }
    if (report)
        report(cameraAddress);
    else
        Discovery::removeCamera(cameraAddress);
}

bool TcpCameraPresence::present(uint32_t cameraAddress)
{
    Check check;
    {
        std::lock_guard<std::mutex> guard(presenceLock());
        check = presenceCheck();
    }
    return check ? check(cameraAddress) : !HxComm::isFaulted(cameraAddress);
}

} // namespace halvex::stream
