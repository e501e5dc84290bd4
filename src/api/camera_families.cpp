// Camera families: recognises a camera's family and sensor from what it says it is, and builds its operations.
#include "api/camera_families.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include <hlv_thread/log.h>
#include <hlv_thread/note.h>

#include "camera/camera_address.h"
#include "morvane/morvane_operations.h"
#include "registers/model_codes.h"
#include "registers/register_map.h"
#include "tarrow/tarrow_operations.h"

namespace halvex::api {

using camera::CameraOperations;
using camera::dottedAddress;
using control::RegisterChannel;
using morvane::MorvaneOperations;
using sensors::SensorOperations;
using tarrow::TarrowOperations;

using namespace registers;

namespace {

// The model text up to its first NUL, for log lines; the family search itself sees every byte.
std::string printableModel(const std::vector<uint8_t>& window)
{
    const auto end = std::find(window.begin(), window.end(), uint8_t{0});
    return std::string(window.begin(), end);
}

std::shared_ptr<CameraOperations> buildFamily(uint32_t address, std::shared_ptr<RegisterChannel> channel,
                                              uint32_t sensorType, const std::vector<uint8_t>& model)
{
    std::unique_ptr<SensorOperations> sensor = SensorOperations::factory(sensorType);
    if (!sensor) {
        HLV_LOG("%s: Failed creating the SensorOperations object for camera '%s'", "CameraOperations::factory",
                printableModel(model).c_str());
        return nullptr;
    }
    const std::optional<CameraFamily> family = familyFromWindow(model);
    if (!family) {
        HLV_LOG("Camera model '%s' is not supported.", printableModel(model).c_str());
        return nullptr;
    }
    if (*family == CameraFamily::Tarrow) {
        return std::make_shared<TarrowOperations>(address, std::move(channel), std::move(sensor));
    }
    return std::make_shared<MorvaneOperations>(address, std::move(channel), std::move(sensor));
}

} // namespace

std::shared_ptr<CameraOperations> recogniseCamera(uint32_t address, std::shared_ptr<RegisterChannel> channel)
{
    const std::string name = dottedAddress(address);
    try {
        uint32_t sensorType = 0;
        if (channel->readReg(GIGE_REG_SENSOR_TYPE, sensorType) != 0) {
            HLV_LOG("Could not retrieve sensor type from camera %s", name.c_str());
            return nullptr;
        }
        std::vector<uint8_t> model;
        if (channel->readMem(GIGE_REG_MODEL_NAME, model, MODEL_WINDOW_SIZE) != 0) {
            HLV_LOG("Could not retrieve the model from camera %s", name.c_str());
            return nullptr;
        }
        if (model.empty()) {
            HLV_LOG("%s: Got an empty model string!", "CameraOperations::factory");
            return nullptr;
        }
        return buildFamily(address, std::move(channel), sensorType, model);
    } catch (const thread::Exception& error) {
        HLV_LOG("Camera Operations factory:  Halvex Exception during camera operations for %s:\n%s", name.c_str(),
                error.str().c_str());
    } catch (const std::exception& error) {
        HLV_LOG("std::exception during camera operations for %s:\n%s", name.c_str(), error.what());
    }
    return nullptr;
}

} // namespace halvex::api
