// One stand-in camera of the soak and the steps it goes through.
#include "soak_camera.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <thread>

#include "small_recording.h"

namespace halvex::bench {
namespace {

using namespace std::chrono_literals;

constexpr uint32_t kWidth = halvex::bench::kSmallWidth;
constexpr uint32_t kHeight = halvex::bench::kSmallHeight;
constexpr uint32_t kFrames = halvex::bench::kSmallFrames;
constexpr std::size_t kLiveBuffers = 4;
// More than frames: small frames come faster than the throttle's pause reaches the camera.
constexpr std::size_t kDownloadBuffers = kFrames + 4;
constexpr std::size_t kDownloadBufferSize = 64 * 1024;
// With the library's periods at a tenth, a silent camera is given up after 3 s.
constexpr auto kGivenUp = 3500ms;
constexpr auto kStartLimit = 30s;
constexpr auto kEventLimit = 5s;
constexpr auto kStreamLimit = 10s;
constexpr auto kRecoveryLimit = 30s;

std::string dotted(uint32_t address)
{
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

uint32_t captureErrors(const HX_CAPTURE_SETTINGS& record)
{
    return (record.flags | record.sensor_group_flags | record.record_group_flags | record.exposure_group_flags |
            record.width_flags | record.height_flags | record.exposure_flags | record.length_flags | record.rate_flags |
            record.bit_mode_flags | record.record_mode_flags) &
           HX_FLAG_ERR;
}

// A buffer given back unfilled: a stream that ended or a camera that went away.
bool unfilled(const HX_READ_STREAM& record)
{
    return record.received_length == 0 && record.image_length == 0;
}

} // namespace

SoakCamera::SoakCamera(SoakHost& host, const std::string& hxsim, uint32_t address, const std::string& model,
                       const std::string& logPath)
    : host_(host), address_(dotted(address)),
      process_(hxsim, {"--address", dotted(address), "--model", model, "--memory", "256M"}, logPath), random_(address)
{
    auto add = [this](std::size_t size, std::vector<HX_READ_STREAM*>& idle) {
        memory_.emplace_back(new uint8_t[size]);
        auto record = std::make_unique<HX_READ_STREAM>();
        HX_read_stream_init(record.get(), sizeof(HX_READ_STREAM));
        record->buffer = memory_.back().get();
        record->buffer_size = size;
        idle.push_back(record.get());
        records_.push_back(std::move(record));
    };
    for (std::size_t i = 0; i < kLiveBuffers; ++i)
        add(HX_STREAM_MIN_BUFFER_SIZE, idleLive_);
    for (std::size_t i = 0; i < kDownloadBuffers; ++i)
        add(kDownloadBufferSize, idleDownload_);
}

void SoakCamera::fail(SoakTally& tally, const std::string& what)
{
    ++tally.failedCalls;
    std::fprintf(stderr, "soak: %s: %s\n", address_.c_str(), what.c_str());
}

bool SoakCamera::begin()
{
    if (!process_.start(Clock::now() + kStartLimit))
        return false;
    if (HX_get_handle_by_name(host_.client(), &camera_, address_.c_str()) != HX_STATUS_OK ||
        HX_subscribe(host_.client(), camera_) != HX_STATUS_OK) {
        std::fprintf(stderr, "soak: %s: could not add and subscribe to the camera\n", address_.c_str());
        return false;
    }
    return smallFrames();
}

void SoakCamera::end()
{
    HX_unsubscribe(host_.client(), camera_);
    HX_release_handle(host_.client(), camera_);
    process_.kill();
}

bool SoakCamera::smallFrames()
{
    HX_CAPTURE_SETTINGS record;
    HX_capture_settings_init(&record, sizeof(record));
    halvex::bench::markSmallRecording(record);
    return HX_setup_capture_syn(host_.client(), camera_, &record, &record) == HX_STATUS_OK &&
           captureErrors(record) == 0 && record.width == kWidth && record.height == kHeight;
}

bool SoakCamera::writeExposure(uint32_t exposure, HX_CAPTURE_SETTINGS& answer)
{
    HX_capture_settings_init(&answer, sizeof(answer));
    answer.exposure_group_flags = HX_FLAG_SET;
    answer.exposure = exposure;
    answer.exposure_flags = HX_FLAG_SET;
    return HX_setup_capture_syn(host_.client(), camera_, &answer, &answer) == HX_STATUS_OK &&
           captureErrors(answer) == 0;
}

// An exposure written, its change announced to this subscriber, and the same value read back.
void SoakCamera::settingsRoundTrip(SoakTally& tally)
{
    ++tally.cycles;
    const uint32_t wanted = 100 + static_cast<uint32_t>(random_() % 800);
    const unsigned seen = host_.events(camera_, HX_CAPTURE_CHANGE);
    HX_CAPTURE_SETTINGS written;
    if (!writeExposure(wanted, written) || written.exposure != wanted) {
        fail(tally, "exposure " + std::to_string(wanted) + " was not written");
        return;
    }
    if (!host_.waitForEvent(camera_, HX_CAPTURE_CHANGE, seen, Clock::now() + kEventLimit)) {
        ++tally.lostEvents;
        std::fprintf(stderr, "soak: %s: no change event after an exposure write\n", address_.c_str());
    }
    HX_CAPTURE_SETTINGS read;
    HX_capture_settings_init(&read, sizeof(read));
    if (HX_setup_capture_syn(host_.client(), camera_, &read, &read) != HX_STATUS_OK || captureErrors(read) != 0 ||
        read.exposure != wanted)
        fail(tally,
             "exposure " + std::to_string(wanted) + " did not read back (read " + std::to_string(read.exposure) + ")");
}

void SoakCamera::keep(HX_READ_STREAM* record)
{
    const bool live = record->buffer_size == HX_STREAM_MIN_BUFFER_SIZE;
    std::vector<HX_READ_STREAM*>& idle = live ? idleLive_ : idleDownload_;
    if (std::find(idle.begin(), idle.end(), record) == idle.end())
        idle.push_back(record);
}

void SoakCamera::collect()
{
    while (HX_READ_STREAM* record = host_.nextReturned(camera_, Clock::now()))
        keep(record);
}

bool SoakCamera::liveImages(unsigned wanted)
{
    collect();
    for (HX_READ_STREAM* record : idleLive_)
        host_.lendLive(camera_, *record);
    idleLive_.clear();
    if (HX_live_enable(host_.client(), camera_, 1) != HX_STATUS_OK)
        return false;
    unsigned images = 0;
    const auto deadline = Clock::now() + kStreamLimit;
    while (images < wanted) {
        HX_READ_STREAM* record = host_.nextReturned(camera_, deadline);
        if (record == nullptr)
            break;
        if (record->buffer_size != HX_STREAM_MIN_BUFFER_SIZE || unfilled(*record)) {
            keep(record);
            continue;
        }
        images += wholeImage(*record) ? 1 : 0;
        host_.lendLive(camera_, *record);
    }
    HX_live_enable(host_.client(), camera_, 0);
    return images >= wanted;
}

void SoakCamera::liveCycle(SoakTally& tally)
{
    ++tally.cycles;
    if (!liveImages(2)) {
        ++tally.lostEvents;
        std::fprintf(stderr, "soak: %s: live switched on, but two whole images did not come\n", address_.c_str());
    }
}

bool SoakCamera::command(uint32_t code, uint32_t& state)
{
    HX_COMMAND record;
    HX_command_init(&record, sizeof(record));
    if (code != 0) {
        record.flags = HX_FLAG_SET;
        record.code = code;
        record.code_flags = HX_FLAG_SET;
    }
    if (HX_command_syn(host_.client(), camera_, &record, &record) != HX_STATUS_OK ||
        ((record.flags | record.code_flags) & HX_FLAG_ERR) != 0)
        return false;
    state = record.code;
    return true;
}

// The camera announces its state changes; the state is read again after each.
bool SoakCamera::waitForReview()
{
    const auto deadline = Clock::now() + kStreamLimit;
    while (Clock::now() < deadline) {
        const unsigned seen = host_.events(camera_, HX_STATE);
        uint32_t state = 0;
        if (command(0, state) && state == HX_CAMERA_STATE_REVIEW)
            return true;
        host_.waitForEvent(camera_, HX_STATE, seen, std::min(deadline, Clock::now() + 200ms));
    }
    return false;
}

bool SoakCamera::startDownload()
{
    collect();
    for (HX_READ_STREAM* record : idleDownload_)
        host_.lendDownload(camera_, *record);
    idleDownload_.clear();
    HX_DOWNLOAD_SETTINGS settings;
    HX_download_settings_init(&settings, sizeof(settings));
    settings.flags = HX_FLAG_SET;
    settings.start = 0;
    settings.start_flags = HX_FLAG_SET;
    settings.stop = kFrames - 1;
    settings.stop_flags = HX_FLAG_SET;
    settings.format = HX_FORMAT_TIFF;
    settings.format_flags = HX_FLAG_SET;
    settings.rate_control_flags = HX_FLAG_SET;
    settings.pause_count = 2;
    settings.resume_count = 8;
    return HX_setup_download_syn(host_.client(), camera_, &settings, &settings) == HX_STATUS_OK &&
           ((settings.start_flags | settings.stop_flags | settings.format_flags) & HX_FLAG_ERR) == 0 &&
           HX_download(host_.client(), camera_, nullptr) == HX_STATUS_OK;
}

// Frames of the recording that came back whole, each lent again until the last.
unsigned SoakCamera::downloadFrames()
{
    std::set<uint32_t> whole;
    const auto deadline = Clock::now() + kStreamLimit;
    while (HX_READ_STREAM* record = host_.nextReturned(camera_, deadline)) {
        if (record->buffer_size != kDownloadBufferSize || unfilled(*record)) {
            keep(record);
            continue;
        }
        if (wholeImage(*record) && record->frame_id < kFrames)
            whole.insert(record->frame_id);
        if ((record->status & HX_STREAM_STATUS_LAST) != 0) {
            keep(record);
            break;
        }
        host_.lendDownload(camera_, *record);
    }
    return static_cast<unsigned>(whole.size());
}

void SoakCamera::recordAndDownload(SoakTally& tally)
{
    ++tally.cycles;
    uint32_t state = 0;
    if (!smallFrames() || !command(HX_CMD_ARM, state) || !command(HX_CMD_TRIGGER, state) || !waitForReview()) {
        fail(tally, "the recording did not reach review");
        return;
    }
    if (!startDownload()) {
        fail(tally, "the download did not start");
        return;
    }
    const unsigned frames = downloadFrames();
    if (frames < kFrames) {
        tally.lostEvents += kFrames - frames;
        std::fprintf(stderr, "soak: %s: the download gave back %u of %u frames whole\n", address_.c_str(), frames,
                     kFrames);
    }
}

void SoakCamera::restart(SoakTally& tally, bool outlast)
{
    ++tally.cycles;
    process_.kill();
    if (outlast)
        std::this_thread::sleep_for(kGivenUp); // the library's own give-up period, not a test's wait
    if (!process_.start(Clock::now() + kStartLimit)) {
        ++tally.failedRecoveries;
        return;
    }
    const auto deadline = Clock::now() + kRecoveryLimit;
    bool answers = false;
    bool announces = false;
    while (!(answers && announces) && Clock::now() < deadline) {
        const unsigned seen = host_.events(camera_, HX_CAPTURE_CHANGE);
        answers = smallFrames();
        // Refused while the library has not taken the camera back: asked again after a while, or
        // at once when the camera announces itself.
        announces = host_.waitForEvent(camera_, HX_CAPTURE_CHANGE, seen, Clock::now() + 500ms) && answers;
    }
    const bool streams = answers && announces && liveImages(1);
    if (!streams) {
        ++tally.failedRecoveries;
        std::fprintf(stderr, "soak: %s: after a restart%s: %s\n", address_.c_str(),
                     outlast ? " beyond the give-up period" : "",
                     !answers     ? "no answer"
                     : !announces ? "no change events"
                                  : "no live images");
    }
}

} // namespace halvex::bench
