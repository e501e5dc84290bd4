// Camera families: recognises a camera's family and sensor from what it says it is, and builds its operations.
#pragma once

#include <cstdint>
#include <memory>

namespace halvex::camera {
class CameraOperations;
} // namespace halvex::camera

namespace halvex::control {
class RegisterChannel;
} // namespace halvex::control

namespace halvex::api {

// Asks the camera behind `channel` for its sensor type and model text and builds the operations
// object of its family; null (and one log line) when the camera cannot be recognised. It touches
// no registry. Called from any thread.
std::shared_ptr<camera::CameraOperations> recogniseCamera(uint32_t address,
                                                          std::shared_ptr<control::RegisterChannel> channel);

} // namespace halvex::api
