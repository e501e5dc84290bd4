// Family records table: the loops over a family's cached records.
#include "family/records_table.h"

#include <string>

#include <hlv_thread/log.h>
#include <hlv_thread/log_label.h>
#include <hlv_thread/note.h>

#include "family/notifications.h"

namespace halvex::family {

using wire::RegisterPairs;

using namespace registers;
using record_rows::bit;
using thread::TRACE_OPERATIONS;

FamilyRecordsTable::FamilyRecordsTable(FamilyCamera& camera, std::function<void()> rereadCapture)
    : camera_(camera), rereadCapture_(std::move(rereadCapture))
{
}

void FamilyRecordsTable::setRows(std::vector<record_rows::Record> rows)
{
    rows_ = std::move(rows);
}

void FamilyRecordsTable::distrustAllLocked()
{
    for (const record_rows::Record& entry : rows_) {
        if (entry.setValid)
            entry.setValid(0);
    }
}

const record_rows::Record* FamilyRecordsTable::record(uint32_t event) const
{
    for (const record_rows::Record& entry : rows_) {
        if (entry.event == event)
            return &entry;
    }
    return nullptr;
}

// A group that cannot be read leaves its record untrusted (its next read goes to the camera). A
// record is read only when all its groups were. Returns, per record, whether it could not be read
// (the lens status, which has no cache, never counts as unread).
std::vector<bool> FamilyRecordsTable::refreshEveryCache()
{
    static constexpr const char* method = HLV_LABEL("handleSubscription");
    const auto refreshed = [this](RegisterGroup id) {
        if (camera_.groups.refresh(id))
            return true;
        HLV_LOG("%s(%s): The %s registers could not be read", method, camera_.name.c_str(),
                std::string(groupName(id)).c_str());
        return false;
    };
    std::vector<bool> read;
    std::vector<bool> unread;
    bool implausible = false;
    for (const record_rows::Record& entry : rows_) {
        bool complete = static_cast<bool>(entry.compute);
        for (RegisterGroup id : entry.groups)
            complete = complete && refreshed(id);
        read.push_back(complete);
        unread.push_back(entry.compute && !complete);
    }
    {
        std::lock_guard<std::mutex> lock(camera_.state);
        for (std::size_t i = 0; i < rows_.size(); ++i) {
            if (rows_[i].setValid)
                rows_[i].setValid(read[i] ? 1 : 0);
        }
        for (std::size_t i = 0; i < rows_.size(); ++i) {
            if (!read[i])
                continue;
            if (!rows_[i].computeLogsFailure) {
                rows_[i].compute();
                continue;
            }
            try {
                rows_[i].compute();
                implausible = distrustImplausibleLocked(rows_[i], method) || implausible;
            } catch (const thread::Exception& error) {
                HLV_LOG("%s(%s): %s", method, camera_.name.c_str(), error.str().c_str());
            }
        }
    }
    // Subscribers are sent the caches next: capture settings (the only record checked) that
    // looked corrupted are read again first.
    if (implausible) {
        try {
            rereadCapture_();
        } catch (const thread::Exception& error) {
            HLV_LOG("%s(%s): %s", method, camera_.name.c_str(), error.str().c_str());
        }
    }
    return unread;
}

// A record that could not be read (`unread`, when given) is not sent: its event would carry
// values the camera never reported, each marked changed.
void FamilyRecordsTable::postCurrentState(const std::vector<bool>& unread)
{
    std::vector<std::unique_ptr<callback::CallbackRequest>> events;
    {
        std::lock_guard<std::mutex> lock(camera_.state);
        for (std::size_t i = 0; i < rows_.size(); ++i)
            events.push_back(i < unread.size() && unread[i] ? nullptr : rows_[i].snapshot());
    }
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (!events[i])
            continue;
        const uint32_t event = rows_[i].event;
        if (event == HX_PLAYBACK_CHANGE || event == HX_STREAM_CHANGE)
            HLV_TRACE(TRACE_OPERATIONS, "%s(%s): %s", HLV_LABEL("handleSubscription"), camera_.name.c_str(),
                      events::eventName(event));
        callback::Callback::postOwned(std::move(events[i]));
    }
}

// Returns the events whose groups hold a notified register (a bit per event code). One address
// may sit in several groups (the camera state is in download, playback and state).
uint32_t FamilyRecordsTable::storeNotified(const RegisterPairs& pairs, uint64_t known)
{
    static constexpr const char* method = HLV_LABEL("handleNotification");
    uint32_t marked = 0;
    for (const auto& [reg, value] : pairs) {
        HLV_TRACE(TRACE_OPERATIONS, "%s(%s): reg_addr=0x%x, value=%d/0x%08x", method, camera_.name.c_str(), reg, value,
                  value);
        for (const record_rows::Record& entry : rows_) {
            if (!entry.notified)
                continue;
            for (RegisterGroup id : entry.groups) {
                if (!camera_.groups.store(id, reg, value, known))
                    continue;
                marked |= bit(entry.event);
                if (id == RegisterGroup::Sensor)
                    HLV_TRACE(TRACE_OPERATIONS, "%s(%s): Sensor reg [0x%04X] <- 0x%04x/%d", method,
                              camera_.name.c_str(), reg, value, value);
                if (id == RegisterGroup::Playback)
                    HLV_TRACE(TRACE_OPERATIONS, "%s(%s): Playback reg [0x%04X] <- 0x%04x/%d", method,
                              camera_.name.c_str(), reg, value, value);
            }
        }
    }
    return marked;
}

// Recomputes one cached record from the updated caches (the state mutex is held) and makes the
// event. Nothing (and a log line) when the record cannot be computed.
std::unique_ptr<callback::CallbackRequest> FamilyRecordsTable::changeLocked(uint32_t event)
{
    static constexpr const char* method = HLV_LABEL("handleNotification");
    HLV_TRACE(TRACE_OPERATIONS, "%s(%s): %s", method, camera_.name.c_str(), events::eventName(event));
    const record_rows::Record* entry = record(event);
    if (entry == nullptr || !entry->change)
        return nullptr;
    try {
        auto request = entry->change();
        return distrustImplausibleLocked(*entry, method) ? nullptr : std::move(request);
    } catch (const thread::Exception& error) {
        HLV_LOG("%s(%s): No %s: %s", method, camera_.name.c_str(), events::eventName(event), error.str().c_str());
    }
    return nullptr;
}

// True (and the record untrusted, with a log line) when the freshly computed record holds values no
// camera could: its next read goes to the camera instead of serving them. State mutex held.
bool FamilyRecordsTable::distrustImplausibleLocked(const record_rows::Record& entry, const char* method)
{
    if (!entry.implausible)
        return false;
    const std::string reason = entry.implausible();
    if (reason.empty())
        return false;
    if (entry.setValid)
        entry.setValid(0);
    HLV_LOG("%s(%s): The camera reported an implausible value for %s (%s); the next read asks the camera again", method,
            camera_.name.c_str(), events::eventName(entry.event), reason.c_str());
    return true;
}

} // namespace halvex::family
