// A reference on Winsock 2.2: WSAStartup in the constructor, WSACleanup in the destructor.
#include "platform/socket_library.h"

#include "platform/win_sockets.h"

namespace halvex::platform {

SocketLibrary::SocketLibrary()
{
    if (const int forced = forcedSocketStartFailure(); forced != 0) {
        error_ = forced;
        return;
    }
    WSADATA data{};
    error_ = ::WSAStartup(MAKEWORD(2, 2), &data);
    started_ = error_ == 0;
    if (started_ && (LOBYTE(data.wVersion) != 2 || HIBYTE(data.wVersion) != 2)) {
        ::WSACleanup();
        started_ = false;
        error_ = WSAVERNOTSUPPORTED;
    }
}

SocketLibrary::~SocketLibrary()
{
    if (started_)
        ::WSACleanup();
}

} // namespace halvex::platform
