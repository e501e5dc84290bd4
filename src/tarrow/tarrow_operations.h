// Tarrow operations: the first camera family, whose settings are plain camera registers cached
// in register groups.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "camera/camera_operations.h"
#include "hlv_thread/log.h"
#include "registers/register_map.h"
#include "tarrow/tarrow_capture.h"
#include "tarrow/tarrow_commands.h"
#include "tarrow/tarrow_pollers.h"
#include "tarrow/tarrow_records.h"
#include "tarrow/tarrow_register_groups.h"
#include "tarrow/tarrow_restart_watch.h"
#include "tarrow/tarrow_streaming.h"

class HxStreamOperations;

// A facade over the family's collaborators: the register groups (tarrow_register_groups.h), the
// table of cached records that drives change events, cache refreshes and a new subscriber's
// snapshot (tarrow_records.h), the poller control (tarrow_pollers.h) and the stream flows
// (tarrow_streaming.h). Capture settings, analog gain, battery, camera information and the
// control privilege are served in tarrow_operations.cpp; commands, state and playback,
// subscriptions and notifications, and the download, input/output and stream settings in
// tarrow_*.cpp beside it.
class TarrowOperations : public CameraOperations {
public:
    TarrowOperations(uint32_t address, std::shared_ptr<RegisterChannel> channel,
                     std::unique_ptr<SensorOperations> sensor);
    ~TarrowOperations() override;

    void getAnalogGain(HX_ANALOG_GAIN* out) override;
    void setAnalogGain(HX_ANALOG_GAIN* in) override;
    void getBatteryInfo(HX_BATTERY_INFO* out) override;
    void getCameraInformation(HX_CAMERA_INFORMATION* out) override;
    void getCameraMedia(char* jsonData, uint32_t* jsonLength) override;
    void getLensStatus(HX_LENS_STATUS* out) override;
    bool getTemperature(HX_TEMPERATURE* out) override;
    void getCaptureSettings(HX_CAPTURE_SETTINGS* out) override;
    void setCaptureSettings(HX_CAPTURE_SETTINGS* inOut) override;
    void getDownloadSettings(HX_DOWNLOAD_SETTINGS* out) override;
    void setDownloadSettings(HX_DOWNLOAD_SETTINGS* inOut) override;
    void getExternalIOSettings(HX_IO_SETTINGS* out) override;
    void setExternalIOSettings(HX_IO_SETTINGS* inOut) override;
    void setLensSettings(HX_LENS_SETTINGS* in) override;
    void getPlaybackSettings(HX_PLAYBACK_SETTINGS* out) override;
    void setPlaybackSettings(HX_PLAYBACK_SETTINGS* inOut) override;
    void getStreamSettings(HX_STREAM_SETTINGS* out) override;
    void setStreamSettings(HX_STREAM_SETTINGS* inOut) override;
    void startCameraSave(const char* json) override;
    bool lockCamera() override;
    bool unlockCamera() override;
    void sendCommand(HX_COMMAND* inOut) override;
    void getCommand(HX_COMMAND* out) override;
    void handleSubscription(SubscriptionMessage& message) override;
    void handleNotification(HLV_THREAD::Message& message) override;
    void handleStreaming(HLV_THREAD::Message* message) override;
    void streamShutdown() override;
    void cameraReturned() override;
    void cameraMayHaveRestarted() override;
    // Once per heartbeat period while subscribed or streaming (service thread): reads back what
    // the host set up on the camera, and sets everything up again when the camera has lost it.
    void checkForRestart();
    // Starts the restart watch on the camera's service thread, if it does not run yet.
    void watchForRestart();
    bool holdWhileAway(HLV_THREAD::Message* message) override;
    // The camera's live, playback and download flows (tarrow_streaming.cpp); service thread only.
    TarrowStreaming& streaming();

    // A copy of one register group's cache (for diagnostics and tests).
    RegisterCache groupSnapshot(HX_REGISTERS::RegisterGroup group) const;

    // Pollers (tarrow_pollers.cpp). The heartbeat poller keeps a locked or streaming camera's
    // heartbeat; the progress poller follows the camera state (play mode: HX_PLAY_*).
    void startHeartBeatPoller();
    void stopHeartBeatPoller();
    void checkProgressPoller(uint32_t playMode);
    bool heartBeatPollerRunning() const;
    // The progress poller's period in microseconds, 0 when none runs.
    uint32_t progressPollerPeriod() const;

protected:
    // How the family's cameras hold frame rates: whole frames per second, or (second family)
    // fractions as well.
    virtual TARROW_CAPTURE::RateEncoding rateEncoding() const;
    // True when the camera's images arrive over UDP (first family), false over TCP.
    virtual bool streamsOverUdp() const;
    // Which register tells the play mode (tarrow_commands.cpp).
    virtual TARROW_COMMANDS::PlaybackModeSource playbackModeSource() const;
    // Adds registers to a group's cache; the next refresh reads them.
    void addToGroup(HX_REGISTERS::RegisterGroup group, uint32_t address);
    // The cached progress record, and a new one that a family computed itself (trusted from then).
    HX_PROGRESS cachedProgress() const;
    void storeProgress(const HX_PROGRESS& record);
    // The play mode the progress poller is told after a state computation (HX_PLAY_*). This
    // family always says pause, so it never polls the shown frame: a playback poller would keep
    // reading the camera every 100 ms whether anybody listens or not.
    virtual uint32_t progressPlayMode() const;
    // The play mode the camera was last seen in.
    uint32_t playMode() const;
    // Stops the restart watch, whose check reaches the family's overrides: a family's destructor
    // calls it before its own members go.
    void stopRestartWatch();

private:
    bool refreshGroup(HX_REGISTERS::RegisterGroup id);
    void refreshCaptureGroups();
    void computeCaptureLocked();
    void computeAnalogGainLocked();
    void readCapture();
    void readCaptureForValidation();
    void applyCaptureWrites(const TARROW_CAPTURE::CaptureWrites& writes);
    void confirmCaptureWrites(const RegisterPairs& written);
    std::optional<uint32_t> cachedCaptureRegister(uint32_t reg) const;
    void mergeCameraCapture(HX_CAPTURE_SETTINGS& record);
    std::string deviceVersion();
    std::string text(uint32_t address) const;
    TarrowStreaming::Hooks streamingHooks();

