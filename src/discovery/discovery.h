// The Discovery thread: finds cameras by periodic broadcast on every adapter and by address,
// keeps the camera database, and reports each camera found or lost to the clients.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "common/message_id_ranges.h"
#include "discovery/discovery_db.h"
#include "discovery/discovery_network.h"
#include "discovery/unicast_probes.h"
#include "hlv_thread/msg_thread.h"
#include "hlv_thread/ticker.h"
#include "platform/ipv4_endpoint.h"

namespace halvex::discovery {

class Discovery;

// Private message identifiers of the Discovery thread.
enum : uint32_t {
    DISCOVERY_SEND = message_ids::INTERNAL_START,
    DISCOVERY_REPLY = message_ids::INTERNAL_START + 1,
    DISCOVERY_PROBE = message_ids::INTERNAL_START + 2,
};

// The poller's request for one round of discovery requests.
class DiscoverySend : public thread::Message {
public:
    explicit DiscoverySend(thread::MsgThread* discovery);
};

// One discovery reply and where it came from.
class DiscoveryMessage : public thread::Message {
public:
    DiscoveryMessage(thread::MsgThread* discovery, const Reply& reply, const platform::Ipv4Endpoint& source);
    Reply reply;
    platform::Ipv4Endpoint source;
};

// A camera whose image connection was lost for good: drop it and ignore its next replies.
class DiscoveryRemoveCamera : public thread::Message {
public:
    DiscoveryRemoveCamera(thread::MsgThread* discovery, uint32_t address);
    uint32_t address;
};

// A camera to reach by address: send it a unicast request now, and at every poll once it answers.
class DiscoveryProbe : public thread::Message {
public:
    DiscoveryProbe(thread::MsgThread* discovery, uint32_t address);
    uint32_t address;
};

// Ticks the Discovery thread: the first round 2 s after start, then one every 5 s (both scaled
// by the test hook). Its tick only posts, so it never waits on the thread that stops it.
class DiscoveryPoll : public thread::Ticker {
public:
    explicit DiscoveryPoll(Discovery& discovery);
    ~DiscoveryPoll() override;
    void tick() override;

private:
    Discovery& discovery_;
    bool firstTick_ = true;
};

// The process-wide discovery message thread. Its loop waits on its message queue and on the
// discovery socket together. The database it owns is written on this thread only and read by
// API threads (lookups) and camera services.
//
// Threads:
// - any thread: the static operations, pausePolling/paused, the lookups (getDiscoveryInfoBy*,
//   lookup, identity, database) and processDiscoveryAck, which only queues the reply;
// - any thread but the Discovery thread: addCameraByAddress, which waits for the thread to accept
//   the camera;
// - the Discovery thread only: run, messageHandle and the handlers behind them;
// - the owner (the library's start and close, or a test): the constructor and the destructor.
class Discovery : public thread::MsgThread {
public:
    // The single library instance, created and started on first use; nullptr once it has halted.
    static Discovery* factory();
    // What the library's instance reports cameras coming and going to: the layers above discovery
    // install it once, before the first factory() call, which refuses to start without it.
    static void setLibraryEvents(DiscoveryEvents& events);
    // The library instance if it runs; never creates one.
    static Discovery* existing();
    // Halts and joins the library instance (library shutdown); later factory calls return nullptr.
    static void close();
    // A discovery reply that reached another socket (a camera's control channel); dropped when
    // discovery does not run.
    static void forwardReply(std::span<const uint8_t> datagram, uint32_t cameraAddress);
    // The camera's image connection is lost for good (posts a DiscoveryRemoveCamera).
    static void removeCamera(uint32_t address);

    // A discovery reporting to `events`; the library's instance comes from factory().
    explicit Discovery(DiscoveryEvents& events);
    ~Discovery() override;

    void pausePolling(bool pause);
    bool paused() const;
    bool getDiscoveryInfoByIP(const std::string& dottedAddress, Reply& out) const;
    bool getDiscoveryInfoByName(const std::string& name, Reply& out) const;
    // The camera handle of a known camera, looked up by user-defined name, then by dotted address.
    bool lookup(const std::string& nameOrAddress, uint32_t& address) const;
    // The MAC address and serial number of the camera listed at the address; empty when none is.
    std::string identity(uint32_t address) const;
    // For a dotted address unknown to the database: sends a unicast discovery request, waits up to
    // one second until the camera has been accepted, and keeps polling it by unicast from then on
    // (a camera the broadcast does not reach). False for any other text or a camera that does not
    // answer or is refused. Not from the Discovery thread itself.
    bool addCameraByAddress(const std::string& text, uint32_t& address);
    // Takes one received datagram: a full-size successful discovery reply is queued for the database.
    void processDiscoveryAck(std::span<const uint8_t> datagram, const platform::Ipv4Endpoint& source);
    // The camera database; nullptr only when it could not be created.
    const DiscoveryDb* database() const;

    void run() override;
    void messageHandle(thread::Message* message) override;
    void ownerMessage(thread::Message* message) override;
    std::string messageName(uint32_t id) const override;

private:
    friend class DiscoveryPoll;

    void processLoop();
    void dispatchGuarded(thread::Message* message);
    void drainQueue();
    void handleOwn(thread::Message* message);
    void handleSend();
    void handleReply(const DiscoveryMessage& message);
    void handleRemoveCamera(const DiscoveryRemoveCamera& message);
    void handleProbe(const DiscoveryProbe& message);
    bool pollingPaused() const;

    DiscoveryEvents& events_;
    std::unique_ptr<DiscoveryDb> db_;
    DiscoveryNetwork network_;
    UnicastProbes probes_;
    std::unique_ptr<DiscoveryPoll> poller_;
    std::atomic<bool> paused_{false};
    bool finished_ = false;
};

} // namespace halvex::discovery
