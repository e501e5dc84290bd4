// Tarrow operations: the first camera family, whose settings are plain camera registers cached
// in register groups.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "camera_operations.h"
#include "register_map.h"
#include "tarrow_capture.h"

// Capture settings, analog gain, battery, camera information and the control privilege are
// served here; the other records and the command, subscription, notification and stream flows
// arrive with their own components and fail with a clear log line until then.
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

    // A copy of one register group's cache (for diagnostics and tests).
    RegisterCache groupSnapshot(HX_REGISTERS::RegisterGroup group) const;

protected:
    // How the family's cameras hold frame rates: whole frames per second, or (second family)
    // fractions as well.
    virtual TARROW_CAPTURE::RateEncoding rateEncoding() const;
    // Adds registers to a group's cache; the next refresh reads them.
    void addToGroup(HX_REGISTERS::RegisterGroup group, uint32_t address);

private:
    struct Group {
        RegisterCache registers;
        uint8_t counter = 0;
    };

    Group& group(HX_REGISTERS::RegisterGroup id);
    const Group& group(HX_REGISTERS::RegisterGroup id) const;
    bool refreshGroup(HX_REGISTERS::RegisterGroup id);
    void refreshCaptureGroups();
    void computeCaptureLocked();
    void computeAnalogGainLocked();
    void applyCaptureWrites(HX_CAPTURE_SETTINGS& record, const TARROW_CAPTURE::CaptureWrites& writes);
    void mergeCameraCapture(HX_CAPTURE_SETTINGS& record);
    std::string deviceVersion();
    std::string text(uint32_t address) const;
    [[noreturn]] void notAvailableYet(const char* method) const;

    std::array<Group, 10> groups_;
    std::map<uint32_t, std::string> texts_;
    uint8_t textCounter_ = 0;
};
