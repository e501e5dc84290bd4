// Configuration of one stand-in camera: identity, sensor, memory, network address and faults.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "sim/device/sim_time.h"
#include "sim/faults/stream_faults.h"
#include "sim/registers/family_codes.h"
#include "sim/registers/sensor_model.h"

namespace hxsim {

// Faults of one outgoing channel. Probabilities are per datagram, in [0, 1].
struct ChannelFaults {
    double drop = 0;
    double delay = 0;
    double duplicate = 0;
    double reorder = 0;
    double corrupt = 0;
    double wrongIndex = 0;  // write acknowledges report one pair fewer than were written
    double errorStatus = 0; // a request is refused with an error status and not carried out
    SimTime delayMin = milliseconds(50);
    SimTime delayMax = milliseconds(500);

    bool any() const;
};

enum class FaultChannel { Control, Events, Discovery };
inline constexpr std::size_t kFaultChannelCount = 3;

struct FaultConfig {
    std::array<ChannelFaults, kFaultChannelCount> channels{};
    bool mute = false;                       // answers nothing at all
    std::optional<SimTime> vanishAt;         // goes silent at this camera time ...
    SimTime vanishFor = milliseconds(30000); // ... for this long, then answers again
    bool wrongManufacturer = false;          // reports another manufacturer
    bool oldFirmware = false;                // reports a device version below the hosts' minimum
    StreamFaults stream;                     // on the image stream
    // Every register write that sets this register to this value is refused as busy and not
    // carried out, whatever else it writes: a camera that will not take one step.
    std::optional<std::pair<uint32_t, uint32_t>> refusedWrite;

    ChannelFaults& channel(FaultChannel which) { return channels[static_cast<std::size_t>(which)]; }
    const ChannelFaults& channel(FaultChannel which) const { return channels[static_cast<std::size_t>(which)]; }
};

// An image whose last packet has just left the camera, for an observer in the camera's process.
struct SentImage {
    uint32_t camera = 0; // the camera's address, host order
    uint16_t blockId = 0;
    uint32_t frame = 0;
};

struct CameraConfig {
    std::string model = "hxsim qT"; // the family follows from the code in the model text
    SensorModel sensor = SensorModel::fromCode(0x414C3543);
    uint64_t memoryBytes = uint64_t{8} << 30;
    std::string firmware = "2.6.0";
    std::string userName = "hxsim-1";
    std::string serial = "HXS000001";
    std::string manufacturerInfo = "stand-in camera";
    uint32_t address = 0x7F000002; // host order: 127.0.0.2
    uint32_t netmask = 0xFF000000; // host order
    std::array<uint8_t, 6> mac{0x02, 0x48, 0x58, 0x00, 0x00, 0x01};
    uint64_t seed = 1;
    double timeScale = 1.0;                      // camera seconds per wall-clock second
    bool hearBroadcast = false;                  // also receive discovery on the wildcard address
    uint32_t maxStreamPacket = 9000;             // the largest stream packet the path to hosts carries
    uint64_t linkBitsPerSecond = 10'000'000'000; // the camera's line rate; 0 for no limit
    bool liveFrameCap = true;                    // live and playback frames at least StreamEngine::kMinFrameGap apart
    bool scene = false;                          // frames show a moving disc and their number (FrameDrawer)
    bool logFrames = false;                      // a log line for every live and playback image sent
    // Runs of equal-size stream datagrams leave in one segmented send each (UDP_SEGMENT, where the
    // system has it), so that hosts that ask for it receive them coalesced, as from a network card.
    bool udpSegmentation = true;
    FaultConfig faults;
    // Called on the camera's stream thread as soon as the send that carried an image's last packet
    // has returned, so that a benchmark in the same process can time the image's way to the host.
    // Unset (as it always is outside such a process) it costs one test per image.
    std::function<void(const SentImage&)> onImageSent;

    // Tarrow unless the model names the Morvane family; a model with no code behaves as a Tarrow
    // camera that hosts will not accept.
    halvex::sim::CameraFamily family() const;
    std::string manufacturer() const;
    std::string deviceVersion() const;
    // The subnet's broadcast address (host order): where broadcast discovery arrives.
    uint32_t broadcastAddress() const;

    // Empty when the configuration is usable, else the reason it is not.
    std::string validate() const;
};

// Dotted text of a host-order IPv4 address, and the reverse.
std::string dotted(uint32_t hostOrderAddress);
std::optional<uint32_t> parseDotted(const std::string& text);

} // namespace hxsim
