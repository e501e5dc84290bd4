// The Discovery thread: the singleton, its poller, its messages and what it does with each.
#include "discovery/discovery.h"

#include <cerrno>
#include <exception>
#include <mutex>
#include <new>

#include "control/hx_notification.h"
#include "discovery/discovery_message_ids.h"
#include "hlv_thread/format.h"
#include "hlv_thread/log.h"
#include "hlv_thread/note.h"
#include "hlv_thread/period_scale.h"
#include "hlv_thread/wake.h"
#include "platform/netutils.h"

namespace halvex::discovery {

using thread::fmtToString;

namespace {

constexpr uint32_t FIRST_POLL_MICROSECONDS = 2'000'000;
constexpr uint32_t POLL_MICROSECONDS = 5'000'000;

} // namespace

DiscoverySend::DiscoverySend(thread::MsgThread* discovery)
{
    req = DISCOVERY_SEND;
    owner = discovery;
}

DiscoveryMessage::DiscoveryMessage(thread::MsgThread* discovery, const Reply& received,
                                   const platform::Ipv4Endpoint& from)
    : reply(received), source(from)
{
    req = DISCOVERY_REPLY;
    owner = discovery;
}

DiscoveryRemoveCamera::DiscoveryRemoveCamera(thread::MsgThread* discovery, uint32_t camera) : address(camera)
{
    req = message_ids::DISCOVERY_REMOVE_CAMERA_MSG;
    owner = discovery;
}

DiscoveryProbe::DiscoveryProbe(thread::MsgThread* discovery, uint32_t camera) : address(camera)
{
    req = DISCOVERY_PROBE;
    owner = discovery;
}

DiscoveryPoll::DiscoveryPoll(Discovery& discovery)
    : Ticker(thread::scaledMicroseconds(FIRST_POLL_MICROSECONDS)), discovery_(discovery)
{
}

DiscoveryPoll::~DiscoveryPoll()
{
    stopAndJoin();
}

void DiscoveryPoll::tick()
{
    if (firstTick_) {
        firstTick_ = false;
        setPeriod(thread::scaledMicroseconds(POLL_MICROSECONDS));
    }
    if (!discovery_.pollingPaused())
        discovery_.post(new DiscoverySend(&discovery_));
}

namespace {

// The library's instance. Allocated once and never freed: other threads may still hold the
// pointer after it has halted.
struct Singleton {
    std::mutex mutex;
    Discovery* instance = nullptr;
    bool closed = false;
    bool closing = false;
    DiscoveryEvents* events = nullptr;
};

Singleton& singleton()
{
    static Singleton* const state = new Singleton;
    return *state;
}

// The message as the type its identifier claims; one that only claims it is logged and dropped.
template <class Expected>
const Expected* claimed(const thread::Message* message, const char* typeName)
{
    const auto* typed = dynamic_cast<const Expected*>(message);
    if (typed == nullptr)
        HLV_LOG("%s: Unexpectedly not a %s pointer!", "Discovery::ownerMessage", typeName);
    return typed;
}

} // namespace

Discovery* Discovery::factory()
{
    Singleton& state = singleton();
    const std::lock_guard lock(state.mutex);
    if (state.closed || (state.instance != nullptr && state.instance->halted())) {
        HLV_TRACE(thread::TRACE_DISCOVERY, "%s: Called after halted", "Discovery::factory");
        return nullptr;
    }
    if (state.instance == nullptr) {
        if (state.events == nullptr) {
            HLV_LOG("%s: no camera events are installed; discovery does not start", "Discovery::factory");
            return nullptr;
        }
        auto created = std::make_unique<Discovery>(*state.events);
        created->start();
        state.instance = created.release();
        // Replies that reach a camera's control socket instead of ours.
        control::setDiscoveryReplySink(
            [](uint32_t camera, std::span<const uint8_t> datagram) { Discovery::forwardReply(datagram, camera); });
    }
    return state.instance;
}

void Discovery::setLibraryEvents(DiscoveryEvents& events)
{
    Singleton& state = singleton();
    const std::lock_guard lock(state.mutex);
    state.events = &events;
}

Discovery* Discovery::existing()
{
    Singleton& state = singleton();
    const std::lock_guard lock(state.mutex);
    return state.instance != nullptr && !state.instance->halted() ? state.instance : nullptr;
}

void Discovery::close()
{
    Singleton& state = singleton();
    Discovery* closing = nullptr;
    {
        const std::lock_guard lock(state.mutex);
        state.closed = true;
        if (!state.closing)
            closing = state.instance;
        state.closing = true;
    }
    if (closing != nullptr)
        thread::closeThread(*closing);
}

void Discovery::forwardReply(std::span<const uint8_t> datagram, uint32_t cameraAddress)
{
    Discovery* discovery = existing();
    if (discovery == nullptr)
        return;
    discovery->processDiscoveryAck(datagram, {cameraAddress, platform::net_utils::DISCOVERY_PORT});
}

void Discovery::removeCamera(uint32_t address)
{
    if (Discovery* discovery = existing())
        discovery->post(new discovery::DiscoveryRemoveCamera(discovery, address));
}

Discovery::Discovery(DiscoveryEvents& events) : MsgThread(WakeOnPost::Yes), events_(events)
{
    try {
        db_ = std::make_unique<DiscoveryDb>(events_);
    } catch (const std::bad_alloc&) {
        HLV_LOG("Unable to allocate cameraInfo database. [%d]", ENOMEM);
    }
    network_.open(*postWake());
}

Discovery::~Discovery()
{
    if (running() && !isCurrentThread())
        thread::closeThread(*this);
    if (!isCurrentThread())
        join();
}

void Discovery::pausePolling(bool pause)
{
    HLV_TRACE(thread::TRACE_DISCOVERY, "%s: pause=%d", "Discovery::pausePolling", pause ? 1 : 0);
    paused_ = pause;
}

bool Discovery::paused() const
{
    const bool pause = pollingPaused();
    HLV_TRACE(thread::TRACE_DISCOVERY, "%s: paused=%d", "Discovery::paused", pause ? 1 : 0);
    return pause;
}

bool Discovery::pollingPaused() const
{
    return paused_;
}

bool Discovery::getDiscoveryInfoByIP(const std::string& dottedAddress, Reply& out) const
{
    if (!db_) {
        HLV_LOG("%s: Unable to access the cameraInfo database.", "Discovery::getDiscoveryInfoByIP");
        return false;
    }
    const std::optional<uint32_t> address = platform::ipv4FromText(dottedAddress);
    return address && db_->getByAddr(*address, out);
}

bool Discovery::getDiscoveryInfoByName(const std::string& name, Reply& out) const
{
    if (!db_) {
        HLV_LOG("%s: Unable to access the cameraInfo database.", "Discovery::getDiscoveryInfoByName");
        return false;
    }
    return db_->getByName(name, out);
}

// The handle is the address the camera is listed under, its replies' source: the address a camera
// reports for itself may be 0.0.0.0.
bool Discovery::lookup(const std::string& nameOrAddress, uint32_t& address) const
{
    if (!db_) {
        HLV_LOG("%s: Unable to access the cameraInfo database.", "Discovery::getDiscoveryInfoByName");
        return false;
    }
    Reply reply{};
    if (db_->getByName(nameOrAddress, reply, &address))
        return true;
    if (!getDiscoveryInfoByIP(nameOrAddress, reply))
        return false;
    address = *platform::ipv4FromText(nameOrAddress);
    return true;
}

std::string Discovery::identity(uint32_t address) const
{
    Reply reply{};
    if (!db_ || !db_->getByAddr(address, reply))
        return {};
    const std::optional<wire::DiscoveryAck> decoded = wire::decodeDiscoveryAck(reply);
    if (!decoded)
        return {};
    const std::array<uint8_t, 6>& mac = decoded->macAddress;
    return fmtToString("%02x:%02x:%02x:%02x:%02x:%02x %s", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5],
                       decoded->serialNumber.c_str());
}

