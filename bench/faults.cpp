// Fault matrix: one stand-in camera per fault (control, event and stream channels dropping,
// duplicating, reordering, corrupting or delaying what they carry; a mute camera; a camera that
// vanishes for a while), driven through the library's C interface with settings round trips, a
// record/trigger/review cycle, a download and a live stream, for each camera family. Every call
// is bounded; every success is checked against the camera's own registers; every image against
// the frame the camera drew. Runs in a private network namespace of its own.
#include <arpa/inet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

#include <hlv_thread/period_scale.h>

#include "cluster.h"
#include "fault_host.h"
#include "fault_injector.h"
#include "library_client.h"
#include "options.h"
#include "private_network.h"
#include "registers/register_map.h"
#include "tiff_frames.h"

namespace {

using namespace fault_bench;

std::FILE* table = stdout;
using namespace std::chrono_literals;
namespace regs = HX_REGISTERS;

// The library's periods run at a tenth: a request ages out after 500 ms, discovery polls every
// 500 ms and gives a silent camera up after 3 s.
constexpr double kPeriodScale = 0.1;
constexpr auto kAgeOut = 500ms;
// A settings call makes a few requests in a row, each of which may age out once.
constexpr auto kCallLimit = 8 * kAgeOut;
constexpr auto kHangBound = 3 * kCallLimit;
constexpr unsigned kRoundTrips = 8;
constexpr uint32_t kWidth = 256;
constexpr uint32_t kHeight = 64;
constexpr uint32_t kFrames = 24;
constexpr uint32_t kLiveFrames = 20;
constexpr auto kStreamLimit = 4s;
constexpr auto kRecoveryLimit = 10s;
constexpr auto kVanishAt = 1500ms;
constexpr auto kVanishFor = 4000ms; // beyond the 3 s after which the library gives the camera up

enum class Silence { None, Mute, VanishBusy, VanishQuiet };

struct Fault {
    std::string name;
    std::string setting; // for hxsim::applyFault or the stream's kinds; empty for none
    double probability = 0;
    Silence silence = Silence::None;
};

struct Family {
    const char* name;
    const char* model;
    uint32_t firstAddress;
};

constexpr Family kFamilies[] = {{"udp", "hxsim qT", 0x7F000102}, {"tcp", "hxsim qM", 0x7F000202}};
// Rows take their camera's address in turn from a few per family. The library keeps a camera's
// control channel (and its port) until it has given the camera up, and a host has ports for ten
// cameras; an address comes round again long after its last camera was given up, or else the new
// camera there is the old one restarted.
constexpr uint32_t kAddressesPerFamily = 3;

std::vector<Fault> matrix(bool quick, bool tcp)
{
    const std::vector<double> probabilities = quick ? std::vector<double>{0.05} : std::vector<double>{0.01, 0.05, 0.2};
    std::vector<Fault> faults{{"none", "", 0, Silence::None}};
    for (const char* channel : {"control", "events"}) {
        for (const char* kind : {"drop", "duplicate", "reorder", "corrupt", "delay"}) {
            for (double p : probabilities)
                faults.push_back({std::string(channel) + "." + kind, std::string(channel) + "." + kind, p});
        }
    }
    std::vector<const char*> streamKinds{"drop", "reorder", "truncate", "corrupt"};
    if (tcp)
        streamKinds.push_back("cut");
    for (const char* kind : streamKinds) {
        for (double p : probabilities)
            faults.push_back({std::string("stream.") + kind, kind, p});
    }
    faults.push_back({"mute", "", 0, Silence::Mute});
    faults.push_back({"vanish, calls", "", 0, Silence::VanishBusy});
    faults.push_back({"vanish, quiet", "", 0, Silence::VanishQuiet});
    return faults;
}

hxsim::CameraConfig cameraFor(const Family& family, const Fault& fault, uint32_t address, uint64_t seed)
{
    hxsim::CameraConfig config;
    config.model = family.model;
    config.address = address;
    config.memoryBytes = uint64_t{1} << 30;
    config.userName = "faults-" + std::to_string(address & 0xFF);
    config.serial = "HXF" + std::to_string(address & 0xFFFF);
    config.seed = seed;
    if (fault.name.rfind("stream.", 0) == 0)
        hxsim::applyStreamFault(config.faults.stream, fault.setting, fault.probability);
    else if (!fault.setting.empty())
        hxsim::applyFault(config.faults, fault.setting + "=" + std::to_string(fault.probability));
    config.faults.mute = fault.silence == Silence::Mute;
    if (fault.silence == Silence::VanishBusy || fault.silence == Silence::VanishQuiet) {
        config.faults.vanishAt = kVanishAt;
        config.faults.vanishFor = kVanishFor;
    }
    return config;
}

// One row: the camera, its handle and what was seen.
class Run {
public:
    Run(hxsim::Camera& camera, uint64_t seed) : camera_(camera), random_(seed) {}

