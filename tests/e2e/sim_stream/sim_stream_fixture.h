// What the stream tests share: one stand-in camera on 127.0.0.2 recording small frames a
// hundred times faster than real time, and the register writes a host makes around a stream.
#pragma once

#include <gtest/gtest.h>

#include "registers/register_map.h"
#include "sim/net/cluster.h"
#include "stream_client.h"

namespace hxsim_test {

inline constexpr uint32_t kHost = 0x7F000001;   // 127.0.0.1
inline constexpr uint32_t kCamera = 0x7F000002; // 127.0.0.2
inline constexpr uint32_t kDoNotFragment = 0x40000000;
// 256 x 64 pixels of 8 bits: 16 KiB frames, twelve payload packets of a 1500-byte stream.
inline const hxsim::FrameGeometry kGeometry{256, 64, 16, 256 * 64};

inline hxsim::Endpoint controlOf(uint32_t address)
{
    return hxsim::Endpoint{address, halvex::wire::kControlPort};
}

inline hxsim::CameraConfig streamCamera()
{
    hxsim::CameraConfig config;
    config.address = kCamera;
    config.timeScale = 100;
    return config;
}

// Small frames at 100 frames per second, a heartbeat long enough for the test, and the stream
// channel to `port` with 1500-byte packets.
inline void prepareStream(ControlClient& host, uint16_t port, uint32_t camera = kCamera)
{
    using namespace halvex::registers;
    ASSERT_EQ(host.write(controlOf(camera), {{GIGE_REG_HEARTBEAT_TIMEOUT, 3600000},
                                             {GIGE_REG_ROI_WIDTH, kGeometry.width},
                                             {GIGE_REG_ROI_HEIGHT, kGeometry.height},
                                             {GIGE_REG_FRAME_RATE, 100},
                                             {GIGE_REG_SCDA0, kHost},
                                             {GIGE_REG_SCP0, port},
                                             {GIGE_REG_SCPS0, 1500 | kDoNotFragment},
                                             {GIGE_REG_SCPD0, 20}}),
              0);
}

// Records `frames` frames (all after the trigger) and waits for the camera to report review.
inline void record(ControlClient& host, uint32_t frames, uint32_t camera = kCamera)
{
    using namespace halvex::registers;
    UdpPort events;
    ASSERT_EQ(host.write(controlOf(camera), {{GIGE_REG_RECORD_MODE, 2},
                                             {GIGE_REG_BROC_LENGTH, frames},
                                             {GIGE_REG_TRIGGER_POSITION, 0x80000000},
                                             {GIGE_REG_MCP, events.port()},
                                             {GIGE_REG_MCDA, kHost}}),
              0);
    ASSERT_EQ(host.write(controlOf(camera), {{GIGE_REG_STATE_COMMAND, 2}}), 0);
    ASSERT_EQ(host.write(controlOf(camera), {{GIGE_REG_STATE_COMMAND, 4}}), 0);
    const auto deadline = Clock::now() + 5s;
    while (auto datagram = events.receive(deadline)) {
        const auto event = halvex::wire::decodeEventData(datagram->bytes);
        if (event.check == halvex::wire::EventCheck::Ok && event.event.eventId == GIGE_REG_CAMERA_STATE &&
            event.event.value == 8) {
            ASSERT_EQ(host.write(controlOf(camera), {{GIGE_REG_MCP, 0}}), 0);
            return;
        }
    }
    FAIL() << "the camera did not reach review";
}

} // namespace hxsim_test
