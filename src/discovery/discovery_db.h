// The camera database: every accepted discovery reply with its age-out timer, and the ignore list.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "hx/hx.h"
#include "wire/discovery_packet.h"

namespace halvex::discovery {

// A discovery acknowledge is exactly this long, header included.
inline constexpr std::size_t REPLY_SIZE = wire::kDiscoveryAckSize;
using Reply = std::array<uint8_t, REPLY_SIZE>;

// Polls a camera may miss in a row before it is reported lost.
inline constexpr int32_t TIMER_START = 6;
// Ignore-list count meaning "for ever".
inline constexpr int32_t IGNORE_FOREVER = -1;
// Replies ignored after a camera was removed on request; the fifth one adds it again.
inline constexpr int32_t IGNORE_AFTER_REMOVAL = 5;

// The user-defined name stored in a reply (at most 16 characters, up to the first NUL).
std::string userDefinedName(const Reply& reply);

// What the database asks of the rest of the library when cameras come and go. The database calls
// these without holding its mutex, on the thread that changed it (the Discovery thread), because
// they reach other components that may look cameras up again.
class DiscoveryEvents {
public:
    virtual ~DiscoveryEvents();
    // The name of the local adapter that reaches the camera, empty when none does.
    virtual std::string adapterName(uint32_t address) = 0;
    // A camera entered the database: obtain its service and report it found with `information`.
    virtual void cameraFound(uint32_t address, const std::string& name, const HX_CAMERA_INFORMATION& information) = 0;
    // A camera left the database: fail its control channel and report it lost.
    virtual void cameraLost(uint32_t address, const std::string& name) = 0;
};

// Written only by the Discovery thread; read by any thread (lookups by address or name). Every
// operation takes the mutex around the maps alone and calls DiscoveryEvents after releasing it.
// Addresses are IPv4 in network byte order, the key every per-camera registry uses.
class DiscoveryDb {
public:
    explicit DiscoveryDb(DiscoveryEvents& events);
    DiscoveryDb(const DiscoveryDb&) = delete;
    DiscoveryDb& operator=(const DiscoveryDb&) = delete;

    // Handles one discovery reply received from `sourceAddress` (network order).
    void addCamera(const Reply& reply, uint32_t sourceAddress);
    // Runs every camera's timer down by one poll; reports and drops those that reach 0.
    void decrementTimeout();
    // Drops a camera's entry without reporting it.
    void cameraErase(uint32_t address);
    // Reports a camera lost (fails its control channel, sends the lost event).
    void cameraRemoveNotification(uint32_t address, const std::string& name);
    // Drops a camera whose link was lost for good and ignores its next replies.
    void removeCamera(uint32_t address);

    bool getByAddr(uint32_t address, Reply& out) const;
    // With `address`, also the key the camera is listed under (its replies' source).
    bool getByName(const std::string& name, Reply& out, uint32_t* address = nullptr) const;
    // Waits until the camera is in the database and its found-event has been handled (a camera
    // that returns gets its fresh control channel there), or the deadline passes; true when it is.
    bool waitForCamera(uint32_t address, std::chrono::steady_clock::time_point deadline) const;

    // State for diagnostics and tests.
    std::vector<uint32_t> addresses() const;
    std::optional<int32_t> timer(uint32_t address) const;
    std::optional<int32_t> ignoreCount(uint32_t address) const;
    // Why a camera that answered at `address` is not served: its maker and model and the reason
    // ("maker \"...\", model \"...\"; not supported (...)"); nothing when none was refused there.
    std::optional<std::string> refusal(uint32_t address) const;
    // Threads inside waitForCamera now (lets a test add a camera only once someone waits for it).
    std::size_t waiters() const;

private:
    struct CameraEntry {
        int32_t timer = TIMER_START;
        Reply reply{};
        bool announced = false; // its found-event has been handled
    };
    struct Lost {
        uint32_t address;
        std::string name;
    };

    enum class IgnoreVerdict { Ignore, Proceed };
    IgnoreVerdict applyIgnoreList(uint32_t address);
    bool refreshKnown(uint32_t address, const Reply& reply);
    bool passesChecks(uint32_t address, const wire::DiscoveryAck& reply);
    void ignore(uint32_t address, int32_t count);
    void markAnnounced(uint32_t address);
    void insert(uint32_t address, const Reply& reply);
    void announce(uint32_t address, const wire::DiscoveryAck& reply);

    DiscoveryEvents& events_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::map<uint32_t, CameraEntry> cameras_;
    std::map<uint32_t, int32_t> ignored_;
    std::map<uint32_t, std::string> refusals_;
    mutable std::size_t waiters_ = 0;
};

} // namespace halvex::discovery
