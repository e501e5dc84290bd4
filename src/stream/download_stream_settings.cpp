// The streaming part of a camera's download settings: validated into register writes, and read
// back from the register cache into the settings record.
#include "stream/download_stream_settings.h"

#include "control/hx_comm.h"
#include "hlv_thread/log.h"
#include "hlv_thread/note.h"
#include "records/field_flags.h"
#include "registers/register_map.h"
#include "stream/download_throttle.h"
#include "stream/stream_receivers.h"
#include "stream/udp_stream.h"

namespace halvex::stream {

using control::HxComm;
using registers::RegisterCache;
using thread::SettingsException;

using records::flagSet;
using thread::TRACE_STREAM;
namespace regs = registers;

namespace {

constexpr uint32_t MIN_PACKET_DELAY = 10;
constexpr uint32_t MAX_PACKET_DELAY = 1000000;

// Frame numbers appear in refusal lines as signed numbers, the form those lines have always had.
int asInt(uint32_t value)
{
    return static_cast<int>(value);
}

// Runs one field's check; a refusal is logged, marks the field and leaves the others to go on.
template <class Check>
bool refusedBy(uint32_t& flags, Check check)
{
    try {
        check();
        return false;
    } catch (const SettingsException& error) {
        HLV_LOG("Settings exception: %s", error.str().c_str());
        flags |= HX_FLAG_ERR;
        return true;
    }
}

} // namespace

DownloadStreamSettings::DownloadStreamSettings(const std::string& cameraName) : cameraName_(cameraName) {}

void DownloadStreamSettings::apply(HX_DOWNLOAD_SETTINGS& settings, wire::RegisterPairs& writes,
                                   StreamReceivers& receivers)
{
    HLV_TRACE(TRACE_STREAM, "%s(%s)", "HxStreamOperations::setSettings", cameraName_.c_str());
    if (!flagSet(settings.flags))
        return;
    if (receivers.udp() != nullptr)
        appendStreamChannel(settings, writes, receivers);
    if (flagSet(settings.rate_control_flags))
        DownloadThrottle::set({settings.pause_count, settings.resume_count});
    if (flagSet(settings.turbo_delay_flags)) {
        refusedBy(settings.turbo_delay_flags, [&] {
            const uint32_t delay = settings.turbo_delay;
            if (delay < MIN_PACKET_DELAY || delay > MAX_PACKET_DELAY)
                HLV_THROW(SettingsException, "Stream packet delay is out of range!");
            writes.push_back({regs::GIGE_REG_SCPD0, delay});
        });
    }
    appendFrames(settings, writes);
    writes.push_back({regs::GIGE_REG_DOWNLOAD_E92C, 1});
    writes.push_back({regs::GIGE_REG_DOWNLOAD_E930, 0});
    settingsApplied_ = true;
}

// Where the UDP stream goes (this host, the receiver's port) and in what packet size.
void DownloadStreamSettings::appendStreamChannel(HX_DOWNLOAD_SETTINGS& settings, wire::RegisterPairs& writes,
                                                 StreamReceivers& receivers)
{
    if (!HxComm::factory(receivers.udp()->cameraAddress()))
        HLV_THROW(thread::RuntimeError, "Unexpectedly null HxComm pointer!");
    receivers.appendDestination(writes);
    if (!flagSet(settings.turbo_packet_length_flags)) {
        // Before the packet-size negotiation has ended there is no size to give: writing 0 would
        // break the stream, and the negotiation writes the size it settles on itself.
        if (const uint32_t negotiated = receivers.udp()->negotiatedPacketSize(); negotiated != 0)
            writes.push_back({regs::GIGE_REG_SCPS0, negotiated | regs::SCPS0_DO_NOT_FRAGMENT});
        return;
    }
    refusedBy(settings.turbo_packet_length_flags, [&] {
        const uint32_t length = settings.turbo_packet_length;
        if (length != 0 && (length < regs::STANDARD_PACKET_SIZE || length > regs::JUMBO_PACKET_SIZE))
            HLV_THROW(SettingsException, "Stream packet length is out of range!");
        writes.push_back({regs::GIGE_REG_SCPS0, length | regs::SCPS0_DO_NOT_FRAGMENT});
        streamPacketLength_ = length;
    });
}

void DownloadStreamSettings::appendFrames(HX_DOWNLOAD_SETTINGS& settings, wire::RegisterPairs& writes)
{
    const uint32_t start = settings.start;
    const uint32_t stop = settings.stop;
    bool startRefused = false;
    if (flagSet(settings.start_flags)) {
        startRefused = refusedBy(settings.start_flags, [&] {
            if (start > settings.start_max)
                HLV_THROW(SettingsException, "Starting frame number exceeds maximum (%d > %d)", asInt(start),
                          asInt(settings.start_max));
            if (start > stop)
                HLV_THROW(SettingsException, "Starting frame number exceeds end frame (%d >= %d)", asInt(start),
                          asInt(stop));
            writes.push_back({regs::GIGE_REG_DOWNLOAD_START, start});
        });
    }
    if (flagSet(settings.stop_flags)) {
        refusedBy(settings.stop_flags, [&] {
            if (stop > settings.stop_max)
                HLV_THROW(SettingsException, "Ending frame number exceeds maximum (%d > %d)", asInt(stop),
                          asInt(settings.stop_max));
            writes.push_back({regs::GIGE_REG_DOWNLOAD_END, stop});
        });
    }
    if (!startRefused)
        writes.push_back({regs::GIGE_REG_DOWNLOAD_E918, start});
}

uint32_t DownloadStreamSettings::traced(const char* who, const RegisterCache& registers, uint32_t address,
                                        uint32_t fallback) const
{
    const auto found = registers.find(address);
    const uint32_t value = found != registers.end() ? found->second : fallback;
    HLV_TRACE(TRACE_STREAM, "%s(%s): %d", who, cameraName_.c_str(), static_cast<int>(value));
    return value;
}

uint32_t DownloadStreamSettings::getPacketDelay(const RegisterCache& registers) const
{
    return traced("HxStreamOperations::getPacketDelay", registers, regs::GIGE_REG_SCPD0, DEFAULT_PACKET_DELAY);
}

uint32_t DownloadStreamSettings::getPacketLen(const RegisterCache& registers) const
{
    return traced("HxStreamOperations::getPacketLen", registers, regs::GIGE_REG_SCPS0, 0);
}

uint32_t DownloadStreamSettings::getStart(const RegisterCache& registers) const
{
    return traced("HxStreamOperations::getStart", registers, regs::GIGE_REG_DOWNLOAD_START, 0);
}

uint32_t DownloadStreamSettings::getStop(const RegisterCache& registers) const
{
    return traced("HxStreamOperations::getStop", registers, regs::GIGE_REG_DOWNLOAD_END, 0);
}

void DownloadStreamSettings::getThrottleParams(uint32_t& pauseCount, uint32_t& resumeCount) const
{
    const DownloadThrottle::Counts throttle = DownloadThrottle::current();
    pauseCount = throttle.pauseCount;
    resumeCount = throttle.resumeCount;
    HLV_TRACE(TRACE_STREAM, "%s(%s): pause=%d, resume=%d", "HxStreamOperations::getThrottleParams", cameraName_.c_str(),
              static_cast<int>(pauseCount), static_cast<int>(resumeCount));
}

bool DownloadStreamSettings::settingsApplied() const
{
    return settingsApplied_;
}

uint32_t DownloadStreamSettings::streamPacketLength() const
{
    return streamPacketLength_;
}

void DownloadStreamSettings::downloadStarted()
{
    settingsApplied_ = false;
}

} // namespace halvex::stream
