// One stand-in camera of the soak, in a process of its own, and what a lab does with it all day:
// live started and stopped, settings written and read back, recordings made and downloaded, and
// the camera killed and started again on the same address.
#pragma once

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <hx/hx.h>

#include "soak_host.h"
#include "soak_process.h"

namespace halvex::bench {

// What went wrong so far, over every camera.
struct SoakTally {
    unsigned long cycles = 0;
    unsigned lostEvents = 0;       // change events, images or frames that never arrived
    unsigned failedRecoveries = 0; // restarts after which the camera did not work again in time
    unsigned failedCalls = 0;      // calls that failed or answered wrongly with the camera up
};

class SoakCamera {
public:
    SoakCamera(SoakHost& host, const std::string& hxsim, uint32_t address, const std::string& model,
               const std::string& logPath);

    // Starts the stand-in, adds it by address, subscribes to it and makes its frames small.
    bool begin();
    void liveCycle(SoakTally& tally);
    void settingsRoundTrip(SoakTally& tally);
    void recordAndDownload(SoakTally& tally);
    // Kills the stand-in and starts it again; with `outlast`, only after the library has given the
    // camera up. The camera must then answer, announce changes and stream again.
    void restart(SoakTally& tally, bool outlast);
    void end();

private:
    using Record = std::unique_ptr<HX_READ_STREAM>;

    void fail(SoakTally& tally, const std::string& what);
    bool smallFrames();
    bool writeExposure(uint32_t exposure, HX_CAPTURE_SETTINGS& answer);
    bool command(uint32_t code, uint32_t& state);
    bool waitForReview();
    // Takes back what the library has given back so far, without waiting.
    void collect();
    void keep(HX_READ_STREAM* record);
    // Live on until `wanted` whole images came (false when none came in time), then off.
    bool liveImages(unsigned wanted);
    bool startDownload();
    unsigned downloadFrames();

    SoakHost& host_;
    std::string address_;
    StandInProcess process_;
    HX_CAMERA_HANDLE camera_ = 0;
    std::minstd_rand random_;
    std::vector<Record> records_; // every record, owned for the whole run
    std::vector<std::unique_ptr<uint8_t[]>> memory_;
    std::vector<HX_READ_STREAM*> idleLive_;
    std::vector<HX_READ_STREAM*> idleDownload_;
};

} // namespace halvex::bench
