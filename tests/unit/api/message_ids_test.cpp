// The identifiers of messages that cross between components: each layer names its own, so only
// here are they seen together. A new cross-component identifier joins the list below.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>

#include "callback/callback_message_ids.h"
#include "camera/camera_message_ids.h"
#include "common/message_id_ranges.h"
#include "control/control_message_ids.h"
#include "discovery/discovery_message_ids.h"
#include "hlv_thread/message.h"

namespace {

namespace ids = halvex::message_ids;

const std::map<std::string, uint32_t> crossing = {
    {"CALLBACK_EVENT_MSG", ids::CALLBACK_EVENT_MSG},
    {"CALLBACK_REGISTER_MSG", ids::CALLBACK_REGISTER_MSG},
    {"CALLBACK_SUBSCRIBE_MSG", ids::CALLBACK_SUBSCRIBE_MSG},
    {"STREAM_CONTROL_MSG", ids::STREAM_CONTROL_MSG},
    {"CAM_SUBSCRIBE_MSG", ids::CAM_SUBSCRIBE_MSG},
    {"CAM_SETTINGS_MSG", ids::CAM_SETTINGS_MSG},
    {"DOWNLOAD_STREAM_MSG", ids::DOWNLOAD_STREAM_MSG},
    {"PLAYBACK_STREAM_MSG", ids::PLAYBACK_STREAM_MSG},
    {"LIVE_STREAM_MSG", ids::LIVE_STREAM_MSG},
    {"NOTIFICATION_MSG", ids::NOTIFICATION_MSG},
    {"CAMERA_RETURNED_MSG", ids::CAMERA_RETURNED_MSG},
    {"CAMERA_ANSWERS_AFTER_TIME_OUT_MSG", ids::CAMERA_ANSWERS_AFTER_TIME_OUT_MSG},
    {"DISCOVERY_REMOVE_CAMERA_MSG", ids::DISCOVERY_REMOVE_CAMERA_MSG},
};

// A thread that takes messages from several components tells them apart by identifier alone, so
// two layers picking the same number would hand one message to the other's handler.
TEST(MessageIds, NoTwoLayersShareAnIdentifier)
{
    std::map<uint32_t, std::string> byValue;
    for (const auto& [name, value] : crossing) {
        const auto [earlier, fresh] = byValue.emplace(value, name);
        EXPECT_TRUE(fresh) << name << " has the value of " << earlier->second;
    }
}

// Below the range are the framework's own messages (HALT among them); from INTERNAL_START on a
// value means something else in every thread class.
TEST(MessageIds, CrossingIdentifiersLieBetweenTheFrameworksAndThePrivateOnes)
{
    for (const auto& [name, value] : crossing) {
        EXPECT_GE(value, uint32_t{halvex::thread::FIRST_USER_MESSAGE}) << name;
        EXPECT_LT(value, uint32_t{ids::INTERNAL_START}) << name;
    }
}

} // namespace
