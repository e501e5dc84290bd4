// Drives a camera's control channel with fuzzer-scripted requests, acknowledges (fitting or not,
// late, duplicated, for unknown ids, from strangers), event datagrams, age-out ticks and purges,
// in any order; checks that every request ends exactly once, keeps the result it ended with,
// and that none is left waiting once its age-out has passed.
#include <cstdio>
#include <map>
#include <memory>
#include <vector>

#include "control/control_message_ids.h"
#include "control/hx_comm.h"
#include "control/hx_notification.h"
#include "fuzz_check.h"
#include "fuzz_input.h"
#include "wire/control_packet.h"
#include "wire/event_packet.h"

using namespace halvex::control;

using fuzz_input::Input;
using halvex::control::RequestMessage;
namespace code = halvex::wire::control_code;

namespace {

constexpr uint32_t kCamera = 0x0200007F; // 127.0.0.2; the channel never opens its sockets

// The camera's service thread as the channel sees it: counts what it is told.
class Service : public halvex::thread::MsgThread {
public:
    void messageHandle(halvex::thread::Message* message) override { post(message); }
    void post(halvex::thread::Message* message) override
    {
        if (message->req == halvex::message_ids::NOTIFICATION_MSG)
            ++notifications;
        else if (message->req == halvex::message_ids::CAMERA_RETURNED_MSG)
            ++returns;
        delete message;
    }
    std::size_t notifications = 0;
    std::size_t returns = 0;
};

std::shared_ptr<Service>& service()
{
    static std::shared_ptr<Service> instance = std::make_shared<Service>();
    return instance;
}

} // namespace

// The channel's exchange without its sockets and threads: requests are issued as a caller
// issues them, less the send, and the camera's datagrams arrive as the channel's thread hands
// them on.
class halvex::control::ExchangeFeed {
public:
    static std::unique_ptr<HxComm> channel() { return std::unique_ptr<HxComm>(new HxComm(kCamera)); }

    // The request's id when it is now pending.
    static std::optional<uint16_t> issue(HxComm& comm, RequestMessage& request)
    {
        RequestExchange& exchange = comm.exchange_;
        std::lock_guard<std::mutex> guard(exchange.exchangeLock_);
        if (!exchange.withinLimits(request)) {
            exchange.settle(request, halvex::thread::MESSAGE_FAILED);
            return std::nullopt;
        }
        if (exchange.needsNoExchange(request)) {
            request.cameraStatus = halvex::wire::camera_status::kSuccess;
            exchange.settle(request, halvex::thread::MESSAGE_DONE);
            return std::nullopt;
        }
        const uint16_t id = exchange.nextRequestId();
        const Command command = request.encode(id, exchange);
        if (command.datagram.empty() || !command.ackRequired) {
            exchange.settle(request,
                            command.datagram.empty() ? halvex::thread::MESSAGE_FAILED : halvex::thread::MESSAGE_DONE);
            return std::nullopt;
        }
        exchange.pending_[id] = Pending{&request, 0};
        return id;
    }
    static void control(HxComm& comm, std::span<const uint8_t> datagram, bool fromCamera)
    {
        comm.datagrams_.handle(datagram, fromCamera ? kCamera : kCamera + 0x01000000,
                               fromCamera ? halvex::wire::kControlPort : 49152);
    }
    static void event(HxComm& comm, std::span<const uint8_t> datagram)
    {
        HmpMessage message;
        message.length = std::min(datagram.size(), message.buffer.size());
        std::copy_n(datagram.begin(), message.length, message.buffer.begin());
        comm.events_.handle(&message);
    }
    static void tick(HxComm& comm) { comm.exchange_.ageOut(); }
    static void purge(HxComm& comm)
    {
        std::lock_guard<std::mutex> guard(comm.exchange_.exchangeLock_);
        comm.exchange_.failPending(false, "exchange_fuzz");
    }
    static bool pending(HxComm& comm, const RequestMessage& request)
    {
        std::lock_guard<std::mutex> guard(comm.exchange_.exchangeLock_);
        for (const auto& entry : comm.exchange_.pending_)
            if (entry.second.request == &request)
                return true;
        return false;
    }
};