    // Commands, state and playback (tarrow_commands.cpp).
    void refreshStateGroup();
    void computeStateLocked();
    void computePlaybackLocked();
    uint32_t cachedStreamControl() const;
    void stepWhenStopped(const char* method);
    RegisterPairs playbackWrites(HX_PLAYBACK_SETTINGS& record, bool& step);
    bool writePlayback(const RegisterPairs& writes);
    void verifyPlayback(bool step, uint32_t frame);
    // Subscriptions and events (tarrow_notifications.cpp).
    void subscribe();
    void unsubscribe();
    std::unique_ptr<HLV_CALLBACK::CallbackRequest> lensChange();
    // The record table and the loops over it (tarrow_records.cpp).
    void buildRecords();
    const TARROW_RECORDS::Record* record(uint32_t event) const;
    std::vector<bool> refreshEveryCache();
    void postCurrentState(const std::vector<bool>& unread = {});
    uint32_t storeNotified(const RegisterPairs& pairs, uint64_t known);
    std::unique_ptr<HLV_CALLBACK::CallbackRequest> changeLocked(uint32_t event);
    bool distrustImplausibleLocked(const TARROW_RECORDS::Record& entry, const char* method);
    void postFinalProgress();
    void computeProgressLocked();
    // Download, input/output and stream settings (tarrow_*_settings.cpp).
    void computeDownloadLocked();
    void computeIoLocked();
    void computeStreamLocked();
    // While clients are subscribed, events keep a valid cache current and reads use it as it is.
    bool cacheTrusted(uint32_t valid) const;
    void refreshGroupOrThrow(HX_REGISTERS::RegisterGroup id, const char* method);
    // A setter's entry: traced, and refused (LogicError) without a record to work on.
    void enterSetter(const char* method, const void* inOut) const;
    // A setter's end: writes what was accepted in one exchange (a failure marks the record), then
    // reads the record afresh from the camera (get) and merges what it holds into the caller's.
    template <typename Record, typename Valid, typename Writes>
    void writeAndMerge(const char* method, const Writes& writes, Valid& valid, void (TarrowOperations::*get)(Record*),
                       void (*merge)(const Record&, Record&), Record& record);
    // A getter's work for a settings record computed from one group: copies the cached record out,
    // after reading the group afresh and recomputing it (computeLocked) unless trusted.
    template <typename Record, typename Valid>
    void readSettings(HX_REGISTERS::RegisterGroup group, const char* method, Valid& valid,
                      void (TarrowOperations::*computeLocked)(), const Record& cached, Record* out);

    std::unique_ptr<HxStreamOperations> streamOps_;
    // Declared after streamOps_, which it uses, so it is destroyed first.
    std::unique_ptr<TarrowStreaming> streaming_;
    TARROW_OPERATIONS::PollerControl pollers_;
    // The camera state the progress computation saw last.
    uint32_t progressState_ = 0;
    // A region was written here with binning asked for, which lifts the sensor's upper limits, so
    // the camera may hold a region beyond them (state mutex).
    bool roiBeyondSensor_ = false;

    TarrowRegisterGroups groups_;
    // Rows bound to this object's cached records (built by the constructor, then only read).
    std::vector<TARROW_RECORDS::Record> records_;
    std::map<uint32_t, std::string> texts_;
    uint8_t textCounter_ = 0;
    // Declared last, so that it stops before anything its check uses goes.
    TARROW_OPERATIONS::RestartWatch restartWatch_;
};

template <typename Record, typename Valid, typename Writes>
void TarrowOperations::writeAndMerge(const char* method, const Writes& writes, Valid& valid,
                                     void (TarrowOperations::*get)(Record*), void (*merge)(const Record&, Record&),
                                     Record& record)
{
    if (!writes.empty() && channel().writeMultiReg(writes) != 0) {
        HLV_LOG("%s: Unable to write register to the camera %s", method, name_.c_str());
        record.flags |= HX_FLAG_ERR;
    }
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        valid = 0;
    }
    Record camera{};
    (this->*get)(&camera);
    merge(camera, record);
}

template <typename Record, typename Valid>
void TarrowOperations::readSettings(HX_REGISTERS::RegisterGroup group, const char* method, Valid& valid,
                                    void (TarrowOperations::*computeLocked)(), const Record& cached, Record* out)
{
    if (!cacheTrusted(valid)) {
        refreshGroupOrThrow(group, method);
        std::lock_guard<std::mutex> lock(stateMutex_);
        (this->*computeLocked)();
        // Without subscribers nothing reports changes, so every read goes to the camera.
        valid = subscriptionCount_ != 0 ? 1 : 0;
    }
    std::lock_guard<std::mutex> lock(stateMutex_);
    if (out != nullptr)
        *out = cached;
}
