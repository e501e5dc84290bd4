// What the image receiver fuzz targets share: host buffers with guard bytes on both sides, lent
// to a receiver and counted back, the stream control messages that drive its parser, and the UDP
// receiver fed without a socket. The receiver runs on the fuzzer's thread (its own thread is
// never started), so every buffer it hands back arrives here before the step that released it
// returns.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include <hx/hx.h>

#include "callback/hx_stream.h"
#include "camera/camera_message_ids.h"
#include "common/message_id_ranges.h"
#include "control/register_channel.h"
#include "fuzz_check.h"
#include "fuzz_input.h"
#include "hlv_thread/msg_thread.h"
#include "stream/stream_receiver.h"
#include "stream/udp_stream.h"
#include "wire/stream_packet.h"

namespace stream_fuzz {

namespace ids = halvex::message_ids;
using fuzz_input::Input;

// 127.0.0.2: the receivers never open a socket or connection toward it.
constexpr uint32_t kCamera = 0x0200007F;
constexpr std::size_t kGuardSize = 64;
constexpr uint8_t kGuardByte = 0xA5;
constexpr HX_CLIENT_HANDLE kClient = 0x5EED;

// One host buffer: guard, the buffer the receiver may fill, guard.
struct Lent {
    explicit Lent(std::size_t size) : memory(size + 2 * kGuardSize, kGuardByte)
    {
        record.ver_maj = HX_API_VERSION_MAJ;
        record.ver_min = HX_API_VERSION_MIN;
        record.buffer = memory.data() + kGuardSize;
        record.buffer_size = size;
    }
    bool guardsIntact() const
    {
        const auto intact = [](auto first, auto last) {
            return std::all_of(first, last, [](uint8_t b) { return b == kGuardByte; });
        };
        return intact(memory.begin(), memory.begin() + kGuardSize) && intact(memory.end() - kGuardSize, memory.end());
    }

    std::vector<uint8_t> memory;
    HX_READ_STREAM record{};
    halvex::callback::HxStreamBuffer* message = nullptr;
    unsigned returns = 0;
};

// The owner of every message given to the receiver: counts the buffers back and checks them
// as they arrive, while the neighbouring host memory is still as the receiver left it.
class Host : public halvex::thread::MsgThread {
public:
    void messageHandle(halvex::thread::Message* message) override { post(message); }
    void post(halvex::thread::Message* message) override
    {
        halvex::callback::HxStreamBuffer* stream = halvex::callback::streamBufferOf(message);
        FUZZ_CHECK(stream != nullptr);
        if (!stream->stop) {
            const auto found = std::find_if(lent_.begin(), lent_.end(),
                                            [&](const std::unique_ptr<Lent>& lent) { return lent->message == stream; });
            FUZZ_CHECK(found != lent_.end());
            checkReturned(**found, stream->record(), stream->released);
            // The message dies here; a later one may be given its address.
            (*found)->message = nullptr;
        }
        delete message;
    }