namespace {

using Feed = halvex::control::ExchangeFeed;

halvex::wire::RegisterPairs registersFrom(Input& in)
{
    halvex::wire::RegisterPairs pairs(in.byte() % 4 == 0 ? in.byte() : in.byte() % 8);
    for (auto& pair : pairs)
        pair = {in.u16() * 4u, in.byte()};
    return pairs;
}

std::unique_ptr<RequestMessage> requestFrom(Input& in)
{
    const uint8_t kind = in.byte() % 6;
    // Read before the call: the order in which a call's arguments are read is unspecified.
    const uint32_t address = in.u16() * 4u;
    switch (kind) {
    case 0: return std::make_unique<halvex::control::ReadRegMessage>(kCamera, address);
    case 1: return std::make_unique<halvex::control::WriteRegMessage>(kCamera, address, in.u32());
    case 2: return std::make_unique<halvex::control::ReadMultiRegMessage>(kCamera, registersFrom(in));
    case 3: return std::make_unique<halvex::control::WriteMultiRegMessage>(kCamera, registersFrom(in));
    case 4: return std::make_unique<halvex::control::ReadMemMessage>(kCamera, address, in.u16() % 600);
    default: {
        const std::span<const uint8_t> bytes = in.bytes(in.u16() % 600);
        return std::make_unique<halvex::control::WriteMemMessage>(kCamera, address,
                                                                  std::vector<uint8_t>(bytes.begin(), bytes.end()));
    }
    }
}

// What a request's acknowledge carries after its header when it fits.
std::size_t answerLength(const RequestMessage& request)
{
    if (const auto* multi = dynamic_cast<const halvex::control::ReadMultiRegMessage*>(&request))
        return 4 * multi->pairs.size();
    if (const auto* memory = dynamic_cast<const halvex::control::ReadMemMessage*>(&request))
        return 4 + (memory->byteCount == 0 ? halvex::wire::kMaxMemoryBytes : memory->byteCount);
    return 4;
}

struct Issued {
    std::unique_ptr<RequestMessage> request;
    std::optional<uint16_t> id;
    // The result the request ended with, once it has.
    std::optional<std::pair<uint32_t, uint16_t>> ended;
};

std::vector<uint8_t> acknowledgeFrom(Input& in, const std::vector<Issued>& issued)
{
    const Issued* answered = issued.empty() ? nullptr : &issued[in.byte() % issued.size()];
    const uint8_t choice = in.byte();
    const uint16_t id = answered != nullptr && answered->id && choice < 224 ? *answered->id : in.u16();
    static constexpr uint16_t answers[] = {code::kResultlessAck, code::kReadRegAck,  code::kWriteRegAck,
                                           code::kReadMemAck,    code::kWriteMemAck, code::kDiscoveryAck};
    const uint16_t answer = answered != nullptr && choice % 4 != 0 ? answered->request->expectedAnswer()
                                                                   : answers[in.byte() % std::size(answers)];
    const uint16_t status = in.byte() < 224 ? halvex::wire::camera_status::kSuccess : in.u16();
    std::vector<uint8_t> payload(in.byte() % 4 == 0 || answered == nullptr ? in.u16() % 560
                                                                           : answerLength(*answered->request));
    const std::span<const uint8_t> bytes = in.bytes(payload.size());
    std::copy(bytes.begin(), bytes.end(), payload.begin());
    std::vector<uint8_t> datagram = halvex::wire::encodeAck(status, answer, id, payload);
    if (in.byte() % 16 == 0)
        datagram.resize(in.byte() % datagram.size());
    return datagram;
}

std::vector<uint8_t> eventFrom(Input& in)
{
    if (in.byte() % 8 == 0) {
        const std::span<const uint8_t> raw = in.bytes(in.byte());
        return {raw.begin(), raw.end()};
    }
    halvex::wire::EventData event;
    event.requestId = in.u16();
    event.eventId = in.u16();
    event.value = in.u32();
    return halvex::wire::encodeEventData(event);
}

// Ended exactly once: a request is either still pending or ended, and keeps its first result.
void checkRequests(HxComm& comm, std::vector<Issued>& issued)
{
    for (Issued& entry : issued) {
        const RequestMessage& request = *entry.request;
        FUZZ_CHECK(request.completed != Feed::pending(comm, request));
        if (!request.completed)
            continue;
        FUZZ_CHECK(request.status == halvex::thread::MESSAGE_DONE || request.status == halvex::thread::MESSAGE_FAILED);
        const std::pair<uint32_t, uint16_t> result{request.status, request.cameraStatus};
        FUZZ_CHECK(!entry.ended || *entry.ended == result);
        entry.ended = result;
        if (const auto* memory = dynamic_cast<const halvex::control::ReadMemMessage*>(&request))
            FUZZ_CHECK(memory->data.size() <= halvex::wire::kMaxMemoryBytes);
    }
}

} // namespace

// The channel's log lines go to standard output; the fuzzer reports on standard error.
extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    halvex::control::setNotificationTarget(
        [](uint32_t) -> std::shared_ptr<halvex::thread::MsgThread> { return service(); });
    return std::freopen("/dev/null", "w", stdout) == nullptr ? 1 : 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input in({data, size});
    Service& camera = *service();
    camera.notifications = camera.returns = 0;
    std::vector<Issued> issued;
    std::size_t events = 0;
    std::size_t answers = 0;
    const std::unique_ptr<HxComm> comm = Feed::channel();
    for (int step = 0; step < 256 && !in.empty(); ++step) {
        switch (in.byte() % 8) {
        case 0:
        case 1: {
            issued.push_back({requestFrom(in), std::nullopt, std::nullopt});
            issued.back().id = Feed::issue(*comm, *issued.back().request);
            break;
        }
        case 2:
        case 3: {
            const std::size_t before = std::count_if(issued.begin(), issued.end(),
                                                     [](const Issued& entry) { return entry.request->completed; });
            Feed::control(*comm, acknowledgeFrom(in, issued), in.byte() < 240);
            answers += std::count_if(issued.begin(), issued.end(),
                                     [](const Issued& entry) { return entry.request->completed; }) -
                       before;
            break;
        }
        case 4: {
            const std::vector<uint8_t> datagram = eventFrom(in);
            events += halvex::wire::decodeEventData(datagram).check == halvex::wire::EventCheck::Ok ? 1 : 0;
            Feed::event(*comm, datagram);
            break;
        }
        case 5:
        case 6: Feed::tick(*comm); break;
        default: Feed::purge(*comm); break;
        }
        checkRequests(*comm, issued);
        // One notification for each event, one return at most for each answer taken.
        FUZZ_CHECK(camera.notifications == events);
        FUZZ_CHECK(camera.returns <= answers);
    }
    // Nothing waits for ever: every request still pending ages out.
    for (int32_t tick = 0; tick < HxComm::AGE_OUT_TICKS; ++tick)
        Feed::tick(*comm);
    checkRequests(*comm, issued);
    for (const Issued& entry : issued)
        FUZZ_CHECK(entry.request->completed);
    return 0;
}
