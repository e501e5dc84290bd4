// Camera operations: the base shared by the camera families (cached records, register refresh).
#include "camera/camera_operations.h"

#include <algorithm>
#include <exception>

#include <hlv_thread/log.h>
#include <hlv_thread/note.h>

#include "camera/camera_address.h"
#include "registers/register_map.h"

namespace halvex::camera {

using control::RegisterChannel;
using sensors::SensorOperations;
using wire::RegisterPairs;

using namespace registers;

namespace {

// The most addresses one register read may carry (one 548-byte datagram).
constexpr std::size_t MAX_READ_ADDRESSES = 135;

constexpr const char* REFRESH = "CameraOperations::refresh";

// Runs the camera reads of one refresh: a failure is logged and answered false, never thrown.
template <class Read>
bool refreshRead(const std::string& camera, Read read)
{
    try {
        read();
        return true;
    } catch (const thread::Exception& error) {
        HLV_LOG("%s: Halvex Exception for %s: %s", REFRESH, camera.c_str(), error.str().c_str());
    } catch (const std::exception& error) {
        HLV_LOG("%s: Halvex Exception for %s: %s", REFRESH, camera.c_str(), error.what());
    }
    return false;
}

} // namespace

CameraOperations::CameraOperations(uint32_t address, std::shared_ptr<RegisterChannel> channel)
    : address_(address), name_(dottedAddress(address)), channel_(std::move(channel))
{
    HX_camera_information_init(&cached_.cameraInformation, sizeof(cached_.cameraInformation));
    HX_analog_gain_init(&cached_.analogGain, sizeof(cached_.analogGain));
    HX_capture_settings_init(&cached_.captureSettings, sizeof(cached_.captureSettings));
    HX_download_settings_init(&cached_.downloadSettings, sizeof(cached_.downloadSettings));
    HX_io_settings_init(&cached_.ioSettings, sizeof(cached_.ioSettings));
    HX_playback_settings_init(&cached_.playbackSettings, sizeof(cached_.playbackSettings));
    HX_stream_settings_init(&cached_.streamSettings, sizeof(cached_.streamSettings));
    cached_.progress.ver_maj = HX_API_VERSION_MAJ;
    cached_.progress.ver_min = HX_API_VERSION_MIN;
    HX_command_init(&cached_.command, sizeof(cached_.command));
}

CameraOperations::~CameraOperations()
{
    HLV_TRACE(thread::TRACE_OPERATIONS, "%s(%s)", "CameraOperations::~CameraOperations", name_.c_str());
}

void CameraOperations::streamShutdown() {}

bool CameraOperations::channelFaulted() const
{
    return channel_->faulted();
}

void CameraOperations::releaseChannel()
{
    channel_->release();
}

uint32_t CameraOperations::subscribers() const
{
    std::lock_guard<std::mutex> lock(stateMutex_);
    return subscriptionCount_;
}

void CameraOperations::adoptSubscribers(uint32_t count)
{
    std::lock_guard<std::mutex> lock(stateMutex_);
    subscriptionCount_ += count;
}

void CameraOperations::setSensor(std::unique_ptr<SensorOperations> sensor)
{
    if (!sensor) {
        HLV_THROW(thread::LogicError, "Null SensorOperations pointer!");
    }
    sensor_ = std::move(sensor);
}

void CameraOperations::setSensorFlag(uint8_t flag)
{
    std::lock_guard<std::mutex> state(stateMutex_);
    sensor_->setFlag(flag);
}

bool CameraOperations::readRegisters(RegisterPairs& pairs)
{
    for (std::size_t first = 0; first < pairs.size(); first += MAX_READ_ADDRESSES) {
        const std::size_t count = std::min(MAX_READ_ADDRESSES, pairs.size() - first);
        RegisterPairs chunk(pairs.begin() + static_cast<std::ptrdiff_t>(first),
                            pairs.begin() + static_cast<std::ptrdiff_t>(first + count));
        if (channel_->readMultiReg(chunk) != 0 || chunk.size() != count) {
            return false;
        }
        std::copy(chunk.begin(), chunk.end(), pairs.begin() + static_cast<std::ptrdiff_t>(first));
    }
    return true;
}

bool CameraOperations::refresh(RegisterCache& registers, uint8_t* counter, RegisterStamps* stamps)
{
    std::lock_guard<std::mutex> oneAtATime(refreshMutex_);
    RegisterPairs pairs;
    {
        std::lock_guard<std::mutex> state(stateMutex_);
        for (const auto& entry : registers) {
            pairs.push_back({entry.first, 0});
        }
    }
    if (pairs.empty()) {
        HLV_LOG("%s: Unexpectedly empty map of registers to read.", REFRESH);
        return false;
    }
    const uint64_t known = channel_->stampRead(address_);
    const bool read = refreshRead(name_, [&] {
        if (!readRegisters(pairs)) {
            HLV_THROW(thread::RuntimeError, "%s: Unable to read the registers for %s", REFRESH, name_.c_str());
        }
    });
    if (!read) {
        return false;
    }
    std::lock_guard<std::mutex> state(stateMutex_);
    for (const auto& [reg, value] : pairs) {
        if (stamps != nullptr) {
            uint64_t& held = (*stamps)[reg];
            if (held > known)
                continue;
            held = known;
        }
        registers[reg] = value;
    }
    if (counter != nullptr) {
        ++*counter;
    }
    return true;
}

bool CameraOperations::refresh(std::map<uint32_t, std::string>& texts, uint8_t* counter)
{
    std::vector<uint32_t> addresses;
    {
        std::lock_guard<std::mutex> state(stateMutex_);
        for (const auto& entry : texts) {
            addresses.push_back(entry.first);
        }
    }
    std::map<uint32_t, std::string> read;
    const bool complete = refreshRead(name_, [&] {
        for (uint32_t start : addresses) {
            std::vector<uint8_t> bytes;
            if (channel_->readMem(start, bytes, 0) != 0) {
                HLV_THROW(thread::RuntimeError, "%s: Unable to read %s:0x%04X", REFRESH, name_.c_str(), start);
            }
            read[start].assign(bytes.begin(), bytes.end());
        }
    });
    if (!complete) {
        return false;
    }
    std::lock_guard<std::mutex> state(stateMutex_);
    for (auto& [start, text] : read) {
        texts[start] = std::move(text);
    }
    if (counter != nullptr) {
        ++*counter;
    }
    return true;
}

} // namespace halvex::camera
