// Family records: the table of cached records and the loops it drives: the refresh of every cache
// for the first subscriber, the snapshot events for each subscriber, and the change events that
// follow a notification.
#include "family/records_table.h"

#include <hlv_thread/log.h>
#include <hlv_thread/note.h>

#include "family/capture.h"
#include "family/commands.h"
#include "family/download_settings.h"
#include "family/family_operations.h"
#include "family/io_settings.h"
#include "family/notifications.h"
#include "family/stream_settings.h"

using namespace HX_REGISTERS;
using FAMILY_RECORDS::bit;
using HLV_THREAD::TRACE_OPERATIONS;

namespace {

// A cached record's row: `init` makes the fresh record a new subscriber is sent, `merge` copies
// the cache into a record the way a getter does.
template <class Record, class Init, class Merge>
FAMILY_RECORDS::Record row(uint32_t event, std::vector<RegisterGroup> groups, uint32_t address, Record& cached,
                           const std::function<void()>& compute, Init init, Merge merge)
{
    FAMILY_RECORDS::Record entry;
    entry.event = event;
    entry.groups = std::move(groups);
    entry.compute = compute;
    entry.change = [event, address, &cached, compute, merge] {
        auto record = cached;
        compute();
        merge(cached, record);
        return FAMILY_EVENTS::event(event, address, record);
    };
    entry.snapshot = [event, address, &cached, init, merge] {
        Record record;
        init(&record, static_cast<uint32_t>(sizeof(record)));
        merge(cached, record);
        return FAMILY_EVENTS::event(event, address, record);
    };
    return entry;
}

void freshProgress(HX_PROGRESS* record, uint32_t /*size*/)
{
    *record = HX_PROGRESS{};
    record->ver_maj = HX_API_VERSION_MAJ;
    record->ver_min = HX_API_VERSION_MIN;
}

template <class Valid>
std::function<void(uint8_t)> validFlag(Valid& valid)
{
    return [&valid](uint8_t value) { valid = value; };
}

} // namespace

// Rows in the order the caches are refreshed and a new subscriber's events are posted.
void FamilyOperations::buildRecords()
{
    using FAMILY_RECORDS::Record;
    Record capture = row(
        HX_CAPTURE_CHANGE, {RegisterGroup::Sensor, RegisterGroup::Capture}, address_, captureSettings_,
        [this] {
            computeCaptureLocked();
            computeAnalogGainLocked();
        },
        HX_capture_settings_init, FAMILY_CAPTURE::mergeCapture);
    capture.computeLogsFailure = true;
    capture.setValid = [this](uint8_t value) { captureSettingsValid_ = analogGainValid_ = value; };
    capture.implausible = [this] { return FAMILY_CAPTURE::implausibleCapture(captureSettings_, roiBeyondSensor_); };
    Record download = row(
        HX_DOWNLOAD_CHANGE, {RegisterGroup::Download}, address_, downloadSettings_, [this] { computeDownloadLocked(); },
        HX_download_settings_init, FAMILY_DOWNLOAD::mergeDownload);
    download.setValid = validFlag(downloadSettingsValid_);
    Record io = row(
        HX_IO_CHANGE, {RegisterGroup::IO}, address_, ioSettings_, [this] { computeIoLocked(); }, HX_io_settings_init,
        FAMILY_IO::mergeIo);
    io.setValid = validFlag(ioSettingsValid_);
    // The lens status has no cache here: its change event reads it (another family from the
    // camera), and a new subscriber is sent an empty record.
    Record lens;
    lens.event = HX_LENS_CHANGE;
    lens.groups = {RegisterGroup::Lens};
    lens.snapshot = [this] {
        HX_LENS_STATUS record;
        HX_lens_status_init(&record, sizeof(record));
        return FAMILY_EVENTS::event(HX_LENS_CHANGE, address_, record);
    };
    Record playback = row(
        HX_PLAYBACK_CHANGE, {RegisterGroup::Playback}, address_, playbackSettings_, [this] { computePlaybackLocked(); },
        HX_playback_settings_init, FAMILY_COMMANDS::mergePlayback);
    playback.setValid = validFlag(playbackSettingsValid_);
    Record stream = row(
        HX_STREAM_CHANGE, {RegisterGroup::Stream}, address_, streamSettings_, [this] { computeStreamLocked(); },
        HX_stream_settings_init, FAMILY_STREAM::mergeStream);
    stream.setValid = validFlag(streamSettingsValid_);
    stream.notified = false;
    stream.change = nullptr;
    Record state = row(
        HX_STATE, {RegisterGroup::State}, address_, command_, [this] { computeStateLocked(); }, HX_command_init,
        FAMILY_COMMANDS::mergeCommand);
    Record progress = row(
        HX_PROGRESS_UPDATE, {RegisterGroup::Progress}, address_, progress_, [this] { computeProgressLocked(); },
        freshProgress, FAMILY_EVENTS::mergeProgress);
    progress.setValid = validFlag(progressValid_);
    records_ = {std::move(capture),  std::move(download), std::move(io),    std::move(lens),
                std::move(playback), std::move(stream),   std::move(state), std::move(progress)};
}

const FAMILY_RECORDS::Record* FamilyOperations::record(uint32_t event) const
{
    for (const FAMILY_RECORDS::Record& entry : records_) {
        if (entry.event == event)
            return &entry;
    }
    return nullptr;
}

