// Camera operations registry: how the registry builds the operations object of a camera.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

class CameraOperations;

// Builds the operations object of a camera address; null (with a log line) when the camera cannot
// be had. Called from any thread, once at a time per address.
using CameraSource = std::function<std::shared_ptr<CameraOperations>(uint32_t address)>;

// The library's way: a camera discovery knows, recognised over the control protocol.
std::shared_ptr<CameraOperations> buildDiscoveredCamera(uint32_t address);

// Replaces how CameraOperations::factory builds objects (tests build them over an in-memory
// camera); an empty source builds nothing.
void setCameraSource(CameraSource source);
