// The stand-in camera's inner workings: what register writes do, and what happens as time passes.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "sim/device/camera_config.h"
#include "sim/device/camera_memory.h"
#include "sim/device/camera_save.h"
#include "sim/device/control_privilege.h"
#include "sim/device/document_channels.h"
#include "sim/device/endpoint.h"
#include "sim/device/playback.h"
#include "sim/device/recorder.h"
#include "sim/frames/frame_store.h"
#include "sim/registers/capture_rules.h"
#include "sim/registers/register_file.h"

namespace hxsim {

using Logger = std::function<void(const std::string&)>;

// Registers, image memory, recording, playback and control privilege of one camera. Not
// thread-safe: one thread (the camera's) drives it. Time only moves when a caller passes a
// later `now`; callers advance() before they read.
class CameraDevice {
public:
    CameraDevice(const CameraConfig& config, Logger logger);

    // A host write of one register: the camera status (0, invalid address for a register the
    // camera lacks, access denied for read-only registers and for gated registers while the
    // write gate is closed, or what the register's own rule answers).
    uint16_t write(uint32_t address, uint32_t value, Endpoint from, SimTime now);
    // Brings dependent registers back into range once a whole request has been applied.
    void settle();

    // Memory access: documents, bootstrap texts, register words.
    std::vector<uint8_t> readMemory(uint32_t address, std::size_t count);
    uint16_t writeMemory(uint32_t address, std::span<const uint8_t> data);

    // A control datagram from `from` arrived: the heartbeat counts it.
    void activity(Endpoint from, SimTime now) { privilege_.activity(from, now); }
    // Carries out what is due by `now` and refreshes the progress and playback registers.
    void advance(SimTime now);
    // When advance() next has something to do on its own, or kNever.
    SimTime nextDeadline() const;

    const RegisterFile& registers() const { return regs_; }
    const CameraConfig& config() const { return config_; }
    CameraState state() const { return recorder_.state(); }
    const FrameStore& frames() const { return frames_; }
    const CameraMemory& memory() const { return memory_; }
    DocumentChannels& documents() { return documents_; }
    const ControlPrivilege& privilege() const { return privilege_; }
    // Told of every host register write the camera accepted, after it took effect.
    void observeWrites(std::function<void(uint32_t address, uint32_t value)> observer)
    {
        observer_ = std::move(observer);
    }
    bool gateOpen() const;
    bool streaming() const;

private:
    uint16_t writeSpecial(uint32_t address, uint32_t value, Endpoint from, SimTime now);
    uint16_t partitionWrite(uint32_t value);
    void stateCommand(uint32_t command, SimTime now);
    void streamControl(uint32_t value, SimTime now);
    void startPlayback(SimTime now);
    void showFrame();
    void stopPlayback(SimTime now);
    RecordPlan plan() const;
    void syncRecording(SimTime now);
    void syncProgress(SimTime now);
    void checkHeartbeat(SimTime now);
    void log(const std::string& line) const;

    CameraConfig config_;
    Logger logger_;
    RegisterFile regs_;
    CaptureRules rules_;
    CameraMemory memory_;
    DocumentChannels documents_;
    CameraSave save_;
    Recorder recorder_;
    FrameStore frames_;
    Playback playback_;
    ControlPrivilege privilege_;
    uint32_t shownRecording_ = 0; // serial of the recording the registers describe
    std::function<void(uint32_t, uint32_t)> observer_;
};

} // namespace hxsim
