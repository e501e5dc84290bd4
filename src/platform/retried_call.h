// Making a POSIX call again when a signal interrupted it. For the POSIX halves only: the Windows
// calls report their errors elsewhere than errno.
#pragma once

#include <cerrno>

namespace halvex::platform {

// Makes the call again while it fails with EINTR, that is while a signal interrupted it before it
// did anything; any other result, failure included, is the caller's, with errno as the call left it.
template <typename Call>
auto retried(Call call)
{
    auto result = call();
    while (result < 0 && errno == EINTR)
        result = call();
    return result;
}

} // namespace halvex::platform
