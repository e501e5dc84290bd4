// Family record rows: each cached record with its groups, computation, merge and events.
#include "family/record_rows.h"

#include <memory>
#include <optional>

#include "family/capture.h"
#include "family/commands.h"
#include "family/download_settings.h"
#include "family/family_capture.h"
#include "family/family_commands.h"
#include "family/family_download_settings.h"
#include "family/family_io_settings.h"
#include "family/family_progress.h"
#include "family/family_stream_settings.h"
#include "family/io_settings.h"
#include "family/notifications.h"
#include "family/stream_settings.h"

namespace halvex::family {

using camera::CachedRecords;

using namespace registers;

namespace {

// A cached record's row: `init` makes the fresh record a new subscriber is sent, `merge` copies
// the cache into a record the way a getter does.
template <class Record, class Init, class Merge>
record_rows::Record row(uint32_t event, std::vector<RegisterGroup> groups, uint32_t address, Record& cached,
                        const std::function<void()>& compute, Init init, Merge merge)
{
    record_rows::Record entry;
    entry.event = event;
    entry.groups = std::move(groups);
    entry.compute = compute;
    // What subscribers were last sent. A change is marked against it, not against the cache: the
    // host's own write reads its values back into the cache before the camera's notification
    // of it arrives, and that notification must still mark what changed.
    auto sent = std::make_shared<std::optional<Record>>();
    entry.change = [event, address, &cached, compute, merge, sent] {
        auto record = sent->value_or(cached);
        compute();
        merge(cached, record);
        *sent = cached;
        return events::event(event, address, record);
    };
    entry.snapshot = [event, address, &cached, init, merge, sent] {
        Record record;
        init(&record, static_cast<uint32_t>(sizeof(record)));
        merge(cached, record);
        *sent = cached;
        return events::event(event, address, record);
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

namespace record_rows {

std::vector<Record> familyRows(const FamilyRecordSources& sources)
{
    FamilyCamera& camera = sources.camera;
    CachedRecords& cached = camera.cached;
    const uint32_t address = camera.address;
    FamilyCapture& capturing = sources.capture;
    Record capture = row(
        HX_CAPTURE_CHANGE, {RegisterGroup::Sensor, RegisterGroup::Capture}, address, cached.captureSettings,
        [&capturing] {
            capturing.computeCaptureLocked();
            capturing.computeAnalogGainLocked();
        },
        HX_capture_settings_init, family::capture::mergeCapture);
    capture.computeLogsFailure = true;
    capture.setValid = [&cached](uint8_t value) { cached.captureSettingsValid = cached.analogGainValid = value; };
    capture.implausible = [&capturing] { return capturing.implausibleLocked(); };
    FamilyDownloadSettings& downloading = sources.download;
    Record download = row(
        HX_DOWNLOAD_CHANGE, {RegisterGroup::Download}, address, cached.downloadSettings,
        [&downloading] { downloading.computeDownloadLocked(); }, HX_download_settings_init,
        family::download_settings::mergeDownload);
    download.setValid = validFlag(cached.downloadSettingsValid);
    FamilyIoSettings& signals = sources.io;
    Record io = row(
        HX_IO_CHANGE, {RegisterGroup::IO}, address, cached.ioSettings, [&signals] { signals.computeIoLocked(); },
        HX_io_settings_init, family::io_settings::mergeIo);
    io.setValid = validFlag(cached.ioSettingsValid);
    // The lens status has no cache here: its change event reads it (another family from the
    // camera), and a new subscriber is sent an empty record.
    Record lens;
    lens.event = HX_LENS_CHANGE;
    lens.groups = {RegisterGroup::Lens};
    lens.snapshot = [address] {
        HX_LENS_STATUS record;
        HX_lens_status_init(&record, sizeof(record));
        return family::events::event(HX_LENS_CHANGE, address, record);
    };
    FamilyCommands& commands = sources.commands;
    Record playback = row(
        HX_PLAYBACK_CHANGE, {RegisterGroup::Playback}, address, cached.playbackSettings,
        [&commands] { commands.computePlaybackLocked(); }, HX_playback_settings_init, family::commands::mergePlayback);
    playback.setValid = validFlag(cached.playbackSettingsValid);
    FamilyStreamSettings& streaming = sources.stream;
    Record stream = row(
        HX_STREAM_CHANGE, {RegisterGroup::Stream}, address, cached.streamSettings,
        [&streaming] { streaming.computeStreamLocked(); }, HX_stream_settings_init,
        family::stream_settings::mergeStream);
    stream.setValid = validFlag(cached.streamSettingsValid);
    stream.notified = false;
    stream.change = nullptr;
    Record state = row(
        HX_STATE, {RegisterGroup::State}, address, cached.command, [&commands] { commands.computeStateLocked(); },
        HX_command_init, family::commands::mergeCommand);
    FamilyProgress& progressing = sources.progress;
    Record progress = row(
        HX_PROGRESS_UPDATE, {RegisterGroup::Progress}, address, cached.progress,
        [&progressing] { progressing.computeProgressLocked(); }, freshProgress, family::events::mergeProgress);
    progress.setValid = validFlag(cached.progressValid);
    return {std::move(capture),  std::move(download), std::move(io),    std::move(lens),
            std::move(playback), std::move(stream),   std::move(state), std::move(progress)};
}

} // namespace record_rows

} // namespace halvex::family
