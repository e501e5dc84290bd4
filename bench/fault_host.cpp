// The host side of the fault matrix: bounded calls, returned buffers, image checks.
#include "fault_host.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

namespace fault_bench {

void Tally::add(const Tally& other)
{
    succeeded += other.succeeded;
    failed += other.failed;
    falseSuccess += other.falseSuccess;
    hung += other.hung;
    complete += other.complete;
    incomplete += other.incomplete;
    flipped += other.flipped;
    wrong += other.wrong;
    missing += other.missing;
    if (other.slowest > slowest) {
        slowest = other.slowest;
        slowestCall = other.slowestCall;
    }
    recoveryFailed = recoveryFailed || other.recoveryFailed;
    settingsCalls += other.settingsCalls;
    settingsFailed += other.settingsFailed;
    settingsSeconds += other.settingsSeconds;
    settingsSlowest = std::max(settingsSlowest, other.settingsSlowest);
    downloadSeconds += other.downloadSeconds;
    downloadWhole += other.downloadWhole;
    downloadPasses += other.downloadPasses;
}

ImageCheck compareImage(std::span<const uint8_t> image, std::span<const uint8_t> expected)
{
    if (image.size() != expected.size())
        return ImageCheck::Wrong;
    // Each corrupted packet flips one to three neighbouring bytes; an image spans several packets,
    // so several such windows are still flipped pixels. Another frame, or bytes put in the wrong
    // place, differ far more widely.
    const std::size_t packets = 1 + image.size() / kSmallestPayload;
    std::size_t windows = 0;
    auto at = image.begin();
    while (true) {
        const auto differs = std::mismatch(at, image.end(), expected.begin() + (at - image.begin()));
        if (differs.first == image.end())
            return windows == 0 ? ImageCheck::Whole : ImageCheck::Flipped;
        if (++windows > packets)
            return ImageCheck::Wrong;
        at = differs.first + std::min<std::ptrdiff_t>(3, image.end() - differs.first);
    }
}

bool released(const HX_READ_STREAM& record)
{
    const uint32_t unfilled = HX_STREAM_STATUS_ERROR | HX_STREAM_STATUS_LAST;
    return (record.status & unfilled) == unfilled && record.received_length == 0;
}

bool reportedWhole(const HX_READ_STREAM& record)
{
    return (record.status & HX_STREAM_STATUS_COMPLETE) != 0 && (record.status & HX_STREAM_STATUS_ERROR) == 0 &&
           record.received_length == record.image_length && record.image_length != 0;
}

void clearResults(HX_READ_STREAM& record)
{
    record.status = 0;
    record.received_length = 0;
    record.image_length = 0;
    record.frame_id = 0;
}

struct Host::State {
    mutable std::mutex lock;
    std::condition_variable changed;
    std::map<HX_CAMERA_HANDLE, std::deque<Returned>> returned;
    std::map<std::pair<HX_CAMERA_HANDLE, uint32_t>, unsigned> events;
    std::vector<std::unique_ptr<uint8_t[]>> memory;
    std::vector<std::unique_ptr<HX_READ_STREAM>> records;
};

Host& Host::instance()
{
    static Host* host = new Host; // lives until the process ends, as the library's callbacks may
    return *host;
}

bool Host::start()
{
    state_ = std::make_shared<State>();
    return HX_register(&client_, onEvent, this) == HX_STATUS_OK;
}

void Host::onEvent(uint32_t event, HX_CLIENT_HANDLE, HX_CAMERA_HANDLE camera, void* data, void* cookie)
{
    State& state = *static_cast<Host*>(cookie)->state_;
    std::lock_guard<std::mutex> lock(state.lock);
    ++state.events[{camera, event}];
    const bool stream = event == HX_DOWNLOAD_DATA || event == HX_LIVE_DATA || event == HX_PLAYBACK_DATA;
    if (stream)
        state.returned[camera].push_back({event, static_cast<HX_READ_STREAM*>(data), Clock::now()});
    state.changed.notify_all();
}

HX_STATUS Host::bounded(Tally& tally, const char* what, std::chrono::milliseconds bound,
                        std::function<HX_STATUS()> call)
{
    struct Outcome {
        std::mutex lock;
        std::condition_variable done;
        std::optional<HX_STATUS> status;
    };
    auto outcome = std::make_shared<Outcome>();
    const auto start = Clock::now();
    std::thread([outcome, call = std::move(call)] {
        const HX_STATUS status = call();
        std::lock_guard<std::mutex> lock(outcome->lock);
        outcome->status = status;
        outcome->done.notify_all();
    }).detach();
    std::unique_lock<std::mutex> lock(outcome->lock);
    const bool finished = outcome->done.wait_for(lock, bound, [&] { return outcome->status.has_value(); });
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (seconds > tally.slowest) {
        tally.slowest = seconds;
        tally.slowestCall = what;
    }
    if (!finished) {
        ++tally.hung;
        std::fprintf(stderr, "faults: %s still running after %lld ms\n", what, static_cast<long long>(bound.count()));
        return HX_STATUS_ERROR;
    }
    ++(*outcome->status == HX_STATUS_OK ? tally.succeeded : tally.failed);
    return *outcome->status;
}

unsigned Host::events(HX_CAMERA_HANDLE camera, uint32_t event) const
{
    std::lock_guard<std::mutex> lock(state_->lock);
    const auto found = state_->events.find({camera, event});
    return found == state_->events.end() ? 0 : found->second;
}

bool Host::waitForEvent(HX_CAMERA_HANDLE camera, uint32_t event, unsigned seen, Clock::time_point deadline)
{
    std::unique_lock<std::mutex> lock(state_->lock);
    return state_->changed.wait_until(lock, deadline, [&] { return state_->events[{camera, event}] > seen; });
}

bool Host::next(HX_CAMERA_HANDLE camera, Clock::time_point deadline, Returned& returned)
{
    std::unique_lock<std::mutex> lock(state_->lock);
    auto& queue = state_->returned[camera];
    if (!state_->changed.wait_until(lock, deadline, [&] { return !queue.empty(); }))
        return false;
    returned = queue.front();
    queue.pop_front();
    return true;
}

void Host::drain(HX_CAMERA_HANDLE camera)
{
    std::lock_guard<std::mutex> lock(state_->lock);
    state_->returned[camera].clear();
}

std::vector<HX_READ_STREAM*> Host::buffers(std::size_t count, std::size_t size)
{
    std::lock_guard<std::mutex> lock(state_->lock);
    std::vector<HX_READ_STREAM*> lent;
    for (std::size_t i = 0; i < count; ++i) {
        state_->memory.emplace_back(new uint8_t[size]);
        auto record = std::make_unique<HX_READ_STREAM>();
        HX_read_stream_init(record.get(), sizeof(HX_READ_STREAM));
        record->buffer = state_->memory.back().get();
        record->buffer_size = size;
        lent.push_back(record.get());
        state_->records.push_back(std::move(record));
    }
    return lent;
}

} // namespace fault_bench
