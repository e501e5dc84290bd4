// Whether this process runs in a private network namespace, from the namespaces' inodes.
#include "sim/net/host_network.h"

#include <sys/stat.h>

#include <cstdlib>

namespace hxsim {

// scripts/in-netns exports the inode of the namespace it made. Otherwise the namespace of
// process 1 is the host's; when it cannot be looked at, the answer is the safe one: not private.
bool inPrivateNetwork()
{
    struct stat self {};
    if (::stat("/proc/self/ns/net", &self) != 0) {
        return false;
    }
    if (const char* made = std::getenv("HX_NETNS_INODE"); made != nullptr) {
        return std::strtoull(made, nullptr, 10) == self.st_ino;
    }
    struct stat first {};
    if (::stat("/proc/1/ns/net", &first) != 0) {
        return false;
    }
    return self.st_ino != first.st_ino || self.st_dev != first.st_dev;
}

} // namespace hxsim
