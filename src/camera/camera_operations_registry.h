// Camera operations registry: how the registry builds the operations object of a camera.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace halvex::control {
class RegisterChannel;
} // namespace halvex::control

namespace halvex::camera {

class CameraOperations;

// Builds the operations object of a camera address; null (with a log line) when the camera cannot
// be had. Called from any thread, once at a time per address.
using CameraSource = std::function<std::shared_ptr<CameraOperations>(uint32_t address)>;

// Recognises the camera behind a control channel and builds its family's object (null when it
// cannot). The families sit above this layer, so the library installs theirs at start.
using CameraRecogniser = std::function<std::shared_ptr<CameraOperations>(
    uint32_t address, std::shared_ptr<control::RegisterChannel> channel)>;

// The library's way: a camera discovery knows, recognised over the control protocol.
std::shared_ptr<CameraOperations> buildDiscoveredCamera(uint32_t address, const CameraRecogniser& recognise);

// Sets how CameraOperations::factory builds objects: the library installs buildDiscoveredCamera
// with its families, tests build objects over an in-memory camera. Until a source is installed,
// or with an empty one, nothing is built.
void setCameraSource(CameraSource source);

} // namespace halvex::camera
