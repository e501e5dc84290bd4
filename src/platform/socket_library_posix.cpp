// A reference on the system's socket library: POSIX sockets need no start-up.
#include "platform/socket_library.h"

namespace halvex::platform {

SocketLibrary::SocketLibrary() : started_(forcedSocketStartFailure() == 0), error_(forcedSocketStartFailure()) {}

} // namespace halvex::platform
