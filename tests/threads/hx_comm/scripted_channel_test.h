// The fixture of the control channel's tests against one scripted camera: each test leaves the
// channel, the period scale and the trace mask as it found them.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "control/hx_comm.h"
#include "hlv_thread/log.h"
#include "hlv_thread/period_scale.h"
#include "scripted_camera.h"

namespace hx_comm_test {

class ScriptedChannelTest : public ::testing::Test {
protected:
    // A test whose script refers to its locals ends with answerNormally().
    void TearDown() override
    {
        camera.answerNormally();
        halvex::control::HxComm::recycle(cam);
        halvex::thread::setPeriodScale(1.0);
        halvex::thread::setTraceMask(savedMask);
    }

    ScriptedCamera camera{"127.0.0.2"};
    const uint32_t cam = camera.address();
    const uint32_t savedMask = halvex::thread::traceMask();
};

} // namespace hx_comm_test
