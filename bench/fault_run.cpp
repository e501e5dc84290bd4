// The steps of one fault-matrix row.
#include "fault_run.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include "library_client.h"
#include "registers/register_map.h"
#include "sim/frames/tiff_frames.h"

namespace fault_bench {

namespace regs = halvex::registers;

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
    settings(kRoundTrips);
}

void Run::settings(unsigned count)
{
    for (unsigned i = 0; i < count; ++i) {
        const bool write = i % 2 == 0;
        const uint32_t wanted = 100 + static_cast<uint32_t>(random_.below(800));
        HX_CAPTURE_SETTINGS got;
        const auto start = Clock::now();
        const bool done = writeCapture(
            [&](HX_CAPTURE_SETTINGS& record) {
                if (!write)
                    return;
                record.exposure_group_flags = HX_FLAG_SET;
                record.exposure = wanted;
                record.exposure_flags = HX_FLAG_SET;
            },
            got);
        ++tally.settingsCalls;
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        tally.settingsSeconds += seconds;
        tally.settingsSlowest = std::max(tally.settingsSlowest, seconds);
        if (!done) {
            ++tally.settingsFailed;
            continue;
        }
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
        set = writeCapture(halvex::bench::markSmallRecording, got);
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

void Run::download(bool untilWhole)
{
    const auto start = Clock::now();
    std::set<uint32_t> whole;
    if (!downloadPass(0, kFrames - 1, whole)) {
        tally.missing += kFrames;
        return;
    }
    tally.downloadPasses = 1;
    // Passes after the first count toward the frames whole at the end only; the row's image
    // columns stay the first pass's, and a wrong frame counts wherever it came.
    const Tally first = tally;
    std::size_t before = 0;
    while (untilWhole && whole.size() < kFrames && whole.size() > before) {
        before = whole.size();
        uint32_t low = 0;
        while (whole.count(low) != 0)
            ++low;
        uint32_t high = kFrames - 1;
        while (whole.count(high) != 0)
            --high;
        // A download may not start at the recording's last frame.
        if (low == high && low == kFrames - 1)
            --low;
        ++tally.downloadPasses;
        if (!downloadPass(low, high, whole))
            break;
    }
    tally.complete = first.complete;
    tally.incomplete = first.incomplete;
    tally.flipped = first.flipped;
    tally.missing = first.missing;
    tally.downloadWhole = static_cast<unsigned>(whole.size());
    tally.downloadSeconds = std::chrono::duration<double>(Clock::now() - start).count();
}

bool Run::downloadPass(uint32_t first, uint32_t last, std::set<uint32_t>& whole)
{
    uint32_t serial = 0;
    camera_.withCore([&](hxsim::CameraCore& core, hxsim::SimTime) {
        if (const auto& recording = core.device().frames().recording())
            serial = recording->serial;
    });
    const hxsim::FrameGeometry geometry{kWidth, kHeight, 16, kWidth * kHeight};
    const HX_CLIENT_HANDLE client = host_.client();
    const uint32_t count = last - first + 1;
    host_.drain(handle_);
    // More buffers than frames: small frames come faster than a pause could reach the camera.
    for (HX_READ_STREAM* record : host_.buffers(count + 4, HX_STREAM_MIN_BUFFER_SIZE))
        call("HX_download (lend)", [client, camera = handle_, record] { return HX_download(client, camera, record); });
    auto settings = std::make_shared<HX_DOWNLOAD_SETTINGS>();
    HX_download_settings_init(settings.get(), sizeof(HX_DOWNLOAD_SETTINGS));
    settings->flags = HX_FLAG_SET;
    settings->start = first;
    settings->start_flags = HX_FLAG_SET;
    settings->stop = last;
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
            HX_STATUS_OK)
        return false;
    std::set<uint32_t> seen;
    const auto deadline = Clock::now() + kStreamLimit;
    Host::Returned returned;
    // A buffer given back at once, again and again, must not keep the loop past its deadline.
    while (Clock::now() < deadline && host_.next(handle_, deadline, returned) && returned.record != nullptr) {
        HX_READ_STREAM& record = *returned.record;
        // Unfilled (the stream has ended, or the camera is gone): no image, and not lent again.
        if (released(record) || (record.received_length == 0 && record.image_length == 0))
            continue;
        const bool inRange = record.frame_id >= first && record.frame_id <= last;
        if (inRange)
            seen.insert(record.frame_id);
        const unsigned completeBefore = tally.complete;
        classify(record,
                 inRange ? hxsim::TiffFrame::encode(record.frame_id, serial, geometry) : std::vector<uint8_t>{});
        if (inRange && tally.complete > completeBefore)
            whole.insert(record.frame_id);
        if ((record.status & HX_STREAM_STATUS_LAST) != 0)
            break;
        clearResults(record);
        HX_download(client, handle_, &record);
    }
    tally.missing += count - static_cast<unsigned>(seen.size());
    return true;
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

} // namespace fault_bench
