// One row of the fault matrix run against its stand-in camera: the camera added by address,
// then settings round trips, a record/trigger/review cycle, a download and a live stream, or a
// silence and what flows again after it, each call bounded and each success checked against
// the camera's own registers.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include <hx/hx.h>

#include "fault_host.h"
#include "sim/faults/fault_injector.h"
#include "sim/net/cluster.h"
#include "small_recording.h"

namespace fault_bench {

using namespace std::chrono_literals;

// The library's periods run at a tenth: a request ages out after 500 ms, discovery polls every
// 500 ms and gives a silent camera up after 3 s.
inline constexpr double kPeriodScale = 0.1;
inline constexpr auto kAgeOut = 500ms;
// A settings call makes a few requests in a row, each of which may age out once.
inline constexpr auto kCallLimit = 8 * kAgeOut;
inline constexpr auto kHangBound = 3 * kCallLimit;
inline constexpr unsigned kRoundTrips = 8;
inline constexpr uint32_t kWidth = halvex::bench::kSmallWidth;
inline constexpr uint32_t kHeight = halvex::bench::kSmallHeight;
inline constexpr uint32_t kFrames = halvex::bench::kSmallFrames;
inline constexpr uint32_t kLiveFrames = 20;
inline constexpr auto kStreamLimit = 4s;
inline constexpr auto kRecoveryLimit = 10s;
inline constexpr auto kVanishAt = 1500ms;
inline constexpr auto kVanishFor = 4000ms; // beyond the 3 s after which the library gives the camera up

// One row: the camera, its handle and what was seen.
class Run {
public:
    Run(hxsim::Camera& camera, uint64_t seed) : camera_(camera), random_(seed) {}

    Tally tally;

    bool added() const { return handle_ != 0; }
    bool add();
    void settings();
    bool record();
    // One download of the recording; with `untilWhole`, frames that came back incomplete or not
    // at all are fetched again until none is left or a pass brings none of them whole.
    void download(bool untilWhole = false);
    // Exposure writes and reads (kRoundTrips, or `count`), each timed.
    void settings(unsigned count);
    void live();
    void recovery(bool callsDuringSilence);
    void finish();

private:
    HX_STATUS call(const char* what, std::function<HX_STATUS()> body)
    {
        return host_.bounded(tally, what, kHangBound, std::move(body));
    }
    void falseSuccess(const std::string& what)
    {
        ++tally.falseSuccess;
        std::fprintf(stderr, "faults: %s: %s\n", address_.c_str(), what.c_str());
    }
    // Moves a success the library qualified with an error flag to the failures.
    void refused()
    {
        --tally.succeeded;
        ++tally.failed;
    }
    bool command(uint32_t code, uint32_t& state);
    bool writeCapture(const std::function<void(HX_CAPTURE_SETTINGS&)>& fill, HX_CAPTURE_SETTINGS& out);
    void lendLive(std::size_t count);
    // Classifies a returned buffer against `expected`; true when it was an image.
    bool classify(const HX_READ_STREAM& record, const std::vector<uint8_t>& expected);
    bool waitForState(uint32_t wanted, Clock::time_point deadline);
    // Lends buffers for frames first..last, starts the download and classifies what comes back;
    // frames that came back whole go into `whole`. False when the download could not start.
    bool downloadPass(uint32_t first, uint32_t last, std::set<uint32_t>& whole);
    bool eventsFlow(Clock::time_point deadline);

    hxsim::Camera& camera_;
    hxsim::FaultRandom random_;
    Host& host_ = Host::instance();
    HX_CAMERA_HANDLE handle_ = 0;
    std::string address_ = hxsim::dotted(camera_.config().address);
};

} // namespace fault_bench
