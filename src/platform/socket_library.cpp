// The socket library's test hook, shared by both systems' halves.
#include "platform/socket_library.h"

#include <atomic>

namespace HX_PLATFORM {

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

} // namespace HX_PLATFORM
