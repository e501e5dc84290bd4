// A host callback that keeps copies of every event it receives, for tests to wait on and inspect.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include <hx/hx.h>

#include "arrivals.h"

namespace hx_test {

// Generous: only a broken implementation ever waits this long.
constexpr std::chrono::milliseconds DEADLINE = std::chrono::seconds(10);

class EventLog {
public:
    struct Event {
        uint32_t code = 0;
        HX_CAMERA_HANDLE camera = 0;
        std::vector<uint8_t> bytes;

        template <class Record>
        Record as() const
        {
            Record record{};
            std::memcpy(&record, bytes.data(), std::min(bytes.size(), sizeof(record)));
            return record;
        }
    };
    using Events = std::vector<Event>;

    // The host callback; the cookie is the log.
    static void callback(uint32_t event, HX_CLIENT_HANDLE, HX_CAMERA_HANDLE camera, void* data, void* cookie)
    {
        static_cast<EventLog*>(cookie)->record(event, camera, data);
    }

    Events events() const { return events_.all(); }

    // The codes of the events for `camera` (all cameras when 0), in arrival order.
    std::vector<uint32_t> codes(HX_CAMERA_HANDLE camera = 0) const
    {
        std::vector<uint32_t> out;
        for (const Event& event : events())
            if (camera == 0 || event.camera == camera)
                out.push_back(event.code);
        return out;
    }

    // The records of every event with `code`, in arrival order.
    template <class Record>
    std::vector<Record> records(uint32_t code) const
    {
        std::vector<Record> out;
        for (const Event& event : events())
            if (event.code == code)
                out.push_back(event.as<Record>());
        return out;
    }

    // Waits until `holds` is true of the events received so far; false when the time runs out.
    bool waitUntil(const std::function<bool(const Events&)>& holds, std::chrono::milliseconds timeout) const
    {
        return events_.waitUntil(holds, timeout);
    }

    // Waits for an event with `code` for `camera`; false when the time runs out.
    bool waitForEvent(uint32_t code, HX_CAMERA_HANDLE camera, std::chrono::milliseconds timeout) const
    {
        return waitUntil(
            [&](const Events& events) {
                return std::any_of(events.begin(), events.end(),
                                   [&](const Event& event) { return event.code == code && event.camera == camera; });
            },
            timeout);
    }

    // Waits for a record with `code` that `matches`; returns it, or nothing when the time runs out.
    template <class Record>
    std::optional<Record> waitFor(uint32_t code, const std::function<bool(const Record&)>& matches,
                                  std::chrono::milliseconds timeout) const
    {
        std::optional<Record> found;
        waitUntil(
            [&](const Events& events) {
                for (const Event& event : events) {
                    if (event.code == code && matches(event.as<Record>())) {
                        found = event.as<Record>();
                        return true;
                    }
                }
                return false;
            },
            timeout);
        return found;
    }

    void clear() { events_.clear(); }

private:
    static std::size_t sizeOf(uint32_t event)
    {
        switch (event) {
        case HX_DISCOVERY: return sizeof(HX_CAMERA_INFORMATION);
        case HX_CAPTURE_CHANGE: return sizeof(HX_CAPTURE_SETTINGS);
        case HX_STATE: return sizeof(HX_COMMAND);
        case HX_DOWNLOAD_CHANGE: return sizeof(HX_DOWNLOAD_SETTINGS);
        case HX_IO_CHANGE: return sizeof(HX_IO_SETTINGS);
        case HX_LENS_CHANGE: return sizeof(HX_LENS_STATUS);
        case HX_PLAYBACK_CHANGE: return sizeof(HX_PLAYBACK_SETTINGS);
        case HX_STREAM_CHANGE: return sizeof(HX_STREAM_SETTINGS);
        case HX_PROGRESS_UPDATE: return sizeof(HX_PROGRESS);
        case HX_STREAM_NEGOTIATION: return sizeof(uint32_t);
        default: return 0;
        }
    }

    void record(uint32_t event, HX_CAMERA_HANDLE camera, const void* data)
    {
        Event copy{event, camera, {}};
        if (data != nullptr) {
            const auto* bytes = static_cast<const uint8_t*>(data);
            copy.bytes.assign(bytes, bytes + sizeOf(event));
        }
        events_.add(std::move(copy));
    }

    Arrivals<Event> events_;
};

} // namespace hx_test
