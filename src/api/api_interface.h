// The frame every exported call runs in: entry trace, record dumps, handle and argument checks, the catch clauses.
#pragma once

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <memory>
#include <string>
#include <type_traits>

#include <hx/hx.h>

#include "api/library_wiring.h"
#include "api/support_functions.h"
#include "camera/camera_services.h"
#include "hlv_thread/log.h"
#include "hlv_thread/note.h"

namespace halvex::api {

// The exported calls run on the host's threads. Each does its checks and work inside
// protectedCall, which turns every exception into one log line and HX_STATUS_ERROR; nothing
// escapes to the host. Error lines are written whatever the trace mask; entry lines and record
// dumps only under their trace category.
namespace frame {

// Client handles as the log prints them (%p).
inline void* asPointer(uintptr_t handle)
{
    return reinterpret_cast<void*>(handle);
}

// Throws RuntimeError "Client handle %p not valid" unless the client is registered.
void requireClient(HX_CLIENT_HANDLE client);
// A camera handle as log lines show it: its dotted address ("127.0.0.2"), or the number itself
// when it cannot be one (bits beyond the low 32).
std::string cameraText(HX_CAMERA_HANDLE camera);
// Throws RuntimeError "Camera handle <cameraText> not valid" unless the camera has a service.
void requireCamera(HX_CAMERA_HANDLE camera);
// Throws RuntimeError "NULL pointer in API call".
void requirePointer(const void* pointer);
// Throws RuntimeError when the record's version is not the interface version.
void requireVersion(unsigned verMaj, unsigned verMin);
// The camera's service; throws RuntimeError "Unable to find the camera %s" when it has none.
std::shared_ptr<camera::CameraServices> serviceFor(HX_CAMERA_HANDLE camera);
// Throws RuntimeError for calls that would wait on the Callback thread from inside a callback.
void refuseOnCallbackThread(const char* call);

// The catch clauses' log lines: "<prefix>Halvex exception: <note>", "<prefix>std::exception: <what>".
void reportFailure(const char* prefix, const thread::Exception& error);
void reportFailure(const char* prefix, const std::exception& error);
void reportUnknownFailure(const char* prefix);

// Runs the protected part of a call; `work` returns the call's status. `prefix` names what
// failed in the log line ("" for the plain form).
template <class Work>
HX_STATUS protectedCall(const char* prefix, Work&& work) noexcept
{
    try {
        thread::clearCallError();
        connectComponents();
        return work();
    } catch (const thread::Exception& error) {
        reportFailure(prefix, error);
    } catch (const std::exception& error) {
        reportFailure(prefix, error);
    } catch (...) {
        reportUnknownFailure(prefix);
    }
    return HX_STATUS_ERROR;
}

// The protected part of a call on one camera, in the frame's order: client handle, camera handle,
// required pointers, then the camera's service, which `work` receives as a reference or, when it
// asks for one, as the shared pointer itself (the service stays referenced until work returns).
template <class Work>
HX_STATUS cameraCall(const char* prefix, HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera,
                     std::initializer_list<const void*> required, Work&& work) noexcept
{
    return protectedCall(prefix, [&] {
        requireClient(client);
        requireCamera(camera);
        for (const void* pointer : required)
            requirePointer(pointer);
        std::shared_ptr<camera::CameraServices> service = serviceFor(camera);
        if constexpr (std::is_invocable_v<Work&, const std::shared_ptr<camera::CameraServices>&>)
            return work(service);
        else
            return work(*service);
    });
}

// Prints a record under a label when the category is traced ("[IN]", "[OUT]").
template <class Record>
void dump(const char* label, const Record* record, uint32_t category = thread::TRACE_API)
{
    if (thread::traced(category))
        api::support::printRecord(record, label);
}

} // namespace frame

} // namespace halvex::api
