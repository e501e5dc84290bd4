// Loading halvex.dll starts Winsock once for the process and unloading it releases it. Every
// component that opens sockets holds its own reference as well, so a failure here only costs a
// log line; the components report "Could not initialize WinSockets" where it matters.
#include "hlv_thread/log.h"
#include "platform/errno_text.h"
#include "platform/socket_library.h"

namespace {

struct LoadedLibrary {
    HX_PLATFORM::SocketLibrary sockets;
    LoadedLibrary()
    {
        if (!sockets.started())
            HLV_LOG("%s: Could not initialize WinSockets. %s", "halvex.dll",
                    HX_PLATFORM::errnoIndicates(sockets.error()).c_str());
    }
};

const LoadedLibrary loaded;

} // namespace
