// A reference on the system's socket library: POSIX sockets need no start-up.
#include "platform/socket_library.h"

namespace HX_PLATFORM {

SocketLibrary::SocketLibrary() : started_(forcedSocketStartFailure() == 0), error_(forcedSocketStartFailure()) {}

} // namespace HX_PLATFORM