bool Discovery::addCameraByAddress(const std::string& text, uint32_t& address)
{
    const std::optional<uint32_t> parsed = platform::ipv4FromText(text);
    if (!parsed || !db_ || isCurrentThread())
        return false;
    address = *parsed;
    if (db_->timer(address))
        return true;
    if (halted())
        return false;
    // A name lookup must never turn into a broadcast.
    if (!platform::net_utils::isSingleHost(address, platform::net_utils::listAdapters())) {
        HLV_TRACE(thread::TRACE_DISCOVERY, "%s: %s is no camera address.", "Discovery::addCameraByAddress",
                  text.c_str());
        return false;
    }
    HLV_TRACE(thread::TRACE_DISCOVERY, "%s: Asking %s directly.", "Discovery::addCameraByAddress", text.c_str());
    post(new discovery::DiscoveryProbe(this, address));
    return db_->waitForCamera(address, std::chrono::steady_clock::now() + UnicastProbes::PROBE_WAIT);
}

void Discovery::processDiscoveryAck(std::span<const uint8_t> datagram, const platform::Ipv4Endpoint& source)
{
    if (datagram.data() == nullptr) {
        HLV_LOG("%s: Unexpectedly null packet_ptr!", "Discovery::processDiscoveryAck");
        return;
    }
    if (!wire::isDiscoveryReply(datagram))
        return;
    Reply reply{};
    std::copy(datagram.begin(), datagram.end(), reply.begin());
    post(new discovery::DiscoveryMessage(this, reply, source));
}

