// A read that failed is tried once more: a read asks the camera for nothing but its values, so a
// second try is safe, and on a lossy link the library's own repeats of a request can all be lost.
// Only once: a camera that stays silent costs each try the library's whole age-out.
#pragma once

namespace hxcam {

inline constexpr int READ_ATTEMPTS = 2;

// Calls `read` until it returns true, at most READ_ATTEMPTS times.
template <typename Read>
bool readWithRetries(Read&& read)
{
    for (int attempt = 0; attempt < READ_ATTEMPTS; ++attempt) {
        if (read())
            return true;
    }
    return false;
}

} // namespace hxcam
