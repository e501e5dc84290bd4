// Morvane camera save: starting a save on the camera's own media, the camera's media text, and
// the save's progress.
#include <algorithm>
#include <cstring>
#include <system_error>

#include <hlv_thread/log.h>
#include <hlv_thread/log_label.h>
#include <hlv_thread/note.h>
#include <hlv_thread/period_scale.h>

#include "camera/camera_services.h"
#include "control/hx_notification.h"
#include "family/commands.h"
#include "family/notifications.h"
#include "family/pollers.h"
#include "morvane/morvane_channels.h"
#include "morvane/morvane_documents.h"
#include "morvane/morvane_operations.h"
#include "morvane/morvane_save.h"

namespace halvex::morvane {

using camera::CameraServices;
using control::RegisterChannel;
using family::FamilyOperations;

using namespace registers;

namespace {

// Writes a text the camera takes before a save; false (after the log line) when it failed.
bool writeComment(RegisterChannel& channel, const std::string& text, const char* method)
{
    // A comment longer than one memory write is refused as the camera would refuse it.
    const uint32_t result =
        text.size() > documents::kMaxSentText ? 8 : channels::writeText(channel, GIGE_REG_SAVE_COMMENT, text);
    if (result != 0)
        HLV_LOG("%s: Unable to write the comment to the camera! [%d]", method, static_cast<int>(result));
    return result == 0;
}

} // namespace

void MorvaneOperations::startCameraSave(const char* json)
{
    const char* method = HLV_LABEL("startCameraSave");
    HLV_TRACE(thread::TRACE_OPERATIONS, "%s(%s)", method, cameraName().c_str());
    const std::string text = json == nullptr ? std::string() : std::string(json);
    std::optional<save::SaveRequest> save;
    try {
        Json::Value settings;
        if (documents::parse(text, settings, method)) {
            HLV_TRACE(thread::TRACE_OPERATIONS, "%s: Incoming settings='%s'", method, text.c_str());
            save = save::translate(settings, sensor().isColour(), method);
        }
    } catch (const std::exception& error) {
        HLV_LOG("%s(%s): Caught an exception: %s", method, cameraName().c_str(), error.what());
    }
    if (!save)
        HLV_THROW(thread::RuntimeError, "%s(%s): The camera save was not started.", method, cameraName().c_str());
    if (save->comment && !writeComment(channel(), *save->comment, method))
        HLV_THROW(thread::RuntimeError, "%s(%s): The camera save was not started.", method, cameraName().c_str());
    if (save->jpegQuality > 0) {
        if (const uint32_t result = channel().writeReg(GIGE_REG_DOWNLOAD_C0AC, save->jpegQuality); result != 0) {
            HLV_LOG("%s: Unable to write the JPEG quality to the camera! [%d]", method, static_cast<int>(result));
            HLV_THROW(thread::RuntimeError, "%s(%s): The camera save was not started.", method, cameraName().c_str());
        }
    }
    const std::string request = documents::write(save->request);
    {
        std::lock_guard lock(stateLock_);
        saveFrameCount_ = save->frameCount;
        lastSaveState_ = save::kSaveIdle;
        saving_ = true;
    }
    HLV_TRACE(thread::TRACE_OPERATIONS, "%s: json='%s'", method, request.c_str());
    const uint32_t result = request.size() > documents::kMaxSentText
                                ? 6
                                : channels::writeText(channel(), GIGE_REG_SAVE_REQUEST_JSON, request);
    if (result != 0) {
        saving_ = false;
        HLV_LOG("%s(%s): writeMem() failed [0x%x]", method, cameraName().c_str(), result);
        HLV_THROW(thread::RuntimeError, "%s(%s): The camera save was not started.", method, cameraName().c_str());
    }
    startSavePoller();
}

void MorvaneOperations::getCameraMedia(char* jsonData, uint32_t* jsonLength)
{
    const char* method = HLV_LABEL("getCameraMedia");
    HLV_TRACE(thread::TRACE_OPERATIONS, "%s(%s)", method, cameraName().c_str());
    if (jsonData == nullptr || jsonLength == nullptr || *jsonLength == 0)
        HLV_THROW(thread::RuntimeError, "%s(%s): No buffer for the media information.", method, cameraName().c_str());
    std::unique_lock lock(stateLock_);
    if (!mediaValid_) {
        lock.unlock();
        const channels::ChunkedText read = channels::readChunkedText(channel(), GIGE_REG_MEDIA_INFO_JSON);
        if (read.failure == channels::ChunkedFailure::Rewind)
            HLV_THROW(thread::RuntimeError, "%s: Unable to reset the media information register! [%d]", method,
                      static_cast<int>(read.result));
        if (read.failure != channels::ChunkedFailure::None)
            HLV_THROW(thread::RuntimeError, "%s: Unable to read the media information from the camera! [%d]", method,
                      static_cast<int>(read.result));
        lock.lock();
        mediaText_ = read.text;
        mediaValid_ = true;
    }
    const std::size_t copied = std::min<std::size_t>(mediaText_.size(), *jsonLength - 1);
    std::memcpy(jsonData, mediaText_.data(), copied);
    jsonData[copied] = '\0';
    *jsonLength = static_cast<uint32_t>(mediaText_.size());
}

bool MorvaneOperations::computeSaveProgress(uint32_t saveState, uint32_t cameraProgress, HX_PROGRESS& record)
{
    const char* method = HLV_LABEL("computeProgress");
    if (!saving_)
        return false;
    HLV_TRACE(thread::TRACE_OPERATIONS, "%s(%s): saving:%d, GIGE_REG_SAVE_STATE=0x%08x, GIGE_REG_PROGRESS=0x%08x",
              method, cameraName().c_str(), 1, saveState, cameraProgress);
    // A value read before the camera took the request still says idle, so an idle save state
    // ends the save only once the camera itself confirms it.
    if ((saveState & save::kSaveIdle) != 0 && channel().readReg(GIGE_REG_SAVE_STATE, saveState) != 0) {
        HLV_LOG("%s: Unable to read the GIGE_REG_SAVE_STATE register.", method);
        saveState = lastSaveStateValue();
    }
    const save::SaveStatus status = save::interpret(saveState);
    switch (status.kind) {
    case save::SaveStatus::Kind::Failed:
        channel().writeReg(GIGE_REG_SAVE_STATE, save::kSaveError);
        HLV_LOG("%s(%s): Camera reported an error: %d/%s", method, cameraName().c_str(), static_cast<int>(status.value),
                std::error_code(static_cast<int>(status.value), std::generic_category()).message().c_str());
        break;
    case save::SaveStatus::Kind::Idle:
        HLV_TRACE(thread::TRACE_OPERATIONS, "%s(%s): Save IDLE", method, cameraName().c_str());
        break;
    case save::SaveStatus::Kind::Running:
        HLV_TRACE(thread::TRACE_OPERATIONS, "%s(%s): Save progress: %d", method, cameraName().c_str(),
                  static_cast<int>(status.value));
        break;
    }
    std::lock_guard lock(stateLock_);
    lastSaveState_ = saveState;
    saving_ = status.kind == save::SaveStatus::Kind::Running;
    save::fillProgress(status, saveFrameCount_, cameraProgress, record);
    return true;
}

void MorvaneOperations::handleNotification(thread::Message& message)
{
    auto* notification = dynamic_cast<control::NotificationMessage*>(&message);
    const bool fromSave = notification != nullptr && !notification->pairs.empty() &&
                          std::all_of(notification->pairs.begin(), notification->pairs.end(), [](const auto& pair) {
                              return pair.address == GIGE_REG_SAVE_STATE || pair.address == GIGE_REG_PROGRESS;
                          });
    if (!fromSave) {
        FamilyOperations::handleNotification(message);
        return;
    }
    uint32_t saveState = save::kSaveIdle;
    uint32_t cameraProgress = 0;
    for (const auto& [reg, value] : notification->pairs)
        (reg == GIGE_REG_SAVE_STATE ? saveState : cameraProgress) = value;
    HX_PROGRESS record = progress_.cachedProgress();
    if (computeSaveProgress(saveState, cameraProgress, record)) {
        progress_.storeProgress(record);
        family::events::post(HX_PROGRESS_UPDATE, cameraAddress(), record);
    }
    if (!saving_)
        stopSavePoller();
}

void MorvaneOperations::startSavePoller()
{
    const char* method = HLV_LABEL("checkProgressPoller");
    std::lock_guard lock(savePollerLock_);
    if (savePoller_)
        return;
    try {
        savePoller_ = std::make_unique<family::pollers::ProgressPoller>(
            cameraAddress(), family::commands::STATE_REVIEW, channel(),
            thread::scaledMicroseconds(family::pollers::ProgressPoller::RECORDING_PERIOD_MICROSECONDS));
        savePoller_->setRegisters({GIGE_REG_SAVE_STATE, GIGE_REG_PROGRESS});
        if (!savePoller_->start(CameraServices::find(cameraAddress())))
            HLV_TRACE(thread::TRACE_OPERATIONS, "%s(%s): No service thread to poll on.", method, cameraName().c_str());
        HLV_TRACE(thread::TRACE_OPERATIONS, "%s(%s): Start the poller.", method, cameraName().c_str());
    } catch (const std::exception& error) {
        HLV_LOG("%s: Unable to allocate our progress poller object (%s)", method, error.what());
        savePoller_.reset();
    }
}

// The poller ticks on the service thread, which may stop it as well: stopping never waits there.
void MorvaneOperations::stopSavePoller()
{
    std::unique_ptr<family::pollers::ProgressPoller> stopped;
    std::lock_guard lock(savePollerLock_);
    if (savePoller_)
        HLV_TRACE(thread::TRACE_OPERATIONS, "%s(%s): Stop the poller.", HLV_LABEL("checkProgressPoller"),
                  cameraName().c_str());
    stopped = std::move(savePoller_);
}

uint32_t MorvaneOperations::lastSaveStateValue() const
{
    std::lock_guard lock(stateLock_);
    return lastSaveState_;
}

} // namespace halvex::morvane
