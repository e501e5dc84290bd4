// What the stand-in camera's stream control register and playback direction words mean.
#pragma once

#include <cstdint>

namespace hxsim {

namespace StreamControl {
constexpr uint32_t kStop = 0;
constexpr uint32_t kLive = 1;
constexpr uint32_t kPlay = 2;
constexpr uint32_t kDownload = 3;
constexpr uint32_t kShow = 4;
constexpr uint32_t kPause = 16;
constexpr uint32_t kResume = 32;
} // namespace StreamControl

// The top bit of a playback step or direction word: frames run backwards.
constexpr uint32_t kReverse = 1u << 31;

} // namespace hxsim
