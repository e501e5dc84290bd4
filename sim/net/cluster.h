// Several stand-in cameras run together, each on its own address and thread.
#pragma once

#include <memory>
#include <vector>

#include "sim/net/camera.h"

namespace hxsim {

class Cluster {
public:
    // `count` cameras like `first`, on consecutive addresses from its address, with distinct
    // MAC addresses, serial numbers and seeds. With more than one camera the names become
    // "<name>-1", "<name>-2", ...
    static std::vector<CameraConfig> numbered(const CameraConfig& first, std::size_t count);
    // Empty when the configurations can run together (each valid, addresses distinct), else why not.
    static std::string validate(const std::vector<CameraConfig>& configs);

    // Starts every camera; throws std::runtime_error when one cannot start (the ones already
    // started are stopped again).
    explicit Cluster(const std::vector<CameraConfig>& configs, const Logger& logger = {});

    std::size_t size() const { return cameras_.size(); }
    Camera& operator[](std::size_t index) { return *cameras_.at(index); }
    void stop();

private:
    std::vector<std::unique_ptr<Camera>> cameras_;
};

} // namespace hxsim
