// Names of the stream faults as options and scenario files give them.
#include "sim/faults/stream_faults.h"

#include <array>
#include <utility>

#include <fmt/format.h>

namespace hxsim {

std::string applyStreamFault(StreamFaults& faults, std::string_view kind, double value)
{
    const std::array<std::pair<std::string_view, double StreamFaults::*>, 5> kinds{
        {{"drop", &StreamFaults::drop},
         {"reorder", &StreamFaults::reorder},
         {"truncate", &StreamFaults::truncate},
         {"corrupt", &StreamFaults::corrupt},
         {"cut", &StreamFaults::cut}}};
    for (const auto& [name, field] : kinds) {
        if (name != kind) {
            continue;
        }
        if (!(value >= 0 && value <= 1)) {
            return fmt::format("stream fault {} needs a probability from 0 to 1, not {}", kind, value);
        }
        faults.*field = value;
        return {};
    }
    return fmt::format("unknown stream fault '{}' (drop, reorder, truncate, corrupt, cut)", kind);
}

} // namespace hxsim
