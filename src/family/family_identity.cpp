// Family identity: camera information, battery and control privilege.
#include "family/family_identity.h"

#include <algorithm>
#include <cstring>

#include <hlv_thread/log.h>
#include <hlv_thread/log_label.h>
#include <hlv_thread/note.h>

#include "family/pollers.h"
#include "platform/netutils.h"
#include "registers/register_map.h"

namespace halvex::family {

using namespace registers;

namespace {

// Copies a camera text into a record field, up to the field's room less its NUL.
template <std::size_t N>
void copyText(char (&field)[N], const std::string& text)
{
    std::memset(field, 0, N);
    const std::size_t length = std::min(::strnlen(text.data(), text.size()), N - 1);
    std::memcpy(field, text.data(), length);
}

} // namespace

FamilyIdentity::FamilyIdentity(FamilyCamera& camera, pollers::PollerControl& pollers, TextRefresh refreshTexts)
    : camera_(camera), pollers_(pollers), refreshTexts_(std::move(refreshTexts))
{
    for (uint32_t start : groupRegisters(RegisterGroup::Text))
        texts_[start];
}

std::string FamilyIdentity::text(uint32_t address) const
{
    std::lock_guard<std::mutex> state(camera_.state);
    const auto found = texts_.find(address);
    return found == texts_.end() ? std::string() : found->second;
}

std::string FamilyIdentity::deviceVersion()
{
    return text(GIGE_REG_DEVICE_VERSION);
}

void FamilyIdentity::getBatteryInfo(HX_BATTERY_INFO* out)
{
    if (out == nullptr) {
        HLV_LOG("%s: Unexpectedly null info pointer!", HLV_LABEL("getBatteryInfo"));
        return;
    }
    uint32_t value = 0;
    if (camera_.channel.readReg(GIGE_REG_BATTERY_CHARGE, value) != 0) {
        HLV_LOG("%s: Unable to read the GIGE_REG_BATTERY_CHARGE register.", HLV_LABEL("getBatteryInfo"));
        out->flags = HX_FLAG_ERR;
        return;
    }
    out->battery_state = value & 0xF;
    out->charge = (value >> 8) & 0x7F;
    out->flags = HX_FLAG_CHG;
}

void FamilyIdentity::getCameraInformation(HX_CAMERA_INFORMATION* out)
{
    if (!refreshTexts_(texts_, &textCounter_)) {
        HLV_THROW(thread::RuntimeError, "%s(%s): Unable to read the camera's identity texts",
                  HLV_LABEL("getCameraInformation"), camera_.name.c_str());
    }
    std::string adapter;
    try {
        platform::net_utils::localAdapterOfCamera(camera_.address, adapter);
    } catch (const thread::Exception& error) {
        HLV_LOG("%s(%s): %s", HLV_LABEL("getCameraInformation"), camera_.name.c_str(), error.str().c_str());
        adapter.clear();
    }
    std::lock_guard<std::mutex> state(camera_.state);
    copyText(camera_.cached.cameraInformation.user_name, texts_[GIGE_REG_USER_DEFINED_NAME]);
    copyText(camera_.cached.cameraInformation.device_version, texts_[GIGE_REG_DEVICE_VERSION]);
    copyText(camera_.cached.cameraInformation.manufacturer_info, texts_[GIGE_REG_MANUFACTURER_INFO]);
    copyText(camera_.cached.cameraInformation.manufacturer_name, texts_[GIGE_REG_MANUFACTURER_NAME]);
    copyText(camera_.cached.cameraInformation.model_name, texts_[GIGE_REG_MODEL_NAME]);
    copyText(camera_.cached.cameraInformation.serial_number, texts_[GIGE_REG_SERIAL_NUMBER]);
    copyText(camera_.cached.cameraInformation.adapter_name, adapter);
    camera_.cached.cameraInformationValid = 1;
    if (out != nullptr) {
        *out = camera_.cached.cameraInformation;
    }
}

bool FamilyIdentity::lockCamera()
{
    HLV_TRACE(thread::TRACE_OPERATIONS, "%s(%s)", HLV_LABEL("lockCamera"), camera_.name.c_str());
    const uint32_t result = camera_.channel.writeReg(GIGE_REG_CCP, 2);
    if (result != 0) {
        HLV_LOG("%s(%s): There was an error writing the CCP register [0x%x]", HLV_LABEL("lockCamera"),
                camera_.name.c_str(), result);
    }
    return result == 0;
}

bool FamilyIdentity::unlockCamera()
{
    HLV_TRACE(thread::TRACE_OPERATIONS, "%s(%s)", HLV_LABEL("unlockCamera"), camera_.name.c_str());
    pollers_.stopHeartBeat();
    const uint32_t result = camera_.channel.writeReg(GIGE_REG_CCP, 0);
    if (result != 0) {
        HLV_LOG("%s(%s): There was an error clearing the CCP register [0x%x]", HLV_LABEL("unlockCamera"),
                camera_.name.c_str(), result);
    }
    return result == 0;
}

} // namespace halvex::family
