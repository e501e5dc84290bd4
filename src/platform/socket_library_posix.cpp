// A reference on the system's socket library: POSIX sockets need no start-up.
#include "platform/socket_library.h"

namespace HX_PLATFORM {

SocketLibrary::SocketLibrary() : started_(true) {}

SocketLibrary::~SocketLibrary() = default;

} // namespace HX_PLATFORM
