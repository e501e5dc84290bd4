// The frame every exported call runs in, and the calls that start and end the library's life.
#include "api/api_interface.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "api/client_context.h"
#include "callback/callback.h"
#include "camera/camera_address.h"
#include "discovery/discovery_seam.h"
#include "platform/errno_text.h"
#include "platform/netutils.h"
#include "platform/socket_library.h"

using halvex::api::client_context::ClientContext;
using halvex::thread::TRACE_API;
using halvex::thread::TRACE_CALLBACK;
using halvex::thread::TRACE_DISCOVERY;
using halvex::thread::TRACE_LIFECYCLE;

using namespace halvex::api::frame;

namespace halvex::api {

using camera::CameraServices;
using camera::dottedAddress;
using camera::handleIsAddress;
using thread::fmtToString;

namespace frame {

void requireClient(HX_CLIENT_HANDLE client)
{
    if (client == 0 || !ClientContext::instance().clientExists(client))
        HLV_THROW(thread::RuntimeError, "Client handle %p not valid", asPointer(client));
}

std::string cameraText(HX_CAMERA_HANDLE camera)
{
    return handleIsAddress(camera) ? dottedAddress(camera) : fmtToString("%p", asPointer(camera));
}

void requireCamera(HX_CAMERA_HANDLE camera)
{
    if (camera == 0 || !handleIsAddress(camera) || !CameraServices::exists(static_cast<uint32_t>(camera)))
        HLV_THROW(thread::RuntimeError, "Camera handle %s not valid", cameraText(camera).c_str());
}

void requirePointer(const void* pointer)
{
    if (pointer == nullptr)
        HLV_THROW(thread::RuntimeError, "NULL pointer in API call");
}

void requireVersion(unsigned verMaj, unsigned verMin)
{
    if (verMaj != HX_API_VERSION_MAJ || verMin != HX_API_VERSION_MIN)
        HLV_THROW(thread::RuntimeError, "Record version %u.%u is not the interface version %d.%d", verMaj, verMin,
                  HX_API_VERSION_MAJ, HX_API_VERSION_MIN);
}

std::shared_ptr<CameraServices> serviceFor(HX_CAMERA_HANDLE camera)
{
    auto service = CameraServices::find(static_cast<uint32_t>(camera));
    if (!service)
        HLV_THROW(thread::RuntimeError, "Unable to find the camera %s", dottedAddress(camera).c_str());
    return service;
}

void refuseOnCallbackThread(const char* call)
{
    if (callback::Callback::onCallbackThread())
        HLV_THROW(thread::RuntimeError,
                  "%s: not allowed from inside a client callback (it would wait for the "
                  "callback thread)",
                  call);
}

void reportFailure(const char* prefix, const thread::Exception& error)
{
    HLV_LOG("%sHalvex exception: %s", prefix, error.str().c_str());
}

void reportFailure(const char* prefix, const std::exception& error)
{
    HLV_LOG("%sstd::exception: %s", prefix, error.what());
}

void reportUnknownFailure(const char* prefix)
{
    HLV_LOG("%sunknown exception", prefix);
}

} // namespace frame

namespace {

// A host whose only link is loopback (or whose adapters are all down) finds no camera by
// broadcast: said once, as a user would otherwise only see cameras that never appear. Cameras are
// still found by address, so the registration goes on.
void noteBroadcastAdapters(const char* call)
{
    static std::atomic<bool> told{false};
    try {
        if (platform::net_utils::discoveryTargets(platform::net_utils::listAdapters()).empty() && !told.exchange(true))
            HLV_LOG("%s: No Ethernet or wireless adapter with an IPv4 address is up: cameras are found by address "
                    "only",
                    call);
    } catch (const thread::Exception& error) {
        HLV_LOG("%s: %s", call, error.str().c_str());
    }
}

HX_STATUS registerClient(const char* call, HX_CLIENT_HANDLE* client, HX_CALLBACK callback, void* cookie,
                         bool localInterfacesOnly)
{
    HLV_TRACE(TRACE_API, "%s: callback=%p, cookie=%p", call, asPointer(reinterpret_cast<uintptr_t>(callback)), cookie);
    if (client == nullptr) {
        HLV_LOG("NULL pointer in API call");
        return HX_STATUS_ERROR;
    }
    // Without the system's sockets (Winsock that will not start) no camera can be reached: the
    // registration fails with the reason instead of leaving a client whose threads fail later.
    const platform::SocketLibrary sockets;
    if (!sockets.started()) {
        HLV_LOG("%s: Could not initialize WinSockets. %s", call, platform::errnoIndicates(sockets.error()).c_str());
        return HX_STATUS_ERROR;
    }
    noteBroadcastAdapters(call);
    return protectedCall("", [&] {
        // Discovery first: when it cannot start (out of memory, no thread) no client is left
        // registered behind the error.
        discovery::seam::start(localInterfacesOnly);
        *client = ClientContext::instance().addClient(callback, cookie);
        if (*client == 0) {
            HLV_LOG("Could not register new client.");
            return HX_STATUS_ERROR;
        }
        HLV_TRACE(TRACE_CALLBACK, "%s: cli_h=%p", call, asPointer(*client));
        return HX_STATUS_OK;
    });
}

// Stops the threads in their fixed order: discovery, callbacks, clients, camera services.
HX_STATUS shutDown()
{
    refuseOnCallbackThread("HX_shutdown");
    discovery::seam::close();
    callback::Callback::close();
    if (ClientContext::created())
        ClientContext::instance().close();
    CameraServices::close();
    return HX_STATUS_OK;
}

} // namespace

} // namespace halvex::api

