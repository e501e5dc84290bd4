// Family operations: what the register-based camera families share, whose settings are plain
// camera registers cached in register groups.
#pragma once

#include <cstdint>
#include <memory>

#include "camera/camera_operations.h"
#include "family/family_camera.h"
#include "family/family_capture.h"
#include "family/family_commands.h"
#include "family/family_download_settings.h"
#include "family/family_identity.h"
#include "family/family_io_settings.h"
#include "family/family_progress.h"
#include "family/family_stream_settings.h"
#include "family/family_subscriptions.h"
#include "family/family_traits.h"
#include "family/pollers.h"
#include "family/records_table.h"
#include "family/register_groups.h"
#include "family/streaming.h"

namespace halvex::stream {
class HxStreamOperations;
} // namespace halvex::stream

namespace halvex::family {

// The operations interface served by a fork of small parts that share one FamilyCamera: capture
// settings and analog gain (FamilyCapture), camera information, battery and control privilege
// (FamilyIdentity), commands, state and playback (FamilyCommands), the input/output, download
// and stream settings, subscriptions and notifications (FamilySubscriptions) over the records
// table, the progress record and its poller (FamilyProgress), the heartbeat poller, and the
// stream flows (FamilyStreaming). A family names what sets it apart in its traits
// (family_traits.h) and adds what the shared parts leave open: lens, temperatures, camera save
// and media.
// Threads: as CameraOperations.
class FamilyOperations : public camera::CameraOperations {
public:
    FamilyOperations(uint32_t address, std::shared_ptr<control::RegisterChannel> channel,
                     std::unique_ptr<sensors::SensorOperations> sensor, const FamilyTraits& traits);
    ~FamilyOperations() override;

    void getAnalogGain(HX_ANALOG_GAIN* out) override;
    void setAnalogGain(HX_ANALOG_GAIN* in) override;
    void getBatteryInfo(HX_BATTERY_INFO* out) override;
    void getCameraInformation(HX_CAMERA_INFORMATION* out) override;
    void getCaptureSettings(HX_CAPTURE_SETTINGS* out) override;
    void setCaptureSettings(HX_CAPTURE_SETTINGS* inOut) override;
    void getDownloadSettings(HX_DOWNLOAD_SETTINGS* out) override;
    void setDownloadSettings(HX_DOWNLOAD_SETTINGS* inOut) override;
    void getExternalIOSettings(HX_IO_SETTINGS* out) override;
    void setExternalIOSettings(HX_IO_SETTINGS* inOut) override;
    void getPlaybackSettings(HX_PLAYBACK_SETTINGS* out) override;
    void setPlaybackSettings(HX_PLAYBACK_SETTINGS* inOut) override;
    void getStreamSettings(HX_STREAM_SETTINGS* out) override;
    void setStreamSettings(HX_STREAM_SETTINGS* inOut) override;
    bool lockCamera() override;
    bool unlockCamera() override;
    void sendCommand(HX_COMMAND* inOut) override;
    void getCommand(HX_COMMAND* out) override;
    void handleSubscription(camera::SubscriptionMessage& message) override;
    void handleNotification(thread::Message& message) override;
    void handleStreaming(thread::Message* message) override;
    void streamShutdown() override;
    void cameraReturned() override;
    void cameraMayHaveRestarted() override;
    bool holdWhileAway(thread::Message* message) override;

    // A copy of one register group's cache (for diagnostics and tests).
    registers::RegisterCache groupSnapshot(registers::RegisterGroup group) const;
    // The heartbeat and progress pollers, for diagnostics and tests.
    const pollers::PollerControl& pollers() const { return pollers_; }

protected:
    // Stops the restart watch, whose check reaches the family's overrides: a family's destructor
    // calls it first, before its own members go.
    void stopRestartWatch();

private:
    const FamilyTraits traits_;
    std::unique_ptr<stream::HxStreamOperations> streamOps_;
    // Declared after streamOps_, which it uses, so it is destroyed first; before the parts that
    // hold it, so it outlives them.
    std::unique_ptr<FamilyStreaming> streaming_;
    pollers::PollerControl pollers_;
    FamilyRegisterGroups groups_;
    FamilyCamera camera_;
    FamilyRecordsTable records_;
    FamilyIdentity identity_;
    FamilyCapture capture_;

protected:
    // The progress record, which a family that computes its own stores here.
    FamilyProgress progress_;

private:
    FamilyCommands commands_;
    FamilyIoSettings io_;
    FamilyDownloadSettings download_;
    FamilyStreamSettings stream_;
    FamilySubscriptions subscriptions_;
};

} // namespace halvex::family
