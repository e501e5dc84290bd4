// The command/state request: an HX_COMMAND applied (or read) by a camera's service thread.
#pragma once

#include <exception>
#include <memory>

#include <hx/hx.h>

#include "camera/camera_message_ids.h"
#include "camera/camera_services.h"
#include "camera/settings.h"
#include "hlv_thread/log.h"
#include "hlv_thread/note.h"
#include "hlv_thread/sync_message.h"

namespace halvex::camera {

// Runs an operation on a command record with the camera's service, if it is still there.
// Failures of the camera operation are logged here and never reach the caller; false tells the
// request to mark the record.
template <class Operation>
bool runCommandOperation(const std::shared_ptr<CameraServices>& service, Operation&& operation)
{
    if (!service)
        return false;
    try {
        operation(*service);
        return true;
    } catch (const thread::Exception& e) {
        HLV_LOG("Halvex Exception during HX_COMMAND processing: %s", e.str().c_str());
    } catch (const std::exception& e) {
        HLV_LOG("std::exception during HX_COMMAND processing: %s", e.what());
    }
    return false;
}

// Built on the API caller's stack and sent to the camera's service thread, which runs process():
// with "Set" in the record flags the command is sent (and the state read back into the copy),
// otherwise the state is read.
class Command : public thread::SyncMessage, public Settings<HX_COMMAND> {
public:
    Command(const std::shared_ptr<CameraServices>& service, const HX_COMMAND& record)
        : Settings<HX_COMMAND>(service, record)
    {
        req = message_ids::CAM_SETTINGS_MSG;
    }

    bool set() override
    {
        return markedUnlessDone(runCommandOperation(
            lockService(), [this](CameraServices& service) { service.requiredOperations()->sendCommand(&record()); }));
    }

    bool get() override
    {
        return markedUnlessDone(runCommandOperation(
            lockService(), [this](CameraServices& service) { service.requiredOperations()->getCommand(&record()); }));
    }

private:
    // A record the camera's operation did not finish would come back as the caller's own, which
    // reads as the camera's answer: it is marked refused instead.
    bool markedUnlessDone(bool done)
    {
        if (!done)
            record().flags |= HX_FLAG_ERR;
        return done;
    }
};

} // namespace halvex::camera
