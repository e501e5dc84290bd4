// Family records table: the table of the family's cached records, each with the register groups it is
// computed from, the event that reports it, and how it is computed, merged and sent.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <hx/hx.h>

#include <hlv_thread/log_label.h>

#include "callback/callback_messages.h"
#include "family/family_camera.h"
#include "registers/register_map.h"

namespace halvex::family {

namespace record_rows {

// One row of the table. The functions are bound to one operations object and run with its state
// mutex held; none of them talks to the camera.
struct Record {
    uint32_t event = 0;
    // The groups the record is computed from, in the order they are read; empty for a record
    // without a cache of register values (the lens status is read afresh each time).
    std::vector<registers::RegisterGroup> groups;
    // Whether the camera's notifications update these groups (the stream group it never reports).
    bool notified = true;
    // A failed computation after the first subscriber's refresh is logged rather than failing
    // the subscription.
    bool computeLogsFailure = false;
    // Recomputes the cached record from its groups.
    std::function<void()> compute;
    // Marks the cached record trusted (1) or not (0); empty when its computation marks it.
    std::function<void(uint8_t)> setValid;
    // Recomputes the record and makes its change event: the previous record with the fields that
    // changed copied in and marked. Empty when changes are not reported from the cache.
    std::function<std::unique_ptr<callback::CallbackRequest>()> change;
    // Why the computed record holds values no camera could (a bit flipped on the way), or empty.
    // Such a record is neither reported nor trusted: the next read asks the camera. Empty when the
    // record has no such check.
    std::function<std::string()> implausible;
    // The event carrying the cached record as a fresh record shows it, for a new subscriber.
    std::function<std::unique_ptr<callback::CallbackRequest>()> snapshot;
};

// The order in which changes found in one notification are posted: the camera state goes before
// the playback settings it governs.
inline constexpr uint32_t CHANGE_ORDER[] = {HX_CAPTURE_CHANGE, HX_DOWNLOAD_CHANGE, HX_IO_CHANGE,      HX_LENS_CHANGE,
                                            HX_STATE,          HX_PLAYBACK_CHANGE, HX_PROGRESS_UPDATE};

// A bit per event code, for sets of marked events.
constexpr uint32_t bit(uint32_t event)
{
    return 1u << event;
}

} // namespace record_rows

// The table of one operations object's cached records and the loops it drives: the refresh of
// every cache for the first subscriber, the snapshot events for each subscriber, and the change
// events that follow a notification.
// Threads: the service thread, except the Locked operations, which run wherever the state mutex
// is held.
class FamilyRecordsTable {
    HLV_LOG_CLASS(FamilyRecordsTable);

public:
    // `rereadCapture` reads the capture settings afresh, for capture values that looked corrupted.
    FamilyRecordsTable(FamilyCamera& camera, std::function<void()> rereadCapture);

    // The rows, in the order the caches are refreshed and a new subscriber's events are posted;
    // set once, while the owner is built.
    void setRows(std::vector<record_rows::Record> rows);
    // Reads every group and recomputes every record. A group that cannot be read leaves its
    // record untrusted. Returns, per row, whether its record could not be read.
    std::vector<bool> refreshEveryCache();
    // Posts every record as a fresh one shows it, except those `unread` marks.
    void postCurrentState(const std::vector<bool>& unread = {});
    // Stores a notification's values in the groups that hold them; returns the events to report
    // as bits (record_rows::bit). State mutex held.
    uint32_t storeNotified(const wire::RegisterPairs& pairs, uint64_t known);
    // The change event of a record, recomputed from its groups; null when unreported. State mutex held.
    std::unique_ptr<callback::CallbackRequest> changeLocked(uint32_t event);
    // Some change went unreported: no record is trusted until read again. State mutex held.
    void distrustAllLocked();

private:
    const record_rows::Record* record(uint32_t event) const;
    bool distrustImplausibleLocked(const record_rows::Record& entry, const char* method);

    FamilyCamera& camera_;
    const std::function<void()> rereadCapture_;
    std::vector<record_rows::Record> rows_;
};

} // namespace halvex::family