    // Lends a live or playback buffer: download buffers would have the receiver pause the camera
    // over its control channel, which this harness does not have.
    void lend(halvex::stream::StreamReceiver& receiver, Input& in)
    {
        const uint32_t kind = in.byte() % 2 == 0 ? ids::LIVE_STREAM_MSG : ids::PLAYBACK_STREAM_MSG;
        const std::size_t size = 1 + (in.byte() % 4 == 0 ? in.byte() : in.u16() % 40000);
        lent_.push_back(std::make_unique<Lent>(size));
        auto* message =
            new halvex::callback::HxStream<halvex::thread::Message>(kind, &lent_.back()->record, nullptr, kClient, 0);
        message->owner = this;
        lent_.back()->message = message;
        receiver.messageHandle(message);
    }
    void stopStream(halvex::stream::StreamReceiver& receiver, Input& in)
    {
        auto* message =
            new halvex::callback::HxStream<halvex::thread::Message>(kindFrom(in.byte()), nullptr, nullptr, kClient, 0);
        message->stop = true;
        message->owner = this;
        receiver.messageHandle(message);
    }
    // Switches the parser on or off for a kind, or shuts it down; never pauses (see lend).
    static void control(halvex::stream::StreamReceiver& receiver, Input& in)
    {
        const uint8_t choice = in.byte();
        const uint32_t command = choice % 8 == 0 ? halvex::callback::StreamControlRequest::SHUTDOWN
                                                 : halvex::callback::StreamControlRequest::ENABLE_PARSER;
        auto* message = new halvex::callback::StreamControl<halvex::thread::Message>(command, (choice >> 3) % 4 != 0,
                                                                                     kindFrom(choice >> 5));
        receiver.messageHandle(message);
    }
    // Every buffer lent has come back exactly once once the receiver is shut down.
    void finish(halvex::stream::StreamReceiver& receiver)
    {
        receiver.messageHandle(new halvex::callback::StreamControl<halvex::thread::Message>(
            halvex::callback::StreamControlRequest::SHUTDOWN, 1));
        for (const std::unique_ptr<Lent>& lent : lent_)
            FUZZ_CHECK(lent->returns == 1 && lent->guardsIntact());
    }

private:
    static uint32_t kindFrom(uint8_t choice)
    {
        static constexpr uint32_t kinds[] = {ids::LIVE_STREAM_MSG, ids::PLAYBACK_STREAM_MSG, ids::DOWNLOAD_STREAM_MSG,
                                             ids::INTERNAL_START};
        return kinds[choice % 4];
    }
    static void checkReturned(Lent& lent, const HX_READ_STREAM& results, bool released)
    {
        FUZZ_CHECK(++lent.returns == 1);
        FUZZ_CHECK(lent.guardsIntact());
        if (released) {
            FUZZ_CHECK(results.status & HX_STREAM_STATUS_ERROR && results.status & HX_STREAM_STATUS_LAST);
            FUZZ_CHECK(results.received_length == 0);
            return;
        }
        // Lengths count the whole image so far, over all the buffers it filled.
        FUZZ_CHECK(results.received_length <= results.image_length);
        // An image that came whole and clean came with all its bytes.
        if ((results.status & (HX_STREAM_STATUS_COMPLETE | HX_STREAM_STATUS_ERROR)) == HX_STREAM_STATUS_COMPLETE)
            FUZZ_CHECK(results.received_length == results.image_length);
    }

    std::vector<std::unique_ptr<Lent>> lent_;
};

// The UDP receiver without its socket: datagrams go straight to its parser.
class FedUdpStream : public halvex::stream::UdpStream {
public:
    FedUdpStream() : UdpStream(kCamera, nullptr, halvex::control::controlChannelFor(kCamera)) {}
    using UdpStream::handleDatagram;
};

// Spoils one field of a leader when `shape` asks for it (mostly it does not).
inline void spoilLeader(halvex::wire::StreamLeader& leader, uint8_t shape, Input& in)
{
    if (shape >> 2 == 1)
        leader.fileName = in.text(halvex::wire::kFileNameSize);
    else if (shape >> 2 == 2)
        leader.payloadType = in.byte();
    else if (shape >> 2 == 3)
        leader.header.packetFormat = in.byte() % 4;
    else if (shape >> 2 == 4)
        leader.magic = in.u16();
}

// Runs one script against the receiver: steps 0 to 2 of every ten are the host's (lend, switch
// the parser, stop a stream), the others go to `feed` with their step number; `drain` lets
// through what the receiver has not read yet before the host takes every buffer back.
template <class Receiver, class Feed, class Drain>
void runScript(const uint8_t* data, std::size_t size, Receiver& receiver, Feed feed, Drain drain)
{
    Input in({data, size});
    Host host;
    for (int step = 0; step < 256 && !in.empty(); ++step) {
        const uint8_t action = in.byte() % 10;
        if (action == 0)
            host.lend(receiver, in);
        else if (action == 1)
            Host::control(receiver, in);
        else if (action == 2)
            host.stopStream(receiver, in);
        else
            feed(action, in);
    }
    drain();
    host.finish(receiver);
}

} // namespace stream_fuzz

// The receiver's log lines go to standard output; the fuzzer reports on standard error.
extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    return std::freopen("/dev/null", "w", stdout) == nullptr ? 1 : 0;
}
