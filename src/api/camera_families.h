// Camera families: recognises a camera's family and sensor from what it says it is, and builds its operations.
#pragma once

#include <cstdint>
#include <memory>

class CameraOperations;
class RegisterChannel;

// Asks the camera behind `channel` for its sensor type and model text and builds the operations
// object of its family; null (and one log line) when the camera cannot be recognised. It touches
// no registry. Called from any thread.
std::shared_ptr<CameraOperations> recogniseCamera(uint32_t address, std::shared_ptr<RegisterChannel> channel);
