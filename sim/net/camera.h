// One stand-in camera on the network: its UDP socket on port 3956, its thread, its faults.
#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/event_fd.h"
#include "platform/socket_library.h"
#include "sim/device/camera_core.h"
#include "sim/faults/fault_injector.h"
#include "sim/net/control_port.h"
#include "sim/stream/stream_engine.h"

namespace hxsim {

// The camera answers on its own address, port 3956, and sends its events from there. With
// hearBroadcast it also receives on the wildcard address (shared with the other cameras through
// SO_REUSEADDR/SO_REUSEPORT) and answers discovery sent to its subnet's broadcast address, always
// from its own address. It binds nothing else. Its thread waits (waitForDatagrams) for datagrams
// and for the next thing due (a state change, a heartbeat expiry, a delayed datagram).
//
// The constructor and destructor run on the owner's thread; withCore() may be called from any
// thread.
class Camera {
public:
    // Binds the sockets and starts the thread; throws std::runtime_error naming the address and
    // the system's reason when it cannot.
    explicit Camera(const CameraConfig& config, Logger logger = {});
    ~Camera();
    Camera(const Camera&) = delete;
    Camera& operator=(const Camera&) = delete;

    const CameraConfig& config() const { return config_; }
    Endpoint endpoint() const;
    // The camera's clock: time since start, times the time scale.
    SimTime now() const;
    // Runs `action` with the camera's core and clock while its thread is held off, then sends
    // whatever the action caused (events of a change made by a test, for example).
    void withCore(const std::function<void(CameraCore& core, SimTime now)>& action);
    // Goes silent now for `length` of camera time, as a vanishing configured in advance does: a
    // test starts it once what the silence should interrupt is under way, however long that took.
    void vanish(SimTime length);
    // Stops the thread; the sockets stay bound until destruction.
    void stop();
    // The camera's image stream (its UDP source port, for captures).
    const StreamEngine& streams() const { return *streams_; }

private:
    void run(const std::stop_token& stop);
    void waitForWork(SimTime now);
    void drain(ControlPort& port, bool broadcast);
    void receive(std::span<const uint8_t> datagram, Endpoint from, bool broadcast);
    bool forUs(uint32_t destination) const;
    void pump(SimTime now);
    void send(const Outgoing& datagram);

    // First, so that Winsock is up before any socket of the camera's opens and down after the last
    // one closes (nothing to do elsewhere). Should it fail to start, the first socket says so.
    halvex::platform::SocketLibrary socketLibrary_;
    CameraConfig config_;
    Logger logger_;
    std::chrono::steady_clock::time_point start_;
    std::mutex mutex_; // guards core_ and faults_
    CameraCore core_;
    FaultInjector faults_;
    ControlPort socket_;
    std::optional<ControlPort> broadcastSocket_;
    halvex::platform::EventFd wake_;
    std::vector<uint8_t> buffer_;
    std::unique_ptr<StreamEngine> streams_;
    std::jthread thread_;
};

} // namespace hxsim
