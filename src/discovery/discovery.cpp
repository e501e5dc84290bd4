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

namespace HLV_DISCOVERY {
namespace {

constexpr uint32_t FIRST_POLL_MICROSECONDS = 2'000'000;
constexpr uint32_t POLL_MICROSECONDS = 5'000'000;

} // namespace

DiscoverySend::DiscoverySend(HLV_THREAD::MsgThread* discovery)
{
    req = DISCOVERY_SEND;
    owner = discovery;
}

DiscoveryMessage::DiscoveryMessage(HLV_THREAD::MsgThread* discovery, const Reply& received,
                                   const HX_PLATFORM::Ipv4Endpoint& from)
    : reply(received), source(from)
{
    req = DISCOVERY_REPLY;
    owner = discovery;
}

DiscoveryRemoveCamera::DiscoveryRemoveCamera(HLV_THREAD::MsgThread* discovery, uint32_t camera) : address(camera)
{
    req = HX_MESSAGE_IDS::DISCOVERY_REMOVE_CAMERA_MSG;
    owner = discovery;
}

DiscoveryProbe::DiscoveryProbe(HLV_THREAD::MsgThread* discovery, uint32_t camera) : address(camera)
{
    req = DISCOVERY_PROBE;
    owner = discovery;
}

DiscoveryPoll::DiscoveryPoll(Discovery& discovery)
    : Ticker(HLV_THREAD::scaledMicroseconds(FIRST_POLL_MICROSECONDS)), discovery_(discovery)
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
        setPeriod(HLV_THREAD::scaledMicroseconds(POLL_MICROSECONDS));
    }
    if (!discovery_.pollingPaused())
        discovery_.post(new DiscoverySend(&discovery_));
}

} // namespace HLV_DISCOVERY

using HLV_DISCOVERY::DiscoveryDb;
using HLV_DISCOVERY::Reply;

namespace {

// The library's instance. Allocated once and never freed: other threads may still hold the
// pointer after it has halted.
struct Singleton {
    std::mutex mutex;
    Discovery* instance = nullptr;
    bool closed = false;
    bool closing = false;
    HLV_DISCOVERY::DiscoveryEvents* events = nullptr;
};

Singleton& singleton()
{
    static Singleton* const state = new Singleton;
    return *state;
}

// The message as the type its identifier claims; one that only claims it is logged and dropped.
template <class Expected>
const Expected* claimed(const HLV_THREAD::Message* message, const char* typeName)
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
        HLV_TRACE(HLV_THREAD::TRACE_DISCOVERY, "%s: Called after halted", "Discovery::factory");
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
        HX_COMM::setDiscoveryReplySink(
            [](uint32_t camera, std::span<const uint8_t> datagram) { Discovery::forwardReply(datagram, camera); });
    }
    return state.instance;
}

void Discovery::setLibraryEvents(HLV_DISCOVERY::DiscoveryEvents& events)
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
        HLV_THREAD::closeThread(*closing);
}

void Discovery::forwardReply(std::span<const uint8_t> datagram, uint32_t cameraAddress)
{
    Discovery* discovery = existing();
    if (discovery == nullptr)
        return;
    discovery->processDiscoveryAck(datagram, {cameraAddress, HX_NETUTILS::DISCOVERY_PORT});
}

void Discovery::removeCamera(uint32_t address)
{
    if (Discovery* discovery = existing())
        discovery->post(new HLV_DISCOVERY::DiscoveryRemoveCamera(discovery, address));
}

Discovery::Discovery(HLV_DISCOVERY::DiscoveryEvents& events) : MsgThread(WakeOnPost::Yes), events_(events)
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
        HLV_THREAD::closeThread(*this);
    if (!isCurrentThread())
        join();
}

void Discovery::pausePolling(bool pause)
{
    HLV_TRACE(HLV_THREAD::TRACE_DISCOVERY, "%s: pause=%d", "Discovery::pausePolling", pause ? 1 : 0);
    paused_ = pause;
}

bool Discovery::paused() const
{
    const bool pause = pollingPaused();
    HLV_TRACE(HLV_THREAD::TRACE_DISCOVERY, "%s: paused=%d", "Discovery::paused", pause ? 1 : 0);
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
    const std::optional<uint32_t> address = HX_PLATFORM::ipv4FromText(dottedAddress);
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
    address = *HX_PLATFORM::ipv4FromText(nameOrAddress);
    return true;
}

