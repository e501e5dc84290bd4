// Morvane operations: the second camera family, built on the shared register-based family.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include <hlv_thread/log_label.h>

#include "family/family_operations.h"
#include "morvane/morvane_lens.h"

namespace halvex::morvane {

// The family differs from the first where its capture settings differ (frame rates may be
// fractional), in its TCP stream, and in the JSON texts it exchanges through memory registers:
// lens and temperatures (morvane_lens.cpp), camera save and media (morvane_save.cpp).
// Threads: as the first family; the JSON operations run on API callers' threads.
class MorvaneOperations : public family::FamilyOperations {
    HLV_LOG_CLASS(MorvaneOperations);

public:
    MorvaneOperations(uint32_t address, std::shared_ptr<control::RegisterChannel> channel,
                      std::unique_ptr<sensors::SensorOperations> sensor);
    ~MorvaneOperations() override;

    // Lens and temperatures (morvane_lens.h).
    void getLensStatus(HX_LENS_STATUS* out) override { lens_.getLensStatus(out); }
    void setLensSettings(HX_LENS_SETTINGS* in) override { lens_.setLensSettings(in); }
    bool getTemperature(HX_TEMPERATURE* out) override { return lens_.getTemperature(out); }

    // Camera save (morvane_save.cpp): checks the host's JSON settings, writes the comment and
    // JPEG quality they carry, then the save request; throws when nothing was started.
    void startCameraSave(const char* json) override;
    // Copies the camera's media text (read once, then cached) into `jsonData`, NUL-terminated
    // within *jsonLength bytes, and sets *jsonLength to the text's full length.
    void getCameraMedia(char* jsonData, uint32_t* jsonLength) override;
    // While a save runs: its progress from the save state and progress register values into
    // `record`; false (record untouched) when no save runs. A failed save is cleared in the
    // camera; a failed or finished one ends the save.
    bool computeSaveProgress(uint32_t saveState, uint32_t cameraProgress, HX_PROGRESS& record);
    bool saving() const { return saving_; }
    // Save progress notifications (from the save's poller) become progress events for the
    // subscribed clients; every other notification is the shared family's. Service thread.
    void handleNotification(thread::Message& message) override;

private:
    uint32_t lastSaveStateValue() const;
    void startSavePoller();
    void stopSavePoller();

    // Guards this family's own state below; taken last, never held while anything else is taken.
    mutable std::mutex stateLock_;
    // The running save (guarded by stateLock_, except the flag).
    std::atomic<bool> saving_{false};
    uint32_t lastSaveState_ = 0x80000000;
    uint32_t saveFrameCount_ = 0;
    std::string mediaText_;
    bool mediaValid_ = false;
    mutable std::mutex savePollerLock_;
    MorvaneLens lens_;
    std::unique_ptr<family::pollers::ProgressPoller> savePoller_;
};

} // namespace halvex::morvane
