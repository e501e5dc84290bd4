// Stream benchmark: the library's UDP and TCP image receivers beside raw sockets fed by the same
// sender at the same pace, in a private network namespace; throughput, losses and CPU per GB.
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "callback/hx_stream.h"
#include "camera/camera_message_ids.h"
#include "control/hx_comm.h"
#include "control/register_channel.h"
#include "hlv_thread/msg_thread.h"
#include "hlv_thread/sync_message.h"
#include "private_network.h"
#include "stream/tcp_stream.h"
#include "stream/udp_stream.h"
#include "stream_camera.h"
#include "wire/stream_packet.h"

using halvex::callback::HxStream;
using halvex::callback::HxStreamBuffer;
using halvex::callback::streamBufferOf;
using halvex::callback::StreamControl;
using halvex::callback::StreamControlRequest;
using halvex::control::controlChannelFor;
using halvex::control::HxComm;
using halvex::stream::DownloadThrottle;
using halvex::stream::StreamReceiver;
using halvex::stream::TcpStream;
using halvex::stream::UdpStream;

namespace {

using namespace stream_bench;
using Clock = std::chrono::steady_clock;
namespace ids = halvex::message_ids;

// A host buffer keeps a packet's room spare, so an image never spills into a second buffer.
constexpr std::size_t kHostBufferBytes = kImageBytes + 9000;
constexpr unsigned kHostBuffers = 8;
constexpr unsigned kUdpImages = 60;
constexpr unsigned kTcpImages = 100;
// Each pair runs this many times, raw and library in turn, and the best run of each counts: on
// a shared machine other work slows single runs at random.
constexpr unsigned kRounds = 5;
constexpr double kPacedRate = 1000e6; // bytes per second
constexpr auto kPhaseLimit = std::chrono::seconds(20);
constexpr auto kQuietEnd = std::chrono::milliseconds(300);

using Phase = Measured;

// The host: takes every buffer the receiver hands back, counts it, and gives it back at once.
class BenchHost : public halvex::thread::MsgThread {
public:
    BenchHost(StreamReceiver& receiver, uint32_t kind) : receiver_(receiver), kind_(kind), memory_(kHostBuffers)
    {
        records_.resize(kHostBuffers);
        for (unsigned i = 0; i < kHostBuffers; ++i) {
            memory_[i].assign(kHostBufferBytes, 0x11);
            writtenByTheKernel(memory_[i]); // as after a first use
            records_[i].ver_maj = HX_API_VERSION_MAJ;
            records_[i].ver_min = HX_API_VERSION_MIN;
            records_[i].buffer = memory_[i].data();
            records_[i].buffer_size = kHostBufferBytes;
        }
        start();
    }
    ~BenchHost() override { halvex::thread::closeThread(*this); }

    void giveAll()
    {
        for (HX_READ_STREAM& record : records_)
            give(record);
    }
    void messageHandle(halvex::thread::Message* message) override { ownerMessage(message); }
    void ownerMessage(halvex::thread::Message* message) override
    {
        if (message->req == halvex::thread::HALT) {
            message->reply(halvex::thread::MESSAGE_DONE);
            return;
        }
        HxStreamBuffer* stream = streamBufferOf(message);
        const HX_READ_STREAM result = stream->record();
        HX_READ_STREAM* record = stream->hostRecord();
        const bool released = stream->released;
        delete message;
        {
            std::lock_guard<std::mutex> guard(lock_);
            bytes_ += result.received_length;
            complete_ += result.status == 3 ? 1 : 0;
            last_ = Clock::now();
            ++returned_;
        }
        if (!released)
            give(*record);
    }
    uint64_t bytes() const
    {
        std::lock_guard<std::mutex> guard(lock_);
        return bytes_;
    }
    unsigned complete() const
    {
        std::lock_guard<std::mutex> guard(lock_);
        return complete_;
    }
    unsigned returned() const
    {
        std::lock_guard<std::mutex> guard(lock_);
        return returned_;
    }
    Clock::time_point last() const
    {
        std::lock_guard<std::mutex> guard(lock_);
        return last_;
    }

private:
    void give(HX_READ_STREAM& record)
    {
        auto* message = new HxStream<halvex::thread::Message>(kind_, &record, nullptr, 1, 0);
        message->pushRoute(this);
        message->owner = this;
        receiver_.post(message);
    }

