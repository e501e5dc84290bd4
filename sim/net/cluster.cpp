// A set of stand-in cameras with distinct identities.
#include "sim/net/cluster.h"

#include <set>
#include <stdexcept>

#include <fmt/format.h>

namespace hxsim {

std::vector<CameraConfig> Cluster::numbered(const CameraConfig& first, std::size_t count)
{
    std::vector<CameraConfig> configs;
    for (std::size_t i = 0; i < count; ++i) {
        CameraConfig config = first;
        config.address = first.address + static_cast<uint32_t>(i);
        config.seed = first.seed + i;
        if (count > 1) {
            config.userName = fmt::format("{}-{}", first.userName, i + 1);
        }
        config.serial = fmt::format("HXS{:06X}", config.address & 0xFFFFFF);
        config.mac[3] = static_cast<uint8_t>(config.address >> 16);
        config.mac[4] = static_cast<uint8_t>(config.address >> 8);
        config.mac[5] = static_cast<uint8_t>(config.address);
        configs.push_back(config);
    }
    return configs;
}

std::string Cluster::validate(const std::vector<CameraConfig>& configs)
{
    std::set<uint32_t> addresses;
    for (const CameraConfig& config : configs) {
        const std::string problem = config.validate();
        if (!problem.empty()) {
            return fmt::format("camera {}: {}", dotted(config.address), problem);
        }
        if (!addresses.insert(config.address).second) {
            return fmt::format("two cameras on {}", dotted(config.address));
        }
    }
    return {};
}

Cluster::Cluster(const std::vector<CameraConfig>& configs, const Logger& logger)
{
    const std::string problem = validate(configs);
    if (!problem.empty()) {
        throw std::runtime_error(problem);
    }
    for (const CameraConfig& config : configs) {
        cameras_.push_back(std::make_unique<Camera>(config, logger));
    }
}

void Cluster::stop()
{
    for (auto& camera : cameras_) {
        camera->stop();
    }
}

} // namespace hxsim