using halvex::api::registerClient;
using halvex::api::shutDown;

extern "C" {

HX_STATUS HX_register(HX_CLIENT_HANDLE* client, HX_CALLBACK callback, void* cookie)
{
    return registerClient("HX_register", client, callback, cookie, false);
}

HX_STATUS HX_register_local(HX_CLIENT_HANDLE* client, HX_CALLBACK callback, void* cookie)
{
    return registerClient("HX_register_local", client, callback, cookie, true);
}

HX_STATUS HX_unregister(HX_CLIENT_HANDLE client)
{
    HLV_TRACE(TRACE_API, "%s: cli_h=%p", "HX_unregister", asPointer(client));
    if (client == 0)
        return HX_STATUS_OK;
    return protectedCall("Could not unregister client. ", [&] {
        ClientContext& registry = ClientContext::instance();
        if (!registry.clientExists(client))
            HLV_THROW(halvex::thread::RuntimeError, "Client handle %p not valid", asPointer(client));
        registry.clientErase(client);
        return HX_STATUS_OK;
    });
}

HX_STATUS HX_shutdown(void)
{
    HLV_TRACE(TRACE_LIFECYCLE, "%s", "HX_shutdown");
    const HX_STATUS status = protectedCall("", shutDown);
    if (status == HX_STATUS_OK)
        HLV_TRACE(TRACE_LIFECYCLE, "%s: done", "HX_shutdown");
    return status;
}

HX_STATUS HX_discover_pause(uint8_t pause)
{
    HLV_TRACE(TRACE_DISCOVERY, "%s: pause=%c", "HX_discover_pause", pause != 0 ? 'T' : 'F');
    return protectedCall("", [&] {
        halvex::discovery::seam::pause(pause != 0);
        return HX_STATUS_OK;
    });
}

unsigned HX_trace(int enable)
{
    return halvex::thread::traceSwitch(enable);
}

HX_STATUS HX_logger_file(const char* path)
{
    return halvex::thread::loggerFile(path) == 0 ? HX_STATUS_OK : HX_STATUS_ERROR;
}

HX_STATUS HX_logger_callback(HX_LOG_CALLBACK callback, void* context)
{
    // The public levels are the log's own priorities, so the callback is the sink as it is.
    static_assert(HX_LOG_ERROR == halvex::thread::LOG_PRIORITY_ERROR &&
                  HX_LOG_TRACE == halvex::thread::LOG_PRIORITY_DEBUG);
    halvex::thread::setLogSink(callback, context);
    return HX_STATUS_OK;
}

HX_STATUS HX_last_error(char* text, uint32_t size)
{
    if (text == nullptr || size == 0)
        return HX_STATUS_ERROR;
    try {
        const std::string error = halvex::thread::callError();
        const std::size_t length = std::min<std::size_t>(error.size(), size - 1);
        std::memcpy(text, error.data(), length);
        text[length] = '\0';
    } catch (...) {
        text[0] = '\0';
    }
    return HX_STATUS_OK;
}

} // extern "C"
