// The streaming part of a camera's download settings: validated into register writes, and read
// back from the register cache into the settings record.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include <hx/hx.h>

#include "control/hx_comm_messages.h"
#include "registers/register_cache.h"

namespace halvex::stream {

class StreamReceivers;

// Threads: the camera's service thread only, except the process-wide throttle counts, which the
// receivers read.
class DownloadStreamSettings {
public:
    // The registers the camera family reads the streaming part of the download settings from.
    static constexpr std::array<uint32_t, 7> WATCHED_REGISTERS = {0xD314, 0xE924, 0xE928, 0xE918,
                                                                  0x0D04, 0x0D08, 0xC0AC};
    static constexpr uint32_t DEFAULT_PACKET_DELAY = 200;

    // `cameraName` names the camera in log lines and outlives the settings.
    explicit DownloadStreamSettings(const std::string& cameraName);

    // Validates the streaming fields of the download settings (refusals marked HX_FLAG_ERR in
    // the record and logged), appends their register writes and sets the throttle. The UDP
    // receiver, when it runs, gives the stream's destination and negotiated packet size.
    void apply(HX_DOWNLOAD_SETTINGS& settings, wire::RegisterPairs& writes, StreamReceivers& receivers);
    // A download started: the settings applied are used up.
    void downloadStarted();

    uint32_t getPacketDelay(const registers::RegisterCache& registers) const;
    uint32_t getPacketLen(const registers::RegisterCache& registers) const;
    uint32_t getStart(const registers::RegisterCache& registers) const;
    uint32_t getStop(const registers::RegisterCache& registers) const;
    void getThrottleParams(uint32_t& pauseCount, uint32_t& resumeCount) const;
    // Download settings were applied and no download has started since.
    bool settingsApplied() const;
    // The last valid turbo packet length of the download settings; 0 until one was given.
    uint32_t streamPacketLength() const;

private:
    void appendStreamChannel(HX_DOWNLOAD_SETTINGS& settings, wire::RegisterPairs& writes, StreamReceivers& receivers);
    void appendFrames(HX_DOWNLOAD_SETTINGS& settings, wire::RegisterPairs& writes);
    uint32_t traced(const char* who, const registers::RegisterCache& registers, uint32_t address,
                    uint32_t fallback) const;

    const std::string& cameraName_;
    uint32_t streamPacketLength_ = 0;
    bool settingsApplied_ = false;
};

} // namespace halvex::stream