// A group that cannot be read leaves its record untrusted (its next read goes to the camera). A
// record is read only when all its groups were. Returns, per record, whether it could not be read
// (the lens status, which has no cache, never counts as unread).
std::vector<bool> FamilyOperations::refreshEveryCache()
{
    static constexpr const char* method = "TarrowOperations::handleSubscription";
    const auto refreshed = [this](RegisterGroup id) {
        if (refreshGroup(id))
            return true;
        HLV_LOG("%s(%s): The %s registers could not be read", method, name_.c_str(),
                std::string(groupName(id)).c_str());
        return false;
    };
    std::vector<bool> read;
    std::vector<bool> unread;
    bool implausible = false;
    for (const FAMILY_RECORDS::Record& entry : records_) {
        bool complete = static_cast<bool>(entry.compute);
        for (RegisterGroup id : entry.groups)
            complete = complete && refreshed(id);
        read.push_back(complete);
        unread.push_back(entry.compute && !complete);
    }
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        for (std::size_t i = 0; i < records_.size(); ++i) {
            if (records_[i].setValid)
                records_[i].setValid(read[i] ? 1 : 0);
        }
        for (std::size_t i = 0; i < records_.size(); ++i) {
            if (!read[i])
                continue;
            if (!records_[i].computeLogsFailure) {
                records_[i].compute();
                continue;
            }
            try {
                records_[i].compute();
                implausible = distrustImplausibleLocked(records_[i], method) || implausible;
            } catch (const HLV_THREAD::Exception& error) {
                HLV_LOG("%s(%s): %s", method, name_.c_str(), error.str().c_str());
            }
        }
    }
    // Subscribers are sent the caches next: capture settings (the only record checked) that
    // looked corrupted are read again first.
    if (implausible) {
        try {
            readCapture();
        } catch (const HLV_THREAD::Exception& error) {
            HLV_LOG("%s(%s): %s", method, name_.c_str(), error.str().c_str());
        }
    }
    checkProgressPoller(progressPlayMode());
    return unread;
}

// A record that could not be read (`unread`, when given) is not sent: its event would carry
// values the camera never reported, each marked changed.
void FamilyOperations::postCurrentState(const std::vector<bool>& unread)
{
    std::vector<std::unique_ptr<HLV_CALLBACK::CallbackRequest>> events;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        for (std::size_t i = 0; i < records_.size(); ++i)
            events.push_back(i < unread.size() && unread[i] ? nullptr : records_[i].snapshot());
    }
    for (std::size_t i = 0; i < records_.size(); ++i) {
        if (!events[i])
            continue;
        const uint32_t event = records_[i].event;
        if (event == HX_PLAYBACK_CHANGE || event == HX_STREAM_CHANGE)
            HLV_TRACE(TRACE_OPERATIONS, "%s(%s): %s", "TarrowOperations::handleSubscription", name_.c_str(),
                      FAMILY_EVENTS::eventName(event));
        HLV_CALLBACK::Callback::postOwned(std::move(events[i]));
    }
}

// Returns the events whose groups hold a notified register (a bit per event code). One address
// may sit in several groups (the camera state is in download, playback and state).
uint32_t FamilyOperations::storeNotified(const RegisterPairs& pairs, uint64_t known)
{
    static constexpr const char* method = "TarrowOperations::handleNotification";
    uint32_t marked = 0;
    for (const auto& [reg, value] : pairs) {
        HLV_TRACE(TRACE_OPERATIONS, "%s(%s): reg_addr=0x%x, value=%d/0x%08x", method, name_.c_str(), reg, value, value);
        for (const FAMILY_RECORDS::Record& entry : records_) {
            if (!entry.notified)
                continue;
            for (RegisterGroup id : entry.groups) {
                if (!groups_.store(id, reg, value, known))
                    continue;
                marked |= bit(entry.event);
                if (id == RegisterGroup::Sensor)
                    HLV_TRACE(TRACE_OPERATIONS, "%s(%s): Sensor reg [0x%04X] <- 0x%04x/%d", method, name_.c_str(), reg,
                              value, value);
                if (id == RegisterGroup::Playback)
                    HLV_TRACE(TRACE_OPERATIONS, "%s(%s): Playback reg [0x%04X] <- 0x%04x/%d", method, name_.c_str(),
                              reg, value, value);
            }
        }
    }
    return marked;
}

// Recomputes one cached record from the updated caches (the state mutex is held) and makes the
// event. Nothing (and a log line) when the record cannot be computed.
std::unique_ptr<HLV_CALLBACK::CallbackRequest> FamilyOperations::changeLocked(uint32_t event)
{
    static constexpr const char* method = "TarrowOperations::handleNotification";
    HLV_TRACE(TRACE_OPERATIONS, "%s(%s): %s", method, name_.c_str(), FAMILY_EVENTS::eventName(event));
    const FAMILY_RECORDS::Record* entry = record(event);
    if (entry == nullptr || !entry->change)
        return nullptr;
    try {
        auto request = entry->change();
        return distrustImplausibleLocked(*entry, method) ? nullptr : std::move(request);
    } catch (const HLV_THREAD::Exception& error) {
        HLV_LOG("%s(%s): No %s: %s", method, name_.c_str(), FAMILY_EVENTS::eventName(event), error.str().c_str());
    }
    return nullptr;
}

// True (and the record untrusted, with a log line) when the freshly computed record holds values no
// camera could: its next read goes to the camera instead of serving them. State mutex held.
bool FamilyOperations::distrustImplausibleLocked(const FAMILY_RECORDS::Record& entry, const char* method)
{
    if (!entry.implausible)
        return false;
    const std::string reason = entry.implausible();
    if (reason.empty())
        return false;
    if (entry.setValid)
        entry.setValid(0);
    HLV_LOG("%s(%s): The camera reported an implausible value for %s (%s); the next read asks the camera again", method,
            name_.c_str(), FAMILY_EVENTS::eventName(entry.event), reason.c_str());
    return true;
}
