// Pipeline benchmark: stand-in cameras (hxsim, in this process) -> the library -> host buffers, in
// a private network namespace, for UDP download, UDP live and TCP download with one and four
// cameras, beside raw sinks in the same run: one fed by a synthetic sender, and plain, coalesced,
// packet-ring and io_uring sinks fed by hxsim's own download. CPU is counted for the camera side
// (hxsim's threads) and the host side (everything else) apart; each image is timed from the send
// of its last packet to the host having it.
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <hx/hx.h>

#include "camera_sink.h"
#include "frame_latency.h"
#include "host_memory.h"
#include "private_network.h"
#include "registers/register_map.h"
#include "sim/net/cluster.h"
#include "sim/program/options.h"
#include "stream/coalesced_receive_switch.h"
#include "stream_camera.h"
#include "wire/control_packet.h"

using halvex::stream::CoalescedReceiveSwitch;

namespace {

using namespace stream_bench;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kWidth = 1920;
constexpr uint32_t kHeight = 1080;
constexpr uint32_t kFrames = 250; // a recording of full-HD frames, as a user downloads them
constexpr uint32_t kLiveSeconds = 2;
constexpr uint32_t kFrameRate = 500; // recordings take half a second, live asks for 1 GB/s
constexpr uint32_t kHostBuffers = 8;
constexpr std::size_t kBufferBytes = (kWidth * kHeight + 8192) / 4096 * 4096 + 4096;
constexpr unsigned kRounds = 5;
constexpr auto kPhaseLimit = std::chrono::seconds(30);
constexpr uint32_t kFirstUdp = 0x7F000010; // 127.0.0.16.. first family (UDP)
constexpr uint32_t kFirstTcp = 0x7F000020; // 127.0.0.32.. second family (TCP)
constexpr unsigned kCameras = 4;
constexpr uint32_t kHostAddress = 0x7F000001;
// An image in the host's hands within this of its last packet leaving the camera, at 1 GB/s.
constexpr double kLatencyTargetMicros = 200;

double cameraCpu()
{
    double total = 0;
    DIR* tasks = opendir("/proc/self/task");
    while (dirent* entry = tasks != nullptr ? readdir(tasks) : nullptr) {
        if (entry->d_name[0] == '.')
            continue;
        const std::string base = std::string("/proc/self/task/") + entry->d_name;
        std::string name;
        std::getline(std::ifstream(base + "/comm"), name);
        if (name.rfind("hxsim", 0) != 0)
            continue;
        unsigned long long nanos = 0;
        std::ifstream(base + "/schedstat") >> nanos;
        total += double(nanos) * 1e-9;
    }
    if (tasks != nullptr)
        closedir(tasks);
    return total;
}

// A row's figures, with the image latencies of every round behind it.
struct Result : Measured {
    std::vector<double> latencyMicros;
};

// Named rows of a table, in the order they print.
using Rows = std::vector<std::pair<std::string, Result>>;
// The row that no camera feeds, so no image of it is timed.
constexpr const char* kSyntheticRow = "raw sink, synthetic sender";

FrameLatency frameLatency;
// The address of each camera the library has a handle for: the cameras stamp by address. Filled
// before the first stream, read by the Callback thread.
std::map<HX_CAMERA_HANDLE, uint32_t> addressOf;

// --- the raw sink: the stream benchmark's synthetic sender into a plain socket ------------------

Result rawUdpSink(unsigned images)
{
    Result result;
    static_cast<Measured&>(result) =
        runRawUdpSink(images, 0, kHostBuffers * kBufferBytes, std::chrono::milliseconds(300));
    return result;
}

// hxsim's own download straight into a plain socket: the camera is told by register writes of our
// own (no library), so this is the camera at its line rate with the least a host can do.
void writeRegisters(uint32_t camera, const halvex::wire::RegisterPairs& pairs)
{
    static uint16_t requestId = 1;
    const int fd = boundSocket(SOCK_DGRAM, kHost, 0);
    const Bytes request = halvex::wire::encodeWriteRegCmd(pairs, true, ++requestId);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(camera);
    to.sin_port = htons(halvex::wire::kControlPort);
    sendto(fd, request.data(), request.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof(to));
    pollfd answer{fd, POLLIN, 0};
    if (poll(&answer, 1, 2000) != 1) {
        std::fprintf(stderr, "pipeline: the camera did not acknowledge a register write\n");
        std::exit(1);
    }
    close(fd);
}

// One of the raw sinks, fed by the camera at `camera`; the benchmark stops, saying why, when this
// system cannot have it.
Result rawFromCamera(uint32_t camera, SinkKind kind)
{
    namespace regs = halvex::registers;
    std::string why;
    const std::unique_ptr<CameraSink> sink = makeCameraSink(kind, camera, kHostAddress, why);
    if (!sink) {
        std::fprintf(stderr, "pipeline: no such raw sink here: %s\n", why.c_str());
        std::exit(1);
    }
    HostMemory memory(kHostBuffers * kBufferBytes, camera, frameLatency);
    Result result;
    frameLatency.clear();
    const uint64_t dropsBefore = udpReceiveDrops();
    const double cpuBefore = processCpu();
    const double cameraBefore = cameraCpu();
    const auto start = Clock::now();
    writeRegisters(camera, {{halvex::wire::kWriteGateRegister, halvex::wire::kWriteGateOpen},
                            {regs::GIGE_REG_HEARTBEAT_TIMEOUT, 100000000},
                            {regs::GIGE_REG_SCPS0, 9000},
                            {regs::GIGE_REG_SCDA0, 0x7F000001},
                            {regs::GIGE_REG_SCP0, sink->port()},
                            {regs::GIGE_REG_DOWNLOAD_START, 0},
                            {regs::GIGE_REG_DOWNLOAD_END, kFrames - 1},
                            {regs::GIGE_REG_STREAM_CONTROL, 3}});
    Clock::time_point last = start;
    while (memory.images() < kFrames && Clock::now() - start < kPhaseLimit &&
           sink->take(std::chrono::milliseconds(300), memory))
        last = Clock::now();
    result.bytes = memory.bytes();
    result.complete = std::min(memory.images(), kFrames);
    result.seconds = std::chrono::duration<double>(last - start).count();
    result.cameraCpu = cameraCpu() - cameraBefore;
    result.hostCpu = processCpu() - cpuBefore - result.cameraCpu;
    result.lost = udpReceiveDrops() - dropsBefore + sink->drops();
    result.incomplete = kFrames - result.complete;
    writeRegisters(camera, {{regs::GIGE_REG_STREAM_CONTROL, 0}, {regs::GIGE_REG_SCP0, 0}});
    frameLatency.collect(result.latencyMicros);
    return result;
}

// --- the library's side ----------------------------------------------------------------------------

// What the host got from one camera's stream; filled on the library's Callback thread.
struct Feed {
    HX_CAMERA_HANDLE camera = 0;
    std::vector<std::unique_ptr<uint8_t[]>> memory;
    std::vector<HX_READ_STREAM> records;
    uint32_t kind = HX_DOWNLOAD_DATA;
    uint64_t bytes = 0;
    unsigned complete = 0;
    unsigned incomplete = 0;
    bool last = false;
    bool stop = false; // live: no more lending
    Clock::time_point lastAt{};
};

std::mutex feedsLock;
std::condition_variable feedsChanged;
std::map<HX_CAMERA_HANDLE, Feed*> feeds;
HX_CLIENT_HANDLE client = 0;
// Feeds of finished runs: the library may hold a lent buffer until it shuts down.
std::vector<std::unique_ptr<Feed>> retired;

HX_STATUS lend(Feed& feed, HX_READ_STREAM* record)
{
    record->status = 0;
    record->received_length = 0;
    record->image_length = 0;
    return feed.kind == HX_DOWNLOAD_DATA ? HX_download(client, feed.camera, record)
                                         : HX_live(client, feed.camera, record);
}

void onEvent(uint32_t event, HX_CLIENT_HANDLE, HX_CAMERA_HANDLE camera, void* data, void*)
{
    if ((event != HX_DOWNLOAD_DATA && event != HX_LIVE_DATA) || data == nullptr)
        return;
    auto* record = static_cast<HX_READ_STREAM*>(data);
    const bool released = (record->status & 12) == 12 && record->received_length == 0;
    const bool whole = !released && (record->status & HX_STREAM_STATUS_COMPLETE) != 0 &&
                       (record->status & HX_STREAM_STATUS_ERROR) == 0 &&
                       record->received_length == record->image_length;
    // Stamped first: the benchmark's own bookkeeping is not part of the image's way.
    if (const auto address = addressOf.find(camera); whole && address != addressOf.end())
        frameLatency.receivedFrame(address->second, record->frame_id);
    std::unique_lock<std::mutex> lock(feedsLock);
    const auto found = feeds.find(camera);
    if (found == feeds.end())
        return;
    Feed& feed = *found->second;
    if (!released) {
        feed.bytes += record->received_length;
        ++(whole ? feed.complete : feed.incomplete);
        feed.lastAt = Clock::now();
    }
    const bool wasLast = feed.last;
    feed.last = feed.last || (record->status & HX_STREAM_STATUS_LAST) != 0;
    if (!feed.last && !feed.stop && !released)
        lend(feed, record);
    // The main thread waits for the last images only: woken for every image, it would take CPU
    // (counted as the host's) and the lock from the Callback thread at each one.
    if (feed.last && !wasLast)
        feedsChanged.notify_all();
}

void check(HX_STATUS status, const char* what)
{
    if (status != HX_STATUS_OK) {
        std::fprintf(stderr, "pipeline: %s failed (%d)\n", what, int(status));
        std::exit(1);
    }
}

void command(HX_CAMERA_HANDLE camera, uint32_t code)
{
    HX_COMMAND request;
    HX_command_init(&request, sizeof(request));
    request.flags = HX_FLAG_SET;
    request.code = code;
    request.code_flags = HX_FLAG_SET;
    check(HX_command_syn(client, camera, &request, &request), "a camera command");
}

uint32_t state(HX_CAMERA_HANDLE camera)
{
    HX_COMMAND request;
    HX_command_init(&request, sizeof(request));
    check(HX_command_syn(client, camera, &request, &request), "reading the camera state");
    return request.code;
}

// Full-HD 8-bit frames, kFrames of them from the trigger.
void record(HX_CAMERA_HANDLE camera)
{
    HX_CAPTURE_SETTINGS capture;
    HX_capture_settings_init(&capture, sizeof(capture));
    capture.sensor_group_flags = HX_FLAG_SET;
    capture.bit_mode = HX_BIT_MODE_8A;
    capture.bit_mode_flags = HX_FLAG_SET;
    capture.width = kWidth;
    capture.width_flags = HX_FLAG_SET;
    capture.height = kHeight;
    capture.height_flags = HX_FLAG_SET;
    capture.rate = kFrameRate;
    capture.rate_flags = HX_FLAG_SET;
    capture.record_group_flags = HX_FLAG_SET;
    capture.record_mode = HX_RECORD_MODE_LTR;
    capture.record_mode_flags = HX_FLAG_SET;
    capture.length = kFrames;
    capture.length_flags = HX_FLAG_SET;
    check(HX_setup_capture_syn(client, camera, &capture, &capture), "the capture settings");
    command(camera, HX_CMD_ARM);
    command(camera, HX_CMD_TRIGGER);
    const auto limit = Clock::now() + std::chrono::seconds(20);
    while (state(camera) != HX_CAMERA_STATE_REVIEW) {
        if (Clock::now() > limit) {
            std::fprintf(stderr, "pipeline: a camera did not finish its recording\n");
            std::exit(1);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void setupDownload(HX_CAMERA_HANDLE camera)
{
    HX_DOWNLOAD_SETTINGS settings;
    HX_download_settings_init(&settings, sizeof(settings));
    check(HX_setup_download_syn(client, camera, &settings, &settings), "reading the download settings");
    settings.flags = HX_FLAG_SET;
    settings.start = 0;
    settings.start_flags = HX_FLAG_SET;
    settings.stop = kFrames - 1;
    settings.stop_flags = HX_FLAG_SET;
    settings.format = HX_FORMAT_TIFF;
    settings.format_flags = HX_FLAG_SET;
    settings.rate_control_flags = HX_FLAG_SET;
    // Paused with a quarter of the buffers left, as hxcam does: at the last one the pause comes
    // too late for a camera at 10 Gbit/s.
    settings.pause_count = kHostBuffers / 4;
    settings.resume_count = kHostBuffers / 2;
    settings.turbo_packet_length_flags = 0;
    settings.turbo_delay_flags = 0;
    settings.jpeg_quality_flags = 0;
    check(HX_setup_download_syn(client, camera, &settings, &settings), "the download settings");
}

// Runs one stream on each of `cameras` at once; download until the last frame, live for a while.
Result runLibrary(const std::vector<HX_CAMERA_HANDLE>& cameras, uint32_t kind)
{
    std::vector<std::unique_ptr<Feed>> owned;
    for (HX_CAMERA_HANDLE camera : cameras) {
        auto feed = std::make_unique<Feed>();
        feed->camera = camera;
        feed->kind = kind;
        feed->records.resize(kHostBuffers);
        for (HX_READ_STREAM& record : feed->records) {
            feed->memory.emplace_back(new uint8_t[kBufferBytes]);
            writtenByTheKernel({feed->memory.back().get(), kBufferBytes}); // as after a first use
            HX_read_stream_init(&record, sizeof(record));
            record.buffer = feed->memory.back().get();
            record.buffer_size = kBufferBytes;
        }
        std::lock_guard<std::mutex> lock(feedsLock);
        feeds[camera] = feed.get();
        owned.push_back(std::move(feed));
    }
    for (auto& feed : owned) {
        for (HX_READ_STREAM& record : feed->records)
            check(lend(*feed, &record), "lending a buffer");
        if (kind == HX_DOWNLOAD_DATA)
            setupDownload(feed->camera);
    }
    frameLatency.clear();
    const uint64_t dropsBefore = udpReceiveDrops();
    const double cpuBefore = processCpu();
    const double cameraBefore = cameraCpu();
    const auto start = Clock::now();
    for (auto& feed : owned)
        check(kind == HX_DOWNLOAD_DATA ? HX_download(client, feed->camera, nullptr)
                                       : HX_live_enable(client, feed->camera, 1),
              "starting the stream");
    {
        std::unique_lock<std::mutex> lock(feedsLock);
        const auto limit = kind == HX_DOWNLOAD_DATA ? start + kPhaseLimit : start + std::chrono::seconds(kLiveSeconds);
        feedsChanged.wait_until(lock, limit, [&] {
            return kind == HX_DOWNLOAD_DATA &&
                   std::all_of(owned.begin(), owned.end(), [](const auto& feed) { return feed->last; });
        });
        for (auto& feed : owned)
            feed->stop = true;
    }
    Result result;
    {
        std::lock_guard<std::mutex> lock(feedsLock);
        Clock::time_point end = start;
        for (auto& feed : owned) {
            result.bytes += feed->bytes;
            result.complete += feed->complete;
            result.incomplete += feed->incomplete;
            end = std::max(end, feed->lastAt);
        }
        result.seconds = std::chrono::duration<double>(end - start).count();
    }
    result.cameraCpu = cameraCpu() - cameraBefore;
    result.hostCpu = processCpu() - cpuBefore - result.cameraCpu;
    result.lost = udpReceiveDrops() - dropsBefore;
    for (auto& feed : owned) {
        if (kind == HX_LIVE_DATA)
            HX_live_enable(client, feed->camera, 0);
        state(feed->camera); // waits until the camera's service thread has handled the switch
    }
    frameLatency.collect(result.latencyMicros);
    // Live buffers still lent come back when the stream is cancelled; they stay allocated (the
    // library may hold them) and the feed is forgotten.
    std::lock_guard<std::mutex> lock(feedsLock);
    for (auto& feed : owned)
        feeds.erase(feed->camera);
    for (auto& feed : owned)
        retired.push_back(std::move(feed));
    return result;
}

void print(const char* name, const Result& result)
{
    std::printf("%-28s %8.1f MB/s  frames %4u/%-4u  lost %-6llu  CPU/GB camera %6.3f s  host %6.3f s\n", name,
                result.rate(), result.complete, result.complete + result.incomplete,
                static_cast<unsigned long long>(result.lost), result.perGb(result.cameraCpu),
                result.perGb(result.hostCpu));
}

// The best round's figures, with the latencies of all rounds. The best round: of those that lost
// nothing and came within 2 % of the fastest one's rate, the one that cost the host least CPU per
// GB (a camera paced to its line rate runs every round at about the same rate, so the fastest alone
// would be a draw among them); the fastest when none lost nothing.
Result best(const std::function<Result()>& run)
{
    std::vector<Result> rounds;
    std::vector<double> latencies;
    double fastest = 0;
    for (unsigned round = 0; round < kRounds; ++round) {
        rounds.push_back(run());
        latencies.insert(latencies.end(), rounds.back().latencyMicros.begin(), rounds.back().latencyMicros.end());
        fastest = std::max(fastest, rounds.back().rate());
    }
    const auto contends = [&](const Result& r) {
        return r.lost == 0 && r.incomplete == 0 && r.rate() >= 0.98 * fastest;
    };
    const auto better = [&](const Result& a, const Result& b) {
        if (contends(a) != contends(b))
            return contends(a);
        if (!contends(a))
            return a.rate() > b.rate();
        return a.perGb(a.hostCpu) < b.perGb(b.hostCpu);
    };
    Result top = *std::min_element(rounds.begin(), rounds.end(), better);
    top.latencyMicros = std::move(latencies);
    return top;
}

void printLatency(const char* name, const Result& result)
{
    const LatencyFigures figures = FrameLatency::figures(result.latencyMicros);
    std::printf("%-28s images %5zu  median %8.1f us  p99 %8.1f us\n", name, figures.images, figures.medianMicros,
                figures.p99Micros);
}

bool verdict(const char* what, double value, double target, const char* unit)
{
    const bool met = value >= target;
    std::printf("  %-44s %8.2f%s  target >= %.2f%s: %s\n", what, value, unit, target, unit, met ? "met" : "MISSED");
    return met;
}

// --- the coalesced receive ------------------------------------------------------------------------

// A first-family camera that sends its datagrams one by one, as before segmented sends: it feeds
// the naive raw sink and the library's plain receive, the baselines of the coalesced rows.
constexpr uint32_t kOneByOne = kFirstUdp + kCameras;

hxsim::CameraConfig oneByOneCamera(hxsim::CameraConfig config)
{
    config.address = kOneByOne;
    config.userName = "bench-9";
    config.serial = "HXB9";
    config.udpSegmentation = false;
    return config;
}

// The library's download through its plain receive: the switch is read as the camera's receiver
// starts, with its first download.
Result runPlainLibrary(HX_CAMERA_HANDLE camera)
{
    CoalescedReceiveSwitch::allow(false);
    const Result result = runLibrary({camera}, HX_DOWNLOAD_DATA);
    CoalescedReceiveSwitch::allow(true);
    return result;
}

// The ring and io_uring sinks beside the plain one, fed by the same camera sending one by one (a
// packet tap would see a segmented send whole); a sink this system cannot have is left out with a
// note.
Rows otherSinks()
{
    const std::pair<const char*, SinkKind> kinds[] = {{"ring sink, hxsim download", SinkKind::PacketRing},
                                                      {"io_uring sink, hxsim download", SinkKind::Uring}};
    Rows rows;
    for (const auto& [name, kind] : kinds) {
        std::string why;
        if (!makeCameraSink(kind, kOneByOne, kHostAddress, why)) {
            std::printf("%-28s skipped: %s\n", name, why.c_str());
            continue;
        }
        const SinkKind chosen = kind;
        rows.emplace_back(name, best([&] { return rawFromCamera(kOneByOne, chosen); }));
    }
    return rows;
}

struct CoalescedRows {
    Result naiveSink;     // one datagram per call, from the camera sending one by one
    Result coalescedSink; // 64 KiB per call, from a camera sending segmented
    Result library;       // the library's coalesced receive, from a camera sending segmented
    Result plainLibrary;  // the library's plain receive, from the camera sending one by one
    Rows otherSinks;      // the ring and io_uring sinks, when asked for
};

// The raw sinks fed by the camera sending one by one run before the library first opens a stream
// from it: their register writes change the heartbeat time-out the library set, which it takes
// for a camera that restarted.
CoalescedRows runCoalescedRows(uint32_t segmentedCamera, HX_CAMERA_HANDLE libraryCamera,
                               HX_CAMERA_HANDLE oneByOneCamera, bool withOtherSinks)
{
    CoalescedRows rows;
    rows.naiveSink = best([&] { return rawFromCamera(kOneByOne, SinkKind::Plain); });
    rows.coalescedSink = best([&] { return rawFromCamera(segmentedCamera, SinkKind::Coalesced); });
    if (withOtherSinks)
        rows.otherSinks = otherSinks();
    rows.library = best([&] { return runLibrary({libraryCamera}, HX_DOWNLOAD_DATA); });
    rows.plainLibrary = best([&] { return runPlainLibrary(oneByOneCamera); });
    return rows;
}

// The raw sinks first (the other ones after the two the coalesced receive is measured against),
// then the library's rows.
void appendCoalescedRows(Rows& rows, const CoalescedRows& coalesced)
{
    rows.emplace_back("raw sink, hxsim download", coalesced.naiveSink);
    rows.emplace_back("raw sink, coalesced", coalesced.coalescedSink);
    rows.insert(rows.end(), coalesced.otherSinks.begin(), coalesced.otherSinks.end());
    rows.emplace_back("UDP download, 1 camera", coalesced.library);
    rows.emplace_back("UDP download, plain receive", coalesced.plainLibrary);
}

// Host CPU per GB against the naive raw sink's: the library's coalesced receive is to cost at most
// 0.6 of it, losing nothing; four cameras at once no more per GB than one.
bool coalescedVerdicts(const CoalescedRows& rows, const Result* fourCameras)
{
    const double naive = rows.naiveSink.perGb(rows.naiveSink.hostCpu);
    const auto ratio = [&](const Result& result) { return result.perGb(result.hostCpu) / naive; };
    std::printf("  %-44s %8.2f\n", "host CPU/GB, coalesced raw sink / naive sink", ratio(rows.coalescedSink));
    std::printf("  %-44s %8.2f\n", "host CPU/GB, plain receive / naive sink", ratio(rows.plainLibrary));
    const double library = ratio(rows.library);
    bool met = library <= 0.6;
    std::printf("  %-44s %8.2f    target <= 0.60: %s\n", "host CPU/GB, library / naive raw sink", library,
                met ? "met" : "MISSED");
    const bool noLoss = rows.library.lost == 0 && rows.library.incomplete == 0 && rows.library.complete == kFrames;
    std::printf("  %-44s %8llu    target 0: %s\n", "UDP download, packets (or frames) lost",
                static_cast<unsigned long long>(rows.library.lost), noLoss ? "met" : "MISSED");
    met &= noLoss;
    if (fourCameras != nullptr) {
        const double four = fourCameras->perGb(fourCameras->hostCpu) / rows.library.perGb(rows.library.hostCpu);
        const bool fourMet = fourCameras->lost == 0 && fourCameras->incomplete == 0 && four <= 1.0;
        std::printf("  %-44s %8.2f    target <= 1.00, 0 lost: %s\n", "host CPU/GB, 4 cameras / 1 camera", four,
                    fourMet ? "met" : "MISSED");
        met &= fourMet;
    }
    return met;
}

std::vector<hxsim::CameraConfig> cameraConfigs(const std::string& link)
{
    std::vector<hxsim::CameraConfig> configs;
    for (unsigned i = 0; i < 2 * kCameras; ++i) {
        hxsim::CameraConfig config;
        const bool tcp = i >= kCameras;
        config.address = (tcp ? kFirstTcp : kFirstUdp) + i % kCameras;
        config.model = tcp ? "hxsim qM" : "hxsim qT";
        config.userName = "bench-" + std::to_string(i);
        config.serial = "HXB" + std::to_string(i);
        config.seed = i + 1;
        // Real time: a faster camera clock would let its heartbeat expire between the library's
        // heartbeats and stop a live stream.
        config.timeScale = 1;
        config.liveFrameCap = false;
        frameLatency.watch(config);
        if (const std::string problem = hxsim::applySetting(config, "link", link); !problem.empty()) {
            std::fprintf(stderr, "pipeline: %s\n", problem.c_str());
            std::exit(2);
        }
        configs.push_back(config);
    }
    configs.push_back(oneByOneCamera(configs.front()));
    frameLatency.watch(configs.back()); // its images are stamped by its own address
    return configs;
}

// The figures of every row, then the image latency of every row whose images were timed (the
// synthetic sender stamps none).
void printRows(const Rows& rows)
{
    for (const auto& [name, result] : rows)
        print(name.c_str(), result);
    std::printf("\nimage latency, from the send of its last packet to the host having it:\n");
    for (const auto& [name, result] : rows) {
        if (name != kSyntheticRow)
            printLatency(name.c_str(), result);
    }
    std::printf("\n");
}

bool latencyVerdict(const char* what, const Result& result)
{
    const double p99 = FrameLatency::figures(result.latencyMicros).p99Micros;
    const bool met = !result.latencyMicros.empty() && p99 < kLatencyTargetMicros;
    std::printf("  %-44s %8.1f us  target < %.0f us: %s\n", what, p99, kLatencyTargetMicros, met ? "met" : "MISSED");
    return met;
}

// The rows after the coalesced ones, the ratios against the targets and the verdict.
void runTheRest(const std::vector<HX_CAMERA_HANDLE>& udp, const std::vector<HX_CAMERA_HANDLE>& tcp,
                const CoalescedRows& coalesced)
{
    const Result& rawCamera = coalesced.naiveSink;
    const Result& udpOne = coalesced.library;
    const std::vector<HX_CAMERA_HANDLE> oneUdp{udp.front()}, oneTcp{tcp.front()};
    const Result raw = best([] { return rawUdpSink(kFrames); });
    const Result udpFour = best([&] { return runLibrary(udp, HX_DOWNLOAD_DATA); });
    const Result liveOne = best([&] { return runLibrary(oneUdp, HX_LIVE_DATA); });
    const Result tcpOne = best([&] { return runLibrary(oneTcp, HX_DOWNLOAD_DATA); });
    const Result tcpFour = best([&] { return runLibrary(tcp, HX_DOWNLOAD_DATA); });
    Rows rows{{kSyntheticRow, raw}};
    appendCoalescedRows(rows, coalesced);
    rows.insert(rows.end(), {{"UDP download, 4 cameras", udpFour},
                             {"UDP live, 1 camera", liveOne},
                             {"TCP download, 1 camera", tcpOne},
                             {"TCP download, 4 cameras", tcpFour}});
    printRows(rows);
    bool met = true;
    met &= verdict("UDP download / raw sink", 100 * udpOne.rate() / raw.rate(), 60, " %");
    met &= verdict("TCP download", tcpOne.rate(), 1000, " MB/s");
    met &= verdict("UDP 4 cameras / 1 camera", 100 * udpFour.rate() / udpOne.rate(), 80, " %");
    met &= verdict("TCP 4 cameras / 1 camera", 100 * tcpFour.rate() / tcpOne.rate(), 80, " %");
    met &= verdict("UDP download / raw sink of hxsim", 100 * udpOne.rate() / rawCamera.rate(), 60, " %");
    std::printf("  %-44s %8.2f\n", "host CPU/GB, library / synthetic sender's sink",
                udpOne.perGb(udpOne.hostCpu) / raw.perGb(raw.hostCpu));
    met &= coalescedVerdicts(coalesced, &udpFour);
    met &= latencyVerdict("UDP download, image latency p99", udpOne);
    met &= latencyVerdict("UDP live, image latency p99", liveOne);
    std::printf("%s\n", met ? "all targets met" : "some targets missed");
}

// The rows that show where an image's time goes, with their CPU.
void runLatency(HX_CAMERA_HANDLE udpCamera, const CoalescedRows& coalesced)
{
    Rows rows;
    appendCoalescedRows(rows, coalesced);
    rows.emplace_back("UDP live, 1 camera", best([&] { return runLibrary({udpCamera}, HX_LIVE_DATA); }));
    printRows(rows);
    latencyVerdict("UDP download, image latency p99", coalesced.library);
    latencyVerdict("UDP live, image latency p99", rows.back().second);
}

} // namespace

// pipeline [LINK [udp|latency]]: the cameras' line rate, 10g by default (1g, 10g, 25g, unlimited);
// with "udp", only one camera's UDP download (coalesced and plain) beside its raw sinks, as a short
// run to profile; with "latency", the raw sinks and one camera's UDP download and live, with their
// image latencies.
int main(int argc, char** argv)
{
    const std::string link = argc > 1 ? argv[1] : "10g";
    const std::string only = argc > 2 ? argv[2] : "";
    std::string why;
    if (!hx_test::enterPrivateNetwork(why)) {
        std::fprintf(stderr, "refusing to run: the pipeline benchmark needs a private network namespace (%s)\n",
                     why.c_str());
        return 2;
    }
    hxsim::Cluster cluster(cameraConfigs(link));
    check(HX_register(&client, onEvent, nullptr), "registering a client");
    std::vector<HX_CAMERA_HANDLE> udp, tcp;
    HX_CAMERA_HANDLE oneByOne = 0;
    for (unsigned i = 0; i <= 2 * kCameras; ++i) {
        const std::string address = hxsim::dotted(cluster[i].config().address);
        HX_CAMERA_HANDLE handle = 0;
        check(HX_get_handle_by_name(client, &handle, address.c_str()), "finding a camera");
        addressOf[handle] = cluster[i].config().address;
        record(handle);
        if (i == 2 * kCameras)
            oneByOne = handle;
        else
            (i < kCameras ? udp : tcp).push_back(handle);
    }
    std::printf("pipeline benchmark: %u frames of %ux%u 8-bit as TIFF per camera, %u host buffers each, link %s; "
                "best of %u runs\n\n",
                kFrames, kWidth, kHeight, kHostBuffers, link.c_str(), kRounds);

    // The last UDP camera feeds the coalesced raw sink: the library's runs below leave it alone
    // until their four-camera run.
    const CoalescedRows coalesced =
        runCoalescedRows(cluster[kCameras - 1].config().address, udp.front(), oneByOne, only != "udp");
    if (only == "udp") {
        Rows rows;
        appendCoalescedRows(rows, coalesced);
        printRows(rows);
        coalescedVerdicts(coalesced, nullptr);
    } else if (only == "latency") {
        runLatency(udp.front(), coalesced);
    } else {
        runTheRest(udp, tcp, coalesced);
    }
    HX_unregister(client);
    HX_shutdown();
    cluster.stop();
    return 0;
}
