// Reading the stream settings out of a camera.
#include "sim/stream/stream_settings.h"

#include <algorithm>
#include <cmath>

#include "sim/device/camera_device.h"
#include "sim/registers/camera_registers.h"

namespace hxsim {

using namespace halvex::sim;

StreamSettings readStreamSettings(const CameraDevice& device, const CaptureRules& rules)
{
    const RegisterFile& regs = device.registers();
    StreamSettings settings;
    settings.streamControl = regs.get(GIGE_REG_STREAM_CONTROL);
    settings.destination = Endpoint{regs.get(GIGE_REG_SCDA0), static_cast<uint16_t>(regs.get(GIGE_REG_SCP0))};
    settings.packetSize = regs.get(GIGE_REG_SCPS0) & 0xFFFF;
    settings.packetDelayMicros = regs.get(GIGE_REG_SCPD0);
    settings.firstFrame = regs.get(GIGE_REG_DOWNLOAD_START);
    settings.lastFrame = regs.get(GIGE_REG_DOWNLOAD_END);
    settings.currentFrame = regs.get(GIGE_REG_DOWNLOAD_E918);
    settings.playbackStep = regs.get(GIGE_REG_DOWNLOAD_E92C);
    settings.playbackRate = regs.get(GIGE_REG_DOWNLOAD_E930);
    settings.liveFrameRate = static_cast<uint32_t>(std::max(1.0, std::floor(rules.frameRate(regs))));
    settings.liveGeometry = FrameGeometry{regs.get(GIGE_REG_ROI_WIDTH), regs.get(GIGE_REG_ROI_HEIGHT),
                                          regs.get(GIGE_REG_PIXEL_FORMAT), rules.frameBytes(regs)};
    if (device.state() == CameraState::Review) {
        settings.recording = device.frames().recording();
    }
    return settings;
}

bool needsAttention(const StreamSettings& before, const StreamSettings& after)
{
    return before.streamControl != after.streamControl || before.destination != after.destination ||
           before.recordingSerial() != after.recordingSerial() || before.liveFrameRate != after.liveFrameRate ||
           before.silent != after.silent;
}

} // namespace hxsim