std::string Discovery::identity(uint32_t address) const
{
    Reply reply{};
    if (!db_ || !db_->getByAddr(address, reply))
        return {};
    const std::optional<HX_WIRE::DiscoveryAck> decoded = HX_WIRE::decodeDiscoveryAck(reply);
    if (!decoded)
        return {};
    const std::array<uint8_t, 6>& mac = decoded->macAddress;
    return fmtToString("%02x:%02x:%02x:%02x:%02x:%02x %s", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5],
                       decoded->serialNumber.c_str());
}

bool Discovery::addCameraByAddress(const std::string& text, uint32_t& address)
{
    const std::optional<uint32_t> parsed = HX_PLATFORM::ipv4FromText(text);
    if (!parsed || !db_ || isCurrentThread())
        return false;
    address = *parsed;
    if (db_->timer(address))
        return true;
    if (halted())
        return false;
    // A name lookup must never turn into a broadcast.
    if (!HX_NETUTILS::isSingleHost(address, HX_NETUTILS::listAdapters())) {
        HLV_TRACE(HLV_THREAD::TRACE_DISCOVERY, "%s: %s is no camera address.", "Discovery::addCameraByAddress",
                  text.c_str());
        return false;
    }
    HLV_TRACE(HLV_THREAD::TRACE_DISCOVERY, "%s: Asking %s directly.", "Discovery::addCameraByAddress", text.c_str());
    post(new HLV_DISCOVERY::DiscoveryProbe(this, address));
    return db_->waitForCamera(address, std::chrono::steady_clock::now() + HLV_DISCOVERY::UnicastProbes::PROBE_WAIT);
}

void Discovery::processDiscoveryAck(std::span<const uint8_t> datagram, const HX_PLATFORM::Ipv4Endpoint& source)
{
    if (datagram.data() == nullptr) {
        HLV_LOG("%s: Unexpectedly null packet_ptr!", "Discovery::processDiscoveryAck");
        return;
    }
    if (!HX_WIRE::isDiscoveryReply(datagram))
        return;
    Reply reply{};
    std::copy(datagram.begin(), datagram.end(), reply.begin());
    post(new HLV_DISCOVERY::DiscoveryMessage(this, reply, source));
}

const DiscoveryDb* Discovery::database() const
{
    return db_.get();
}

