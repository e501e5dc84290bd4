// Puts a test process into a network namespace of its own, so nothing it sends leaves the machine.
#pragma once

#include <optional>
#include <string>

namespace hx_test {

// Enters a fresh network namespace (as root a plain one, otherwise inside a user namespace) and
// brings loopback up. When the process already runs in a private namespace (started through
// scripts/in-netns, perhaps with a veth pair) it stays there. Must run before any thread starts.
// Returns false with the reason in `why` when no private namespace can be had.
bool enterPrivateNetwork(std::string& why);

// True when this process's network namespace differs from the one of process 1 (the host's).
bool inPrivateNetwork();

// Whether an interface other than loopback is up with an IPv4 address here, as the system lists
// them (not through the library); nothing where the test cannot tell.
std::optional<bool> hasIpv4Adapter();

} // namespace hx_test
