// Entering a private network namespace for tests that open sockets.
#include "private_network.h"

#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace hx_test {
namespace {

std::string errnoText(const char* what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

bool writeFile(const char* path, const std::string& text)
{
    std::ofstream out(path);
    out << text;
    return static_cast<bool>(out.flush());
}

bool enterUserAndNetworkNamespace(std::string& why)
{
    const uid_t uid = getuid();
    const gid_t gid = getgid();
    if (unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) {
        why = errnoText("unshare(CLONE_NEWUSER | CLONE_NEWNET)");
        return false;
    }
    // Map ourselves to root inside the user namespace so we may configure the new network.
    writeFile("/proc/self/setgroups", "deny");
    if (!writeFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
        !writeFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
        why = "could not write the user namespace's id maps";
        return false;
    }
    return true;
}

bool bringLoopbackUp(std::string& why)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        why = errnoText("socket");
        return false;
    }
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool ok = ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    if (ok && (request.ifr_flags & IFF_UP) == 0) {
        request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP | IFF_RUNNING);
        ok = ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    }
    if (!ok)
        why = errnoText("bringing lo up");
    close(fd);
    return ok;
}

unsigned long currentNamespace()
{
    struct stat info {};
    return stat("/proc/self/ns/net", &info) == 0 ? static_cast<unsigned long>(info.st_ino) : 0;
}

// The namespace this process made for itself, or 0.
unsigned long enteredNamespace = 0;

// scripts/in-netns exports the inode of the namespace it made; being in that one is private too.
bool inScriptNamespace()
{
    const char* inode = std::getenv("HX_NETNS_INODE");
    return inode != nullptr && std::strtoul(inode, nullptr, 10) == currentNamespace();
}

} // namespace

bool inPrivateNetwork()
{
    const unsigned long current = currentNamespace();
    return current != 0 && (current == enteredNamespace || inScriptNamespace());
}

bool enterPrivateNetwork(std::string& why)
{
    if (!inPrivateNetwork()) {
        const unsigned long before = currentNamespace();
        const bool entered = unshare(CLONE_NEWNET) == 0 || (errno == EPERM && enterUserAndNetworkNamespace(why));
        if (!entered || currentNamespace() == before) {
            if (why.empty())
                why = errnoText("unshare(CLONE_NEWNET)");
            return false;
        }
        enteredNamespace = currentNamespace();
    }
    return bringLoopbackUp(why);
}

std::optional<bool> hasIpv4Adapter()
{
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return std::nullopt;
    bool found = false;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        const bool up = (entry->ifa_flags & IFF_UP) != 0 && (entry->ifa_flags & IFF_LOOPBACK) == 0;
        found = found || (up && entry->ifa_addr != nullptr && entry->ifa_addr->sa_family == AF_INET);
    }
    freeifaddrs(list);
    return found;
}

} // namespace hx_test
