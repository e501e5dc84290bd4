// Morvane lens and temperatures: the lens status, information and settings texts and the
// camera's temperature text, exchanged through memory registers.
#include "morvane/morvane_lens.h"

#include <hlv_thread/log.h>
#include <hlv_thread/log_label.h>
#include <hlv_thread/note.h>

#include "morvane/morvane_channels.h"
#include "morvane/morvane_documents.h"
#include "registers/register_map.h"

namespace halvex::morvane {

using control::RegisterChannel;

using namespace registers;
using documents::kErrorBit;

namespace {

// Reads one lens text and parses it; false (after the log lines) leaves the record's status
// word with the error bit.
bool readLensDocument(RegisterChannel& channel, uint32_t reg, const char* method, const std::string& camera,
                      const char* what, Json::Value& document, uint32_t& status)
{
    uint32_t result = 0;
    const std::optional<std::string> text = channels::readText(channel, reg, result);
    if (!text) {
        HLV_LOG("%s(%s): readMem() failed (0x%x)", method, camera.c_str(), result);
        HLV_LOG("Could not retrieve the %s from camera %s", what, camera.c_str());
    } else if (text->empty()) {
        HLV_LOG("%s: Got an empty %s string!", method, what);
    } else if (documents::parse(*text, document, method)) {
        HLV_TRACE(thread::TRACE_OPERATIONS, "%s: %s='%s'", method,
                  reg == GIGE_REG_LENS_INFO_JSON ? "lens_info" : "lens_status_json", text->c_str());
        return true;
    }
    status |= kErrorBit;
    return false;
}

} // namespace

MorvaneLens::MorvaneLens(RegisterChannel& channel, const std::string& cameraName) : channel_(channel), name_(cameraName)
{
}

void MorvaneLens::getLensStatus(HX_LENS_STATUS* out)
{
    const char* method = HLV_LABEL("getLensStatus");
    HLV_TRACE(thread::TRACE_OPERATIONS, "%s(%s)", method, name_.c_str());
    if (out == nullptr) {
        HLV_LOG("%s(%s): lens status pointer unexpectedly null!", method, name_.c_str());
        HLV_THROW(thread::RuntimeError, "%s(%s): lens status pointer unexpectedly null!", method, name_.c_str());
    }
    readLensStatus(*out);
    getLensInfo(out);
}

void MorvaneLens::readLensStatus(HX_LENS_STATUS& record)
{
    const char* method = HLV_LABEL("getLensStatus");
    Json::Value document;
    if (!readLensDocument(channel_, GIGE_REG_LENS_STATUS_JSON, method, name_, "lens status", document, record.flags) ||
        !documents::fillLensStatus(document, record, method)) {
        record.flags |= kErrorBit;
        HLV_THROW(thread::RuntimeError, "%s(%s): The lens status could not be read.", method, name_.c_str());
    }
    std::lock_guard lock(lock_);
    lensStatus_ = record;
}

void MorvaneLens::getLensInfo(HX_LENS_STATUS* out)
{
    const char* method = HLV_LABEL("getLensInfo");
    HLV_TRACE(thread::TRACE_OPERATIONS, "%s(%s)", method, name_.c_str());
    if (out == nullptr) {
        HLV_LOG("%s(%s): lens information pointer unexpectedly null!", method, name_.c_str());
        HLV_THROW(thread::RuntimeError, "%s(%s): lens information pointer unexpectedly null!", method, name_.c_str());
    }
    Json::Value document;
    if (!readLensDocument(channel_, GIGE_REG_LENS_INFO_JSON, method, name_, "lens information", document, out->flags) ||
        !documents::fillLensInfo(document, *out, method, name_)) {
        out->flags |= kErrorBit;
        HLV_THROW(thread::RuntimeError, "%s(%s): The lens information could not be read.", method, name_.c_str());
    }
}

void MorvaneLens::setLensSettings(HX_LENS_SETTINGS* in)
{
    const char* method = HLV_LABEL("setLensSettings");
    HLV_TRACE(thread::TRACE_OPERATIONS, "%s(%s)", method, name_.c_str());
    if (in == nullptr)
        HLV_THROW(thread::RuntimeError, "%s(%s): lens settings pointer unexpectedly null!", method, name_.c_str());
    const std::optional<std::string> text = documents::lensSettingsText(*in, method, name_);
    if (!text)
        HLV_THROW(thread::RuntimeError, "%s(%s): The lens settings were not sent.", method, name_.c_str());
    HLV_TRACE(thread::TRACE_OPERATIONS, "%s: json='%s'", method, text->c_str());
    if (const uint32_t result = channels::writeText(channel_, GIGE_REG_LENS_SETTINGS_JSON, *text); result != 0) {
        HLV_LOG("%s(%s): writeMem() failed [0x%x]", method, name_.c_str(), result);
        HLV_THROW(thread::RuntimeError, "%s(%s): The lens settings were not written.", method, name_.c_str());
    }
}

bool MorvaneLens::getTemperature(HX_TEMPERATURE* out)
{
    const char* method = HLV_LABEL("getTemperature");
    HLV_TRACE(thread::TRACE_OPERATIONS, "%s(%s)", method, name_.c_str());
    if (out == nullptr) {
        HLV_LOG("%s(%s): Unexpectedly null camera temperature pointer!", method, name_.c_str());
        return false;
    }
    const channels::ChunkedText read = channels::readChunkedText(channel_, GIGE_REG_TELEMETRY_JSON);
    Json::Value document;
    switch (read.failure) {
    case channels::ChunkedFailure::Rewind:
        HLV_LOG("%s(%s): There was an error writing the GIGE_REG_TELEMETRY_JSON register [0x%x]", method, name_.c_str(),
                read.result);
        break;
    case channels::ChunkedFailure::Read:
        HLV_LOG("%s: Unable to read the temperature information from the camera! [%d]", method,
                static_cast<int>(read.result));
        break;
    case channels::ChunkedFailure::TooLong:
        HLV_LOG("%s(%s): The temperature text is longer than %d bytes", method, name_.c_str(),
                static_cast<int>(channels::kMaxChunkedText));
        break;
    case channels::ChunkedFailure::None:
        if (documents::parse(read.text, document, method)) {
            HLV_TRACE(thread::TRACE_OPERATIONS, "%s: temp_info='%s'", method, read.text.c_str());
            if (documents::fillTemperature(document, *out, method))
                return true;
        }
        break;
    }
    out->flags |= kErrorBit;
    return false;
}

} // namespace halvex::morvane