const DiscoveryDb* Discovery::database() const
{
    return db_.get();
}

void Discovery::run()
{
    try {
        poller_ = std::make_unique<DiscoveryPoll>(*this);
        poller_->start();
        while (!finished_)
            processLoop();
    } catch (const thread::Exception& error) {
        HLV_LOG("%s: Exception during Discovery; terminating: %s", "Discovery::run", error.str().c_str());
    } catch (...) {
        HLV_LOG("%s: Unknown exception caught.", "Discovery::run");
    }
    if (poller_) {
        poller_->stop();
        poller_->join();
        poller_.reset();
    }
    // A loop that ended without a HALT must still refuse later messages and release closers.
    if (!halted())
        haltWithoutLoop();
    HLV_TRACE(thread::TRACE_DISCOVERY, "%s: Done", "Discovery::run");
}

// Takes every queued message. The loop may end only once it has seen the queue empty while
// halted: no message can be queued after that, so none is left behind.
void Discovery::drainQueue()
{
    for (;;) {
        const bool wasHalted = halted();
        if (thread::Message* message = waitForMessage(1)) {
            dispatchGuarded(message);
            continue;
        }
        if (wasHalted)
            finished_ = true;
        if (wasHalted || !halted())
            return;
    }
}

void Discovery::dispatchGuarded(thread::Message* message)
{
    try {
        if (message != nullptr && message->owner == this)
            ownerMessage(message);
        else
            messageHandle(message);
    } catch (const thread::Exception& error) {
        HLV_LOG("%s: Exception during Discovery; terminating: %s", "Discovery::processLoop", error.str().c_str());
    } catch (const std::exception& error) {
        HLV_LOG("%s: Exception during Discovery; terminating: %s", "Discovery::processLoop", error.what());
    } catch (...) {
        HLV_LOG("%s: Unknown exception caught.", "Discovery::processLoop");
    }
}

void Discovery::messageHandle(thread::Message* message)
{
    if (message == nullptr) {
        HLV_LOG("%s: message is unexpectedly null!", "Discovery::messageHandle");
        return;
    }
    if (message->req == thread::HALT) {
        HLV_TRACE(thread::TRACE_DISCOVERY, "%s: halt!", "Discovery::messageHandle");
        message->reply(thread::MESSAGE_DONE);
        return;
    }
    HLV_LOG("Unrecognized message type: 0x%x", message->req);
    message->reply(thread::MESSAGE_FAILED);
}

void Discovery::ownerMessage(thread::Message* message)
{
    if (message == nullptr) {
        HLV_LOG("%s: message is unexpectedly null!", "Discovery::ownerMessage");
        return;
    }
    switch (message->req) {
    case thread::HALT:
    case DISCOVERY_SEND:
    case DISCOVERY_REPLY:
    case DISCOVERY_PROBE:
    case message_ids::DISCOVERY_REMOVE_CAMERA_MSG: handleOwn(message); return;
    default: MsgThread::ownerMessage(message);
    }
}

