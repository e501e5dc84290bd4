// The flags words of the public records, read one way by every layer that fills or checks one.
#pragma once

#include <cstdint>

#include <hx/hx.h>

namespace halvex::records {

// Whether a flags word asks for its field (or its section): HX_FLAG_SET.
constexpr bool flagSet(uint32_t flags)
{
    return (flags & HX_FLAG_SET) != 0;
}

} // namespace halvex::records
