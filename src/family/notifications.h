// Family notifications: change events for subscribed clients and the recording progress record,
// computed from the register values a camera reports or the progress poller reads.
#pragma once

#include <cstdint>
#include <memory>

#include <hx/hx.h>

#include "callback/callback.h"
#include "callback/callback_messages.h"
#include "registers/register_cache.h"

namespace halvex::family::events {

// An event for the clients subscribed to the camera, carrying its own copy of the record.
template <class Record>
std::unique_ptr<callback::CallbackRequest> event(uint32_t code, uint32_t cameraAddress, const Record& record)
{
    auto request = std::make_unique<callback::CallbackRequest>(code, HX_CAMERA_HANDLE{cameraAddress});
    request->attach(record);
    return request;
}

// Hands a copy of the record to the Callback thread as an event for the clients subscribed to the
// camera; dropped (the Callback thread has closed) without a word. Any thread may post.
template <class Record>
void post(uint32_t code, uint32_t cameraAddress, const Record& record)
{
    callback::Callback::postOwned(event(code, cameraAddress, record));
}

// "HX_CAPTURE_CHANGE" and so on, for log lines.
const char* eventName(uint32_t event);

// Progress of a recording from the progress group (`progress`), the camera state now and the
// length the capture settings record. `lastState` is the state the previous computation saw: the
// first computation in a new state other than review only notes the state and leaves the record
// as it was (the counters may still describe the previous recording). Returns the state to
// remember.
uint32_t computeProgress(registers::RegisterCache& progress, uint32_t cameraState, uint32_t recordLength,
                         uint32_t lastState, HX_PROGRESS& record);
// Copies the cached progress into the caller's record when any value differs, marking the record
// HX_FLAG_CHG (the record has no field flags).
void mergeProgress(const HX_PROGRESS& cached, HX_PROGRESS& caller);

} // namespace halvex::family::events
