// Family input/output settings: the trigger, sync and arm signals of a register-based family's camera, read
// through the IO group's cache and written after validation.
#include "family/family_io_settings.h"

#include <hlv_thread/log.h>
#include <hlv_thread/log_label.h>
#include <hlv_thread/note.h>

#include "family/capture.h"
#include "family/download_settings.h"
#include "family/io_settings.h"
#include "family/merge.h"
#include "family/operation_labels.h"
#include "family/settings_access.h"
#include "records/field_flags.h"
#include "registers/register_map.h"
#include "stream/hx_stream_operations.h"

namespace halvex::family {

using thread::SettingsException;
using wire::RegisterPairs;

using namespace registers;
using records::flagSet;

FamilyIoSettings::FamilyIoSettings(FamilyCamera& camera) : camera_(camera) {}

void FamilyIoSettings::computeIoLocked()
{
    const uint32_t rate = camera_.groups.registers(RegisterGroup::Capture)[GIGE_REG_FRAME_RATE];
    const auto framesPerSecond = static_cast<uint32_t>(capture::decodeFrameRate(rate, camera_.traits.rates));
    io_settings::computeIo(camera_.groups.registers(RegisterGroup::IO), framesPerSecond, camera_.cached.ioSettings);
}

void FamilyIoSettings::getExternalIOSettings(HX_IO_SETTINGS* out)
{
    settings::readSettings(
        camera_, RegisterGroup::IO, HLV_LABEL("getExternalIOSettings"), camera_.cached.ioSettingsValid,
        [this] { computeIoLocked(); }, camera_.cached.ioSettings, out);
}

// Edits the camera's current input/output registers as the sections asked for say, writes the
// registers that changed in one exchange and hands back what the camera holds.
void FamilyIoSettings::setExternalIOSettings(HX_IO_SETTINGS* inOut)
{
    static constexpr const char* method = HLV_LABEL("setExternalIOSettings");
    HLV_TRACE(thread::TRACE_OPERATIONS, "%s", labels::SET_IO_ENTRY);
    if (inOut == nullptr)
        HLV_THROW(thread::LogicError, "NULL pointer in API call");
    HX_IO_SETTINGS& record = *inOut;
    std::lock_guard<std::mutex> serialised(camera_.settings);
    io_settings::clearIoOutcome(record);
    try {
        settings::refreshGroupOrThrow(camera_, RegisterGroup::IO, method);
        RegisterCache io;
        {
            std::lock_guard<std::mutex> lock(camera_.state);
            io = camera_.groups.registers(RegisterGroup::IO);
        }
        const RegisterPairs writes = io_settings::validateIo(record, io);
        settings::writeAndMerge(
            camera_, method, writes, camera_.cached.ioSettingsValid,
            [this](auto* held) { getExternalIOSettings(held); }, &io_settings::mergeIo, record);
    } catch (const SettingsException& error) {
        HLV_LOG("Settings exception: %s", error.str().c_str());
        record.flags |= HX_FLAG_ERR;
    } catch (const thread::LogicError& error) {
        HLV_LOG("Logic exception: %s", error.str().c_str());
        record.flags |= HX_FLAG_ERR;
    } catch (const thread::Exception& error) {
        HLV_LOG("%s(%s): %s", method, camera_.name.c_str(), error.str().c_str());
        record.flags |= HX_FLAG_ERR;
    }
    io_settings::summariseIo(record);
}

} // namespace halvex::family