// Our own messages are asynchronous and end here; a synchronous HALT goes back to its sender.
void Discovery::handleOwn(thread::Message* message)
{
    if (message->synchronous()) {
        HLV_TRACE(thread::TRACE_DISCOVERY, "%s: halt!", "Discovery::ownerMessage");
        message->reply(thread::MESSAGE_DONE);
        return;
    }
    const std::unique_ptr<thread::Message> owned(message);
    switch (message->req) {
    case thread::HALT: HLV_TRACE(thread::TRACE_DISCOVERY, "%s: halt!", "Discovery::ownerMessage"); break;
    case DISCOVERY_SEND:
        if (claimed<DiscoverySend>(message, "DiscoverySend"))
            handleSend();
        break;
    case DISCOVERY_REPLY:
        if (const auto* reply = claimed<DiscoveryMessage>(message, "DiscoveryMessage"))
            handleReply(*reply);
        break;
    case message_ids::DISCOVERY_REMOVE_CAMERA_MSG:
        if (const auto* removal = claimed<DiscoveryRemoveCamera>(message, "DiscoveryRemoveCamera"))
            handleRemoveCamera(*removal);
        break;
    case DISCOVERY_PROBE:
        if (const auto* probe = claimed<DiscoveryProbe>(message, "DiscoveryProbe"))
            handleProbe(*probe);
        break;
    default: break;
    }
}

void Discovery::handleSend()
{
    if (db_)
        db_->decrementTimeout();
    const uint16_t requestId = network_.takeRequestId();
    // Unicast first: a broadcast that fails on one adapter ends the round, and the cameras added by
    // address must not miss a poll because of it. Those that never answered are forgotten once
    // their wait is over.
    probes_.poll([this, requestId](uint32_t address) { network_.sendUnicast(address, requestId); });
    network_.broadcast(requestId);
}

void Discovery::handleReply(const DiscoveryMessage& message)
{
    if (!db_)
        return;
    const uint32_t address = message.source.address;
    db_->addCamera(message.reply, address);
    if (db_->timer(address))
        probes_.noteAnswer(address);
}

void Discovery::handleRemoveCamera(const DiscoveryRemoveCamera& message)
{
    HLV_TRACE(thread::TRACE_DISCOVERY, "%s(%s)", "Discovery::handleRemoveCamera",
              platform::ipv4ToText(message.address).c_str());
    if (db_)
        db_->removeCamera(message.address);
}

void Discovery::handleProbe(const DiscoveryProbe& message)
{
    probes_.add(message.address);
    network_.sendUnicast(message.address, network_.takeRequestId());
}

void Discovery::processLoop()
{
    if (!network_.usable()) {
        // Without a socket there is only the queue to serve: block on it.
        if (thread::Message* message = waitForMessage(0))
            dispatchGuarded(message);
        else
            finished_ = true;
        return;
    }
    try {
        const DiscoveryNetwork::Ready ready = network_.wait();
        if (ready.queue) {
            postWake()->reset(); // before draining, so a post during the drain wakes us again
            drainQueue();
            return;
        }
        if (ready.socket && !halted())
            network_.readReplies([this](std::span<const uint8_t> datagram, const platform::Ipv4Endpoint& source) {
                processDiscoveryAck(datagram, source);
            });
    } catch (const thread::Exception& error) {
        HLV_LOG("%s: Exception during Discovery; terminating: %s", "Discovery::processLoop", error.str().c_str());
    } catch (...) {
        HLV_LOG("%s: Unknown exception caught.", "Discovery::processLoop");
    }
}

std::string Discovery::messageName(uint32_t id) const
{
    switch (id) {
    case DISCOVERY_SEND: return "HLV_DISCOVERY::DiscoverySend";
    case DISCOVERY_REPLY: return "HLV_DISCOVERY::DiscoveryMessage";
    case DISCOVERY_PROBE: return "HLV_DISCOVERY::DiscoveryProbe";
    case message_ids::DISCOVERY_REMOVE_CAMERA_MSG: return "HLV_DISCOVERY::DiscoveryRemoveCamera";
    default: return MsgThread::messageName(id);
    }
}

} // namespace halvex::discovery