    Tally tally;

    bool added() const { return handle_ != 0; }
    bool add();
    void settings();
    bool record();
    void download();
    void live();
    void recovery(bool callsDuringSilence);
    void finish();

private:
    HX_STATUS call(const char* what, std::function<HX_STATUS()> body)
    {
        return host_.bounded(tally, what, kHangBound, std::move(body));
    }
    void falseSuccess(const std::string& what)
    {
        ++tally.falseSuccess;
        std::fprintf(stderr, "faults: %s: %s\n", address_.c_str(), what.c_str());
    }
    // Moves a success the library qualified with an error flag to the failures.
    void refused()
    {
        --tally.succeeded;
        ++tally.failed;
    }
    bool command(uint32_t code, uint32_t& state);
    bool writeCapture(const std::function<void(HX_CAPTURE_SETTINGS&)>& fill, HX_CAPTURE_SETTINGS& out);
    void lendLive(std::size_t count);
    // Classifies a returned buffer against `expected`; true when it was an image.
    bool classify(const HX_READ_STREAM& record, const std::vector<uint8_t>& expected);
    bool waitForState(uint32_t wanted, Clock::time_point deadline);
    bool eventsFlow(Clock::time_point deadline);

    hxsim::Camera& camera_;
    hxsim::FaultRandom random_;
    Host& host_ = Host::instance();
    HX_CAMERA_HANDLE handle_ = 0;
    std::string address_ = hxsim::dotted(camera_.config().address);
};

bool Run::add()
{
    for (unsigned attempt = 0; attempt < 3 && handle_ == 0; ++attempt) {
        auto handle = std::make_shared<HX_CAMERA_HANDLE>(0);
        const HX_CLIENT_HANDLE client = host_.client();
        if (call("HX_get_handle_by_name", [client, handle, name = address_] {
                return HX_get_handle_by_name(client, handle.get(), name.c_str());
            }) == HX_STATUS_OK)
            handle_ = *handle;
    }
    const HX_CLIENT_HANDLE client = host_.client();
    bool subscribed = false;
    for (unsigned attempt = 0; attempt < 3 && handle_ != 0 && !subscribed; ++attempt)
        subscribed =
            call("HX_subscribe", [client, camera = handle_] { return HX_subscribe(client, camera); }) == HX_STATUS_OK;
    return subscribed;
}

bool Run::writeCapture(const std::function<void(HX_CAPTURE_SETTINGS&)>& fill, HX_CAPTURE_SETTINGS& out)
{
    auto record = std::make_shared<HX_CAPTURE_SETTINGS>();
    HX_capture_settings_init(record.get(), sizeof(HX_CAPTURE_SETTINGS));
    fill(*record);
    const HX_CLIENT_HANDLE client = host_.client();
    const HX_STATUS status = call("HX_setup_capture_syn", [client, camera = handle_, record] {
        return HX_setup_capture_syn(client, camera, record.get(), record.get());
    });
    if (status != HX_STATUS_OK)
        return false;
    const uint32_t errors = record->flags | record->sensor_group_flags | record->record_group_flags |
                            record->exposure_group_flags | record->width_flags | record->height_flags |
                            record->exposure_flags | record->length_flags | record->rate_flags;
    if ((errors & HX_FLAG_ERR) != 0) {
        refused();
        return false;
    }
    out = *record;
    return true;
}

// Writes and reads exposure times: a success must leave the camera holding what the call reports.
void Run::settings()
{
    for (unsigned i = 0; i < kRoundTrips; ++i) {
        const bool write = i % 2 == 0;
        const uint32_t wanted = 100 + static_cast<uint32_t>(random_.below(800));
        HX_CAPTURE_SETTINGS got;
        const bool done = writeCapture(
            [&](HX_CAPTURE_SETTINGS& record) {
                if (!write)
                    return;
                record.exposure_group_flags = HX_FLAG_SET;
                record.exposure = wanted;
                record.exposure_flags = HX_FLAG_SET;
            },
            got);
        if (!done)
            continue;
        const uint32_t held = hx_test::registerOf(camera_, regs::GIGE_REG_EXPOSURE);
        if (got.exposure != held || (write && held != wanted))
            falseSuccess(std::string(write ? "exposure write" : "exposure read") + " reported " +
                         std::to_string(got.exposure) + (write ? " (asked " + std::to_string(wanted) + ")" : "") +
                         ", camera holds " + std::to_string(held));
    }
}

bool Run::command(uint32_t code, uint32_t& state)
{
    auto record = std::make_shared<HX_COMMAND>();
    HX_command_init(record.get(), sizeof(HX_COMMAND));
    if (code != 0) {
        record->flags = HX_FLAG_SET;
        record->code = code;
        record->code_flags = HX_FLAG_SET;
    }
    const HX_CLIENT_HANDLE client = host_.client();
    if (call(code != 0 ? "HX_command_syn" : "HX_command_syn (state)", [client, camera = handle_, record] {
            return HX_command_syn(client, camera, record.get(), record.get());
        }) != HX_STATUS_OK)
        return false;
    if (((record->flags | record->code_flags) & HX_FLAG_ERR) != 0) {
        refused();
        return false;
    }
    state = record->code;
    return true;
}

bool Run::waitForState(uint32_t wanted, Clock::time_point deadline)
{
    while (Clock::now() < deadline) {
        const unsigned seen = host_.events(handle_, HX_STATE);
        uint32_t state = 0;
        if (command(0, state) && state == wanted) {
            const uint32_t held = hx_test::registerOf(camera_, regs::GIGE_REG_CAMERA_STATE);
            if (held != wanted)
                falseSuccess("state read " + std::to_string(state) + ", camera in " + std::to_string(held));
            return held == wanted;
        }
        // The camera announces its own state changes; otherwise ask again after a while.
        host_.waitForEvent(handle_, HX_STATE, seen, std::min(deadline, Clock::now() + 50ms));
    }
    return false;
}

// A short start-trigger recording of small 8-bit frames; true once the camera holds it in review.
bool Run::record()
{
    HX_CAPTURE_SETTINGS got;
    bool set = false;
    for (unsigned attempt = 0; attempt < 3 && !set; ++attempt) {
        set = writeCapture(
            [](HX_CAPTURE_SETTINGS& record) {
                record.sensor_group_flags = HX_FLAG_SET;
                record.width = kWidth;
                record.width_flags = HX_FLAG_SET;
                record.height = kHeight;
                record.height_flags = HX_FLAG_SET;
                record.bit_mode = HX_BIT_MODE_8A;
                record.bit_mode_flags = HX_FLAG_SET;
                record.record_group_flags = HX_FLAG_SET;
                record.record_mode = HX_RECORD_MODE_LTR;
                record.record_mode_flags = HX_FLAG_SET;
                record.length = kFrames;
                record.length_flags = HX_FLAG_SET;
                record.rate = 1000;
                record.rate_flags = HX_FLAG_SET;
            },
            got);
    }
    if (!set)
        return false;
    const uint32_t width = hx_test::registerOf(camera_, regs::GIGE_REG_ROI_WIDTH);
    const uint32_t height = hx_test::registerOf(camera_, regs::GIGE_REG_ROI_HEIGHT);
    if (got.width != width || got.height != height || width != kWidth || height != kHeight)
        falseSuccess("capture settings reported " + std::to_string(got.width) + "x" + std::to_string(got.height) +
                     ", camera holds " + std::to_string(width) + "x" + std::to_string(height));
    for (const auto& [code, allowed] : {std::pair<uint32_t, std::set<uint32_t>>{HX_CMD_ARM, {2, 4, 8}},
                                        std::pair<uint32_t, std::set<uint32_t>>{HX_CMD_TRIGGER, {4, 8}}}) {
        bool done = false;
        uint32_t state = 0;
        for (unsigned attempt = 0; attempt < 3 && !done; ++attempt)
            done = command(code, state);
        if (!done)
            return false;
        const uint32_t held = hx_test::registerOf(camera_, regs::GIGE_REG_CAMERA_STATE);
        if (allowed.count(held) == 0)
            falseSuccess("command " + std::to_string(code) + " reported done, camera in state " + std::to_string(held));
    }
    return waitForState(HX_CAMERA_STATE_REVIEW, Clock::now() + 3s);
}

bool Run::classify(const HX_READ_STREAM& record, const std::vector<uint8_t>& expected)
{
    if (!reportedWhole(record)) {
        ++tally.incomplete;
        return true;
    }
    const std::span<const uint8_t> image(static_cast<const uint8_t*>(record.buffer), record.received_length);
    switch (expected.empty() ? ImageCheck::Wrong : compareImage(image, expected)) {
    case ImageCheck::Whole: ++tally.complete; break;
    case ImageCheck::Flipped: ++tally.flipped; break;
    case ImageCheck::Wrong:
        ++tally.wrong;
        std::fprintf(stderr, "faults: %s: frame %u reported whole with wrong content (%u bytes)\n", address_.c_str(),
                     record.frame_id, record.received_length);
        break;
    }
    return true;
}

void Run::download()
{
    uint32_t serial = 0;
    camera_.withCore([&](hxsim::CameraCore& core, hxsim::SimTime) {
        if (const auto& recording = core.device().frames().recording())
            serial = recording->serial;
    });
    const hxsim::FrameGeometry geometry{kWidth, kHeight, 16, kWidth * kHeight};
    const HX_CLIENT_HANDLE client = host_.client();
    host_.drain(handle_);
    // More buffers than frames: small frames come faster than a pause could reach the camera.
    for (HX_READ_STREAM* record : host_.buffers(kFrames + 4, HX_STREAM_MIN_BUFFER_SIZE))
        call("HX_download (lend)", [client, camera = handle_, record] { return HX_download(client, camera, record); });
    auto settings = std::make_shared<HX_DOWNLOAD_SETTINGS>();
    HX_download_settings_init(settings.get(), sizeof(HX_DOWNLOAD_SETTINGS));
    settings->flags = HX_FLAG_SET;
    settings->start = 0;
    settings->start_flags = HX_FLAG_SET;
    settings->stop = kFrames - 1;
    settings->stop_flags = HX_FLAG_SET;
    settings->format = HX_FORMAT_TIFF;
    settings->format_flags = HX_FLAG_SET;
    settings->rate_control_flags = HX_FLAG_SET;
    settings->pause_count = 2;
    settings->resume_count = 8;
    if (call("HX_setup_download_syn",
             [client, camera = handle_, settings] {
                 return HX_setup_download_syn(client, camera, settings.get(), settings.get());
             }) != HX_STATUS_OK ||
        call("HX_download (start)", [client, camera = handle_] { return HX_download(client, camera, nullptr); }) !=
            HX_STATUS_OK) {
        tally.missing += kFrames;
        return;
    }
    std::set<uint32_t> seen;
    const auto deadline = Clock::now() + kStreamLimit;
    Host::Returned returned;
    // A buffer given back at once, again and again, must not keep the loop past its deadline.
    while (Clock::now() < deadline && host_.next(handle_, deadline, returned) && returned.record != nullptr) {
        HX_READ_STREAM& record = *returned.record;
        // Unfilled (the stream has ended, or the camera is gone): no image, and not lent again.
        if (released(record) || (record.received_length == 0 && record.image_length == 0))
            continue;
        const bool inRange = record.frame_id < kFrames;
        if (inRange)
            seen.insert(record.frame_id);
        classify(record,
                 inRange ? hxsim::TiffFrame::encode(record.frame_id, serial, geometry) : std::vector<uint8_t>{});
        if ((record.status & HX_STREAM_STATUS_LAST) != 0)
            break;
        clearResults(record);
        HX_download(client, handle_, &record);
    }
    tally.missing += kFrames - static_cast<unsigned>(seen.size());
}

void Run::lendLive(std::size_t count)
{
    const HX_CLIENT_HANDLE client = host_.client();
    for (HX_READ_STREAM* record : host_.buffers(count, HX_STREAM_MIN_BUFFER_SIZE))
        call("HX_live (lend)", [client, camera = handle_, record] { return HX_live(client, camera, record); });
}

void Run::live()
{
    const hxsim::FrameGeometry geometry{kWidth, kHeight, 16, kWidth * kHeight};
    const HX_CLIENT_HANDLE client = host_.client();
    host_.drain(handle_);
    lendLive(4);
    if (call("HX_live_enable", [client, camera = handle_] { return HX_live_enable(client, camera, 1); }) !=
        HX_STATUS_OK)
        return;
    unsigned images = 0;
    const auto deadline = Clock::now() + kStreamLimit;
    Host::Returned returned;
    while (images < kLiveFrames && Clock::now() < deadline && host_.next(handle_, deadline, returned) &&
           returned.record != nullptr) {
        HX_READ_STREAM& record = *returned.record;
        if (released(record) || (record.received_length == 0 && record.image_length == 0))
            continue;
        // The frame the leader named: bits flipped in the frame number the pixels carry count as
        // flipped pixels, a leader naming another frame as a wrong image.
        std::vector<uint8_t> expected(geometry.bytes);
        hxsim::SyntheticImage::render(record.frame_id, 0, geometry, expected);
        images += classify(record, expected) ? 1 : 0;
        clearResults(record);
        HX_live(client, handle_, &record);
    }
    if (images == 0)
        falseSuccess("live switched on, but no image came back");
    call("HX_live_enable (off)", [client, camera = handle_] { return HX_live_enable(client, camera, 0); });
}

// A write must be answered by its change event within a short while.
bool Run::eventsFlow(Clock::time_point deadline)
{
    while (Clock::now() < deadline) {
        const unsigned seen = host_.events(handle_, HX_CAPTURE_CHANGE);
        HX_CAPTURE_SETTINGS got;
        const uint32_t wanted = 100 + static_cast<uint32_t>(random_.below(800));
        writeCapture(
            [&](HX_CAPTURE_SETTINGS& record) {
                record.exposure_group_flags = HX_FLAG_SET;
                record.exposure = wanted;
                record.exposure_flags = HX_FLAG_SET;
            },
            got);
        if (host_.waitForEvent(handle_, HX_CAPTURE_CHANGE, seen, std::min(deadline, Clock::now() + 500ms)))
            return true;
    }
    return false;
}

// Live runs while the camera goes silent for longer than the library waits before it gives the
// camera up; afterwards events and live images must flow again without the host starting over.
void Run::recovery(bool callsDuringSilence)
{
    const HX_CLIENT_HANDLE client = host_.client();
    lendLive(4);
    call("HX_live_enable", [client, camera = handle_] { return HX_live_enable(client, camera, 1); });
    const auto silenceEnds = kVanishAt + kVanishFor;
    Host::Returned returned;
    auto takeImages = [&](Clock::time_point until, Clock::time_point after) {
        bool fresh = false;
        while (Clock::now() < until && host_.next(handle_, until, returned)) {
            if (returned.record == nullptr || released(*returned.record))
                continue;
            HX_READ_STREAM& record = *returned.record;
            fresh = fresh || (returned.at >= after && reportedWhole(record));
            clearResults(record);
            HX_live(client, handle_, &record);
            if (fresh)
                break;
        }
        return fresh;
    };
    const auto limit = Clock::now() + 2 * (kVanishAt + kVanishFor) + 2s;
    while (camera_.now() < silenceEnds && Clock::now() < limit) {
        if (callsDuringSilence) {
            uint32_t state = 0;
            command(0, state);
        }
        takeImages(Clock::now() + 100ms, Clock::time_point::max());
    }
    const auto back = Clock::now();
    const auto deadline = back + kRecoveryLimit;
    const bool events = eventsFlow(deadline);
    const bool images = takeImages(deadline, back);
    tally.recovery = events && images ? "ok" : events ? "no live" : images ? "no events" : "neither";
    tally.recoveryFailed = !(events && images);
    if (tally.recoveryFailed)
        std::fprintf(stderr, "faults: %s: after the silence: %s\n", address_.c_str(), tally.recovery.c_str());
    else
        tally.recovery =
            "ok " + std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - back).count()) +
            " ms";
    call("HX_live_enable (off)", [client, camera = handle_] { return HX_live_enable(client, camera, 0); });
}