    StreamReceiver& receiver_;
    const uint32_t kind_;
    std::vector<Bytes> memory_;
    std::vector<HX_READ_STREAM> records_;
    mutable std::mutex lock_;
    uint64_t bytes_ = 0;
    unsigned complete_ = 0;
    unsigned returned_ = 0;
    Clock::time_point last_{};
};

void enableParser(StreamReceiver& receiver, uint32_t kind)
{
    StreamControl<halvex::thread::SyncMessage> enable(StreamControlRequest::ENABLE_PARSER, 1, kind);
    enable.send(&receiver);
}

// Waits until `done` holds or nothing has moved for a while, within the phase's limit.
void waitForEnd(const std::function<bool()>& done, const std::function<Clock::time_point()>& lastActivity)
{
    const auto limit = Clock::now() + kPhaseLimit;
    while (!done() && Clock::now() < limit) {
        const auto last = lastActivity();
        if (last != Clock::time_point{} && Clock::now() - last > kQuietEnd)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

Phase rawUdp(double rate, unsigned images)
{
    // As much host memory as the library's buffers.
    return runRawUdpSink(images, rate, kHostBuffers * kHostBufferBytes, kQuietEnd);
}

Phase libraryUdp(double rate, unsigned images)
{
    const uint32_t camera = ipv4(kCamera);
    std::shared_ptr<HxComm> channel = HxComm::factory(camera);
    const uint16_t port = channel->ports().stream;
    auto receiver = std::make_unique<UdpStream>(camera, channel, controlChannelFor(camera));
    receiver->startAndWait();
    enableParser(*receiver, ids::LIVE_STREAM_MSG);
    Phase phase;
    {
        BenchHost host(*receiver, ids::LIVE_STREAM_MSG);
        host.giveAll();
        const uint64_t dropsBefore = udpReceiveDrops();
        const double cpuBefore = processCpu();
        const auto start = Clock::now();
        const double senderCpu = sendUdpImages(port, images, rate);
        waitForEnd([&] { return host.returned() >= images; }, [&] { return host.last(); });
        phase.seconds = std::chrono::duration<double>(host.last() - start).count();
        phase.hostCpu = processCpu() - cpuBefore - senderCpu;
        phase.lost = udpReceiveDrops() - dropsBefore;
        phase.bytes = host.bytes();
        phase.complete = host.complete();
        phase.sent = images;
        halvex::thread::closeThread(*receiver);
    }
    return phase;
}

Phase rawTcp(unsigned images)
{
    TcpCamera camera;
    Bytes sink(kHostBuffers * kHostBufferBytes, 0x22); // as much host memory as the library's buffers
    writtenByTheKernel(sink);
    std::size_t offset = 0;
    double senderCpu = 0;
    std::thread sender([&] { senderCpu = camera.serve(images); });
    const int fd = boundSocket(SOCK_STREAM, kHost, 0);
    grantReceiveBuffer(fd);
    const sockaddr_in target = endpoint(kCamera, halvex::wire::kTcpStreamPort);
    connect(fd, reinterpret_cast<const sockaddr*>(&target), sizeof(target));
    const double cpuBefore = processCpu();
    const auto start = Clock::now();
    camera.go = true;
    const uint64_t expected = uint64_t(images) * (kImageBytes + 60);
    uint64_t received = 0;
    // Woken by the socket, then drained until it has nothing more, as the library does.
    pollfd watched{fd, POLLIN, 0};
    bool open = true;
    while (open && received < expected && Clock::now() - start < kPhaseLimit && poll(&watched, 1, 1000) > 0) {
        for (;;) {
            if (offset == sink.size())
                offset = 0;
            // At most an image at a time, as the library reads into a buffer of that size.
            const ssize_t count =
                recv(fd, sink.data() + offset,
                     std::min<uint64_t>({sink.size() - offset, expected - received, kImageBytes}), MSG_DONTWAIT);
            if (count <= 0) {
                open = count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
                break;
            }
            received += uint64_t(count);
            offset += std::size_t(count);
        }
    }
    const auto end = Clock::now();
    camera.stop = true;
    sender.join();
    close(fd);
    Phase phase;
    phase.bytes = received / (kImageBytes + 60) * kImageBytes;
    phase.seconds = std::chrono::duration<double>(end - start).count();
    phase.hostCpu = processCpu() - cpuBefore - senderCpu;
    phase.sent = images;
    return phase;
}

// A download: when the host's buffers run short the receiver pauses the camera, so no image is
// lost however the host thread is scheduled.
Phase libraryTcp(const ControlResponder& responder, unsigned images)
{
    TcpCamera camera;
    camera.paused = [&responder] { return responder.paused(); };
    double senderCpu = 0;
    std::thread sender([&] { senderCpu = camera.serve(images); });
    auto receiver =
        std::make_unique<TcpStream>(ipv4(kCamera), controlChannelFor(ipv4(kCamera)), halvex::wire::kTcpStreamPort);
    receiver->startAndWait();
    enableParser(*receiver, ids::DOWNLOAD_STREAM_MSG);
    Phase phase;
    {
        BenchHost host(*receiver, ids::DOWNLOAD_STREAM_MSG);
        host.giveAll();
        const double cpuBefore = processCpu();
        const auto start = Clock::now();
        camera.go = true;
        waitForEnd([&] { return host.returned() >= images; }, [&] { return host.last(); });
        phase.seconds = std::chrono::duration<double>(host.last() - start).count();
        phase.bytes = host.bytes();
        phase.complete = host.complete();
        phase.sent = images;
        // The receiver goes before the camera closes, or it would try to reconnect.
        halvex::thread::closeThread(*receiver);
        camera.stop = true;
        sender.join();
        phase.hostCpu = processCpu() - cpuBefore - senderCpu;
    }
    return phase;
}

void report(const char* name, const Phase& phase, bool library)
{
    std::printf("%-22s %8.1f MB/s  %6.3f s CPU/GB  packets lost %-6llu", name, phase.rate(), phase.perGb(phase.hostCpu),
                static_cast<unsigned long long>(phase.lost));
    if (library)
        std::printf("  frames %u/%u complete", phase.complete, phase.sent);
    std::printf("\n");
}

// Runs raw and library in turn, keeping each one's best run.
std::pair<Phase, Phase> bestOf(const std::function<Phase()>& raw, const std::function<Phase()>& library)
{
    Phase bestRaw, bestLibrary;
    for (unsigned round = 0; round < kRounds; ++round) {
        const Phase rawRun = raw();
        const Phase libraryRun = library();
        if (rawRun.rate() > bestRaw.rate())
            bestRaw = rawRun;
        if (libraryRun.rate() > bestLibrary.rate())
            bestLibrary = libraryRun;
    }
    return {bestRaw, bestLibrary};
}

bool verdict(const char* name, double ratio, double target)
{
    const bool met = ratio >= target;
    std::printf("%-22s %8.1f %%      target >= %.0f %%: %s\n\n", name, ratio * 100, target * 100,
                met ? "met" : "MISSED");
    return met;
}

} // namespace

// With an argument (udp, paced, tcp) runs only that pair, e.g. for a profiler.
int main(int argc, char** argv)
{
    const std::string only = argc > 1 ? argv[1] : "";
    const auto runs = [&](const char* pair) { return only.empty() || only == pair; };
    std::string why;
    if (!hx_test::enterPrivateNetwork(why)) {
        std::fprintf(stderr, "refusing to run: the stream benchmark needs a private network namespace (%s)\n",
                     why.c_str());
        return 2;
    }
    ControlResponder responder;
    std::printf("stream benchmark: images of %zu bytes in %zu packets of 9000 bytes, %u host buffers; best of %u "
                "runs\n\n",
                kImageBytes, kPacketsPerImage, kHostBuffers, kRounds);
    bool met = true;

    if (runs("udp")) {
        const auto [udpRaw, udpLib] =
            bestOf([] { return rawUdp(0, kUdpImages); }, [] { return libraryUdp(0, kUdpImages); });
        report("UDP unpaced, raw", udpRaw, false);
        report("UDP unpaced, library", udpLib, true);
        met &= verdict("UDP library / raw", udpLib.rate() / udpRaw.rate(), 0.90);
    }
    if (runs("paced")) {
        // Paced runs count only once each: every one of them must lose nothing.
        const Phase pacedRaw = rawUdp(kPacedRate, kUdpImages);
        const Phase pacedLib = libraryUdp(kPacedRate, kUdpImages);
        report("UDP 1000 MB/s, raw", pacedRaw, false);
        report("UDP 1000 MB/s, library", pacedLib, true);
        const bool noLoss = pacedLib.complete == pacedLib.sent && pacedLib.lost == 0;
        std::printf("%-22s %s\n\n", "UDP paced frames lost", noLoss ? "none: target met" : "SOME: target MISSED");
        met &= noLoss;
    }
    if (runs("tcp")) {
        DownloadThrottle::set({2, kHostBuffers - 2});
        const auto [tcpRaw, tcpLib] =
            bestOf([] { return rawTcp(kTcpImages); }, [&] { return libraryTcp(responder, kTcpImages); });
        report("TCP unpaced, raw", tcpRaw, false);
        report("TCP unpaced, library", tcpLib, true);
        met &= verdict("TCP library / raw", tcpLib.rate() / tcpRaw.rate(), 0.85);
    }

    HxComm::close(HxComm::ALL_CAMERAS);
    std::printf("%s\n", met ? "all targets met" : "some targets missed");
    return 0;
}
