// Command line of the hxsim executable, and the value parsers it shares with scenario files.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim/device/camera_config.h"

namespace hxsim {

struct SimOptions {
    std::vector<CameraConfig> cameras;
    bool help = false;
    bool quiet = false;
};

struct ParsedOptions {
    SimOptions options;
    std::string error; // empty when the command line was understood
};

// `args` without the program name.
ParsedOptions parseOptions(std::span<const std::string> args);
std::string usage();

// "8G", "512M" or a plain number of MiB.
std::optional<uint64_t> parseMemorySize(std::string_view text);
// Applies "CHANNEL.KIND=VALUE" (channel control, events, discovery or all; kind drop, delay,
// duplicate, reorder, corrupt, wrong-index, error-status as probabilities, delay-min-ms and
// delay-max-ms in milliseconds). Empty on success, else what is wrong.
std::string applyFault(FaultConfig& faults, std::string_view setting);
// Applies one camera setting by option name ("model", "sensor", "memory", ...; the names of the
// command line without dashes). Empty on success, else what is wrong.
std::string applySetting(CameraConfig& config, std::string_view name, const std::string& value);

} // namespace hxsim