void Run::finish()
{
    if (handle_ == 0)
        return;
    const HX_CLIENT_HANDLE client = host_.client();
    call("HX_unsubscribe", [client, camera = handle_] { return HX_unsubscribe(client, camera); });
    call("HX_release_handle", [client, camera = handle_] { return HX_release_handle(client, camera); });
}

// The cameras given up so far at each address, counted when the last camera there went away.
std::map<uint32_t, unsigned> givenUp;

// A camera at an address where the library still holds the last one would be that camera
// restarted: the row waits (bounded) until the library has given the last one up.
void waitUntilGivenUp(uint32_t address)
{
    const auto found = givenUp.find(address);
    if (found == givenUp.end())
        return;
    const HX_CAMERA_HANDLE handle = htonl(address);
    if (!Host::instance().waitForEvent(handle, HX_END, found->second, Clock::now() + 8 * kAgeOut + 2s))
        std::fprintf(stderr, "faults: %s: the library still holds the last camera there\n",
                     hxsim::dotted(address).c_str());
}

Tally runRow(const Family& family, const Fault& fault, uint32_t address, uint64_t seed)
{
    waitUntilGivenUp(address);
    hxsim::Cluster cluster({cameraFor(family, fault, address, seed)}, [](const std::string&) {});
    Run run(cluster[0], seed);
    if (run.add()) {
        switch (fault.silence) {
        case Silence::VanishBusy:
        case Silence::VanishQuiet: run.recovery(fault.silence == Silence::VanishBusy); break;
        case Silence::Mute:
        case Silence::None:
            run.settings();
            if (run.record())
                run.download();
            run.live();
            break;
        }
    }
    run.finish();
    if (run.added())
        givenUp[address] = Host::instance().events(htonl(address), HX_END);
    else
        givenUp.erase(address);
    cluster.stop();
    return run.tally;
}

