// Memory-mapped text documents of second-family cameras.
#include "sim/device/document_channels.h"

#include <algorithm>

#include "sim/registers/camera_registers.h"

namespace hxsim {

using namespace halvex::sim;

DocumentChannels::DocumentChannels(bool enabled)
{
    if (!enabled) {
        return;
    }
    for (uint32_t address :
         {GIGE_REG_TELEMETRY_JSON, GIGE_REG_LENS_INFO_JSON, GIGE_REG_LENS_STATUS_JSON, GIGE_REG_MEDIA_INFO_JSON}) {
        readable_[address].text = "{}";
    }
    for (uint32_t address : {GIGE_REG_LENS_SETTINGS_JSON, GIGE_REG_SAVE_REQUEST_JSON, GIGE_REG_SAVE_COMMENT}) {
        received_[address];
    }
}

std::vector<uint8_t> DocumentChannels::read(uint32_t address, std::size_t count)
{
    std::vector<uint8_t> bytes(count, 0);
    auto found = readable_.find(address);
    if (found == readable_.end()) {
        return bytes;
    }
    Readable& channel = found->second;
    // The lens texts describe the lens as it is now: each read hands out the whole text afresh.
    if (address == GIGE_REG_LENS_INFO_JSON || address == GIGE_REG_LENS_STATUS_JSON) {
        channel.cursor = 0;
    }
    const std::size_t available = channel.text.size() - std::min(channel.cursor, channel.text.size());
    const std::size_t taken = std::min(available, count);
    std::copy_n(channel.text.begin() + static_cast<std::ptrdiff_t>(channel.cursor), taken, bytes.begin());
    channel.cursor += taken;
    return bytes;
}

void DocumentChannels::rewind(uint32_t address)
{
    auto found = readable_.find(address);
    if (found != readable_.end()) {
        found->second.cursor = 0;
    }
}

void DocumentChannels::receive(uint32_t address, std::span<const uint8_t> data)
{
    auto found = received_.find(address);
    if (found != received_.end()) {
        found->second.assign(data.begin(), data.end());
    }
}

void DocumentChannels::setDocument(uint32_t address, std::string text)
{
    readable_[address] = Readable{std::move(text), 0};
}

std::string DocumentChannels::received(uint32_t address) const
{
    auto found = received_.find(address);
    return found == received_.end() ? std::string() : found->second;
}

} // namespace hxsim
