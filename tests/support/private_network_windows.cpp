// Under Wine a test program cannot enter a Linux network namespace itself: scripts/wine-in-netns
// runs it only inside the namespace scripts/in-netns made, after checking that the namespace it is
// in is that one, and says so in HX_NETNS_VERIFIED. Without that word the tests refuse to run.
#include <cstdlib>
#include <cstring>

#include "private_network.h"

namespace hx_test {

bool inPrivateNetwork()
{
    const char* verified = std::getenv("HX_NETNS_VERIFIED");
    return verified != nullptr && std::strcmp(verified, "1") == 0;
}

bool enterPrivateNetwork(std::string& why)
{
    if (inPrivateNetwork())
        return true;
    why = "HX_NETNS_VERIFIED is not set: run the Windows tests through scripts/wine-in-netns inside scripts/in-netns";
    return false;
}

// Wine reports the Linux namespace's interfaces through its own adapter list, which is what the
// library reads: no second way to tell here.
std::optional<bool> hasIpv4Adapter()
{
    return std::nullopt;
}

} // namespace hx_test
