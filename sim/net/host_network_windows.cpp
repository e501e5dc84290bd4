// Whether this process runs in a private network namespace. Windows has none: on Windows itself
// the answer is always no, and the cameras keep to loopback addresses. Under Wine the program's
// sockets are those of the Linux namespace Wine's server runs in, which scripts/wine-in-netns
// checks before it starts a program, saying so in HX_NETNS_VERIFIED; only Wine's ntdll has
// wine_get_version, so the variable alone counts for nothing on Windows.
#include "sim/net/host_network.h"

#include "platform/win_sockets.h"

#include <cstdlib>
#include <cstring>

namespace hxsim {

bool inPrivateNetwork()
{
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    if (ntdll == nullptr || ::GetProcAddress(ntdll, "wine_get_version") == nullptr) {
        return false;
    }
    const char* verified = std::getenv("HX_NETNS_VERIFIED");
    return verified != nullptr && std::strcmp(verified, "1") == 0;
}

} // namespace hxsim
