// The socket library's test hook, shared by both systems' halves.
#include "platform/socket_library.h"

#include <atomic>

namespace halvex::platform {

namespace {

constinit std::atomic<int> forcedFailure{0};

} // namespace

void forceSocketStartFailure(int error)
{
    forcedFailure.store(error);
}

int forcedSocketStartFailure()
{
    return forcedFailure.load();
}

} // namespace halvex::platform
