// Camera save of the stand-in camera: request, progress and end in the save registers.
#include "sim/device/camera_save.h"

#include <cerrno>
#include <memory>

#include <json/json.h>

#include "sim/registers/camera_registers.h"

namespace hxsim {

using namespace halvex::sim;

namespace {

constexpr uint32_t kSaveIdle = 1u << 31;
constexpr uint32_t kSaveError = 1u << 30;

// The frame count of a request, or 0 when the text is no request.
uint32_t frameCount(const std::string& text, std::string& path)
{
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value request;
    if (!reader->parse(text.data(), text.data() + text.size(), &request, nullptr) || !request.isObject()) {
        return 0;
    }
    const Json::Value& count = request["frame_count"];
    path = request["dstpath"].isString() ? request["dstpath"].asString() : std::string();
    return count.isUInt() ? count.asUInt() : 0;
}

} // namespace

void CameraSave::start(const std::string& text, SimTime now, RegisterFile& regs)
{
    std::string path;
    frames_ = frameCount(text, path);
    regs.set(GIGE_REG_PROGRESS, 0);
    if (frames_ == 0 || path.empty()) {
        regs.set(GIGE_REG_SAVE_STATE, kSaveError | EINVAL);
        return;
    }
    if (path.rfind("/missing", 0) == 0) {
        regs.set(GIGE_REG_SAVE_STATE, kSaveError | ENOENT);
        return;
    }
    running_ = true;
    started_ = now;
    regs.set(GIGE_REG_SAVE_STATE, 0);
}

void CameraSave::advance(SimTime now, RegisterFile& regs)
{
    if (pending_) {
        start(*pending_, now, regs);
        pending_.reset();
    }
    if (!running_) {
        return;
    }
    const uint64_t saved = std::min<uint64_t>(framesIn(now - started_, kFramesPerSecond), frames_);
    regs.set(GIGE_REG_PROGRESS, static_cast<uint32_t>(saved));
    if (saved == frames_) {
        running_ = false;
        regs.set(GIGE_REG_SAVE_STATE, kSaveIdle);
        return;
    }
    regs.set(GIGE_REG_SAVE_STATE, static_cast<uint32_t>(saved * 100 / frames_));
}

SimTime CameraSave::nextDeadline() const
{
    if (pending_) {
        return SimTime::zero();
    }
    return running_ ? started_ + framesDuration(frames_, kFramesPerSecond) : kNever;
}

} // namespace hxsim