void Discovery::run()
{
    try {
        poller_ = std::make_unique<HLV_DISCOVERY::DiscoveryPoll>(*this);
        poller_->start();
        while (!finished_)
            processLoop();
    } catch (const HLV_THREAD::Exception& error) {
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
    HLV_TRACE(HLV_THREAD::TRACE_DISCOVERY, "%s: Done", "Discovery::run");
}

// Takes every queued message. The loop may end only once it has seen the queue empty while
// halted: no message can be queued after that, so none is left behind.
void Discovery::drainQueue()
{
    for (;;) {
        const bool wasHalted = halted();
        if (HLV_THREAD::Message* message = waitForMessage(1)) {
            dispatchGuarded(message);
            continue;
        }
        if (wasHalted)
            finished_ = true;
        if (wasHalted || !halted())
            return;
    }
}

void Discovery::dispatchGuarded(HLV_THREAD::Message* message)
{
    try {
        if (message != nullptr && message->owner == this)
            ownerMessage(message);
        else
            messageHandle(message);
    } catch (const HLV_THREAD::Exception& error) {
        HLV_LOG("%s: Exception during Discovery; terminating: %s", "Discovery::processLoop", error.str().c_str());
    } catch (const std::exception& error) {
        HLV_LOG("%s: Exception during Discovery; terminating: %s", "Discovery::processLoop", error.what());
    } catch (...) {
        HLV_LOG("%s: Unknown exception caught.", "Discovery::processLoop");
    }
}

void Discovery::messageHandle(HLV_THREAD::Message* message)
{
    if (message == nullptr) {
        HLV_LOG("%s: message is unexpectedly null!", "Discovery::messageHandle");
        return;
    }
    if (message->req == HLV_THREAD::HALT) {
        HLV_TRACE(HLV_THREAD::TRACE_DISCOVERY, "%s: halt!", "Discovery::messageHandle");
        message->reply(HLV_THREAD::MESSAGE_DONE);
        return;
    }
    HLV_LOG("Unrecognized message type: 0x%x", message->req);
    message->reply(HLV_THREAD::MESSAGE_FAILED);
}

void Discovery::ownerMessage(HLV_THREAD::Message* message)
{
    if (message == nullptr) {
        HLV_LOG("%s: message is unexpectedly null!", "Discovery::ownerMessage");
        return;
    }
    switch (message->req) {
    case HLV_THREAD::HALT:
    case HLV_DISCOVERY::DISCOVERY_SEND:
    case HLV_DISCOVERY::DISCOVERY_REPLY:
    case HLV_DISCOVERY::DISCOVERY_PROBE:
    case HX_MESSAGE_IDS::DISCOVERY_REMOVE_CAMERA_MSG: handleOwn(message); return;
    default: MsgThread::ownerMessage(message);
    }
}

// Our own messages are asynchronous and end here; a synchronous HALT goes back to its sender.
void Discovery::handleOwn(HLV_THREAD::Message* message)
{
    if (message->synchronous()) {
        HLV_TRACE(HLV_THREAD::TRACE_DISCOVERY, "%s: halt!", "Discovery::ownerMessage");
        message->reply(HLV_THREAD::MESSAGE_DONE);
        return;
    }
    const std::unique_ptr<HLV_THREAD::Message> owned(message);
    switch (message->req) {
    case HLV_THREAD::HALT: HLV_TRACE(HLV_THREAD::TRACE_DISCOVERY, "%s: halt!", "Discovery::ownerMessage"); break;
    case HLV_DISCOVERY::DISCOVERY_SEND:
        if (claimed<HLV_DISCOVERY::DiscoverySend>(message, "DiscoverySend"))
            handleSend();
        break;
    case HLV_DISCOVERY::DISCOVERY_REPLY:
        if (const auto* reply = claimed<HLV_DISCOVERY::DiscoveryMessage>(message, "DiscoveryMessage"))
            handleReply(*reply);
        break;
    case HX_MESSAGE_IDS::DISCOVERY_REMOVE_CAMERA_MSG:
        if (const auto* removal = claimed<HLV_DISCOVERY::DiscoveryRemoveCamera>(message, "DiscoveryRemoveCamera"))
            handleRemoveCamera(*removal);
        break;
    case HLV_DISCOVERY::DISCOVERY_PROBE:
        if (const auto* probe = claimed<HLV_DISCOVERY::DiscoveryProbe>(message, "DiscoveryProbe"))
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

void Discovery::handleReply(const HLV_DISCOVERY::DiscoveryMessage& message)
{
    if (!db_)
        return;
    const uint32_t address = message.source.address;
    db_->addCamera(message.reply, address);
    if (db_->timer(address))
        probes_.noteAnswer(address);
}

void Discovery::handleRemoveCamera(const HLV_DISCOVERY::DiscoveryRemoveCamera& message)
{
    HLV_TRACE(HLV_THREAD::TRACE_DISCOVERY, "%s(%s)", "Discovery::handleRemoveCamera",
              HX_PLATFORM::ipv4ToText(message.address).c_str());
    if (db_)
        db_->removeCamera(message.address);
}

void Discovery::handleProbe(const HLV_DISCOVERY::DiscoveryProbe& message)
{
    probes_.add(message.address);
    network_.sendUnicast(message.address, network_.takeRequestId());
}

void Discovery::processLoop()
{
    if (!network_.usable()) {
        // Without a socket there is only the queue to serve: block on it.
        if (HLV_THREAD::Message* message = waitForMessage(0))
            dispatchGuarded(message);
        else
            finished_ = true;
        return;
    }
    try {
        const HLV_DISCOVERY::DiscoveryNetwork::Ready ready = network_.wait();
        if (ready.queue) {
            postWake()->reset(); // before draining, so a post during the drain wakes us again
            drainQueue();
            return;
        }
        if (ready.socket && !halted())
            network_.readReplies([this](std::span<const uint8_t> datagram, const HX_PLATFORM::Ipv4Endpoint& source) {
                processDiscoveryAck(datagram, source);
            });
    } catch (const HLV_THREAD::Exception& error) {
        HLV_LOG("%s: Exception during Discovery; terminating: %s", "Discovery::processLoop", error.str().c_str());
    } catch (...) {
        HLV_LOG("%s: Unknown exception caught.", "Discovery::processLoop");
    }
}

std::string Discovery::messageName(uint32_t id) const
{
    switch (id) {
    case HLV_DISCOVERY::DISCOVERY_SEND: return "HLV_DISCOVERY::DiscoverySend";
    case HLV_DISCOVERY::DISCOVERY_REPLY: return "HLV_DISCOVERY::DiscoveryMessage";
    case HLV_DISCOVERY::DISCOVERY_PROBE: return "HLV_DISCOVERY::DiscoveryProbe";
    case HX_MESSAGE_IDS::DISCOVERY_REMOVE_CAMERA_MSG: return "HLV_DISCOVERY::DiscoveryRemoveCamera";
    default: return MsgThread::messageName(id);
    }
}