void printHeader()
{
    std::fprintf(table, "%-4s %-18s %5s | %5s %5s %5s %4s | %5s %5s %5s %5s %5s | %-22s | %s\n", "fam", "fault", "p",
                 "ok", "err", "false", "hung", "whole", "incmp", "flip", "wrong", "miss", "slowest/limit (s)",
                 "recovery");
}

void printRow(const char* family, const Fault& fault, const Tally& t)
{
    const std::string p = fault.probability > 0 ? std::to_string(static_cast<int>(fault.probability * 100)) + "%" : "";
    std::fprintf(table, "%-4s %-18s %5s | %5u %5u %5u %4u | %5u %5u %5u %5u %5u | %5.2f/%5.2f %-10.10s | %s\n", family,
                 fault.name.c_str(), p.c_str(), t.succeeded, t.failed, t.falseSuccess, t.hung, t.complete, t.incomplete,
                 t.flipped, t.wrong, t.missing, t.slowest, std::chrono::duration<double>(kCallLimit).count(),
                 t.slowestCall.c_str(), t.recovery.c_str());
    std::fflush(table);
}

struct Options {
    bool quick = false;
    uint64_t seed = 1;
    std::string only; // rows whose fault name contains this
    std::string log = "/dev/null";
};

bool parse(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--quick") {
            options.quick = true;
        } else if (arg == "--seed" && i + 1 < argc) {
            options.seed = std::strtoull(argv[++i], nullptr, 10);
        } else if (arg == "--only" && i + 1 < argc) {
            options.only = argv[++i];
        } else if (arg == "--log" && i + 1 < argc) {
            options.log = argv[++i];
        } else {
            std::fprintf(stderr, "usage: faults [--quick] [--seed N] [--only TEXT] [--log FILE]\n");
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!parse(argc, argv, options))
        return 2;
    std::string why;
    if (!hx_test::enterPrivateNetwork(why)) {
        std::fprintf(stderr, "refusing to run: the fault matrix needs a private network namespace (%s)\n", why.c_str());
        return 2;
    }
    HLV_THREAD::setPeriodScale(kPeriodScale);
    // The library logs to standard output: the table keeps the original one, the log goes to a file.
    table = fdopen(dup(STDOUT_FILENO), "w");
    if (table == nullptr || std::freopen(options.log.c_str(), "w", stdout) == nullptr) {
        std::fprintf(stderr, "faults: cannot write the log to %s\n", options.log.c_str());
        return 2;
    }
    Host& host = Host::instance();
    if (!host.start()) {
        std::fprintf(stderr, "faults: the library refused a client\n");
        return 2;
    }
    const auto start = Clock::now();
    std::fprintf(table,
                 "fault matrix%s, seed %llu: calls (ok, failed with an error, false successes, hung), images "
                 "(whole, flagged incomplete, bits flipped in the pixels, wrong, missing)\n",
                 options.quick ? " (quick)" : "", static_cast<unsigned long long>(options.seed));
    printHeader();
    Tally total;
    unsigned recoveries = 0;
    unsigned wrongUdp = 0;
    for (const Family& family : kFamilies) {
        const bool tcp = std::strcmp(family.name, "tcp") == 0;
        const std::vector<Fault> faults = matrix(options.quick, tcp);
        for (std::size_t i = 0; i < faults.size(); ++i) {
            const std::string row = std::string(family.name) + " " + faults[i].name;
            if (!options.only.empty() && row.find(options.only) == std::string::npos)
                continue;
            // A mark in the library's log, which is this program's standard output.
            std::printf("=== faults: %s %s %g\n", family.name, faults[i].name.c_str(), faults[i].probability);
            std::fflush(stdout);
            const Tally tally =
                runRow(family, faults[i], family.firstAddress + static_cast<uint32_t>(i) % kAddressesPerFamily,
                       options.seed * 1000 + i);
            printRow(family.name, faults[i], tally);
            total.add(tally);
            recoveries += tally.recoveryFailed ? 1 : 0;
            wrongUdp += tcp ? 0 : tally.wrong;
        }
    }
    std::fprintf(table, "%.0f s\n", std::chrono::duration<double>(Clock::now() - start).count());
    std::fprintf(table,
                 "faults: %u hangs, %u false successes, %u wrong frames reported complete, %u failed recoveries\n",
                 total.hung, total.falseSuccess, wrongUdp, recoveries);
    std::fflush(table);
    const bool met = total.hung == 0 && total.falseSuccess == 0 && wrongUdp == 0 && recoveries == 0;
    if (total.hung != 0)
        _exit(met ? 0 : 1); // a call still runs inside the library: shutting down would wait for it
    HX_unregister(host.client());
    HX_shutdown();
    return met ? 0 : 1;
}
