// A setup call carried to a camera's service thread and applied there, in turn with the camera's other messages.
#pragma once

#include <exception>
#include <memory>

#include "camera/camera_message_ids.h"
#include "camera/camera_services.h"
#include "camera/settings.h"
#include "hlv_thread/note.h"
#include "hlv_thread/sync_message.h"

namespace halvex::camera {

// The download, playback and stream settings drive the camera's stream session, which only the
// service thread may touch, and they decide what the stream buffers lent before them do (a
// download starts once its settings were applied). Sent from the host's thread, such a call
// waits in the service thread's queue behind everything that thread posted earlier, so one host
// thread's calls take effect in the order it made them.
//
// The request lives on the sender's stack and carries a copy of the record; the service thread
// runs the operations' call on the copy and keeps whatever it threw, and sendAndApply rethrows that
// on the sender's thread, so the API call logs and returns exactly what it would have had the
// call run there. A record with nothing marked is read by the same call.
template <class Record>
class SetupRequest : public thread::SyncMessage, public Settings<Record> {
public:
    using Apply = void (ServiceOperations::*)(Record*);

    SetupRequest(const std::shared_ptr<CameraServices>& service, const Record& record, Apply apply)
        : Settings<Record>(service, record), apply_(apply)
    {
        req = message_ids::CAM_SETTINGS_MSG;
    }

    bool set() override { return applyHere(); }
    bool get() override { return applyHere(); }

    // Sends the request, waits until the service thread has applied it and copies the outcome
    // into `record`. Throws what the operations' call threw, or RuntimeError when the service
    // could not handle the request (it halted meanwhile); `record` is then left as it was.
    void sendAndApply(CameraServices& service, Record& record)
    {
        send(&service);
        if (failure_)
            std::rethrow_exception(failure_);
        if (status != thread::MESSAGE_DONE || !applied_)
            HLV_THROW(thread::RuntimeError, "Camera services (%s) could not complete the settings request",
                      this->cameraName().c_str());
        record = this->record();
    }

private:
    // Service thread.
    bool applyHere()
    {
        auto service = this->lockService();
        if (!service)
            return false;
        try {
            ((*service->requiredOperations()).*apply_)(&this->record());
            applied_ = true;
        } catch (...) {
            failure_ = std::current_exception();
        }
        return applied_;
    }

    const Apply apply_;
    bool applied_ = false;
    std::exception_ptr failure_;
};

} // namespace halvex::camera
