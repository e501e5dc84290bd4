// A reference on the system's socket library: POSIX sockets need no start-up.
#include "platform/socket_library.h"

namespace HX_PLATFORM {

SocketLibrary::SocketLibrary() : started_(true) {}

} // namespace HX_PLATFORM
