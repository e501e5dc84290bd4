// Endurance run: four stand-in cameras (hxsim processes in this program's private network
// namespace, two of each family) driven through a lab's day: live started and stopped, settings
// round trips, record/download cycles and the cameras killed and started again on the same
// address, all four subscribed throughout. Prints the process's figures at the start and every
// tenth of the run and ends with one summary line; exits non-zero when memory, descriptors or
// threads grew after the warm-up, or an event was lost or a camera did not come back.
//
//   soak [--quick] [--minutes M] [--no-restarts]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <hlv_thread/period_scale.h>

#include "soak_camera.h"
#include "soak_host.h"
#include "soak_process.h"

namespace {

using namespace halvex::bench;
using namespace std::chrono_literals;

// Per tenth of the full run: 100 live starts, 5 restarts, 20 settings round trips and 2
// record/download cycles, over the four cameras in turn. --quick runs one tenth of it.
constexpr unsigned kRounds = 100;
constexpr unsigned kLivePerRound = 10;
constexpr unsigned kSettingsPerRound = 2;
constexpr unsigned kRestartEvery = 2;
constexpr unsigned kRecordEvery = 5;
constexpr long kRssSlackKiB = 1024;

// AddressSanitizer's allocator keeps a record of every new allocation stack and never gives it
// back, so its resident memory climbs for minutes whatever the library does; under it the soak
// reports the growth and LeakSanitizer judges what was kept. The plain build judges the growth.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kJudgeRss = false;
#elif defined(__has_feature)
#  if __has_feature(address_sanitizer)
constexpr bool kJudgeRss = false;
#  else
constexpr bool kJudgeRss = true;
#  endif
#else
constexpr bool kJudgeRss = true;
#endif
// Threads the library starts for a while (a download's, a reconnect's) end soon after.
constexpr unsigned kSettleTries = 25;

struct Options {
    bool quick = false;
    double minutes = -1; // by default 30, or 2 with --quick
    bool restarts = true;
};

bool parse(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) {
            options.quick = true;
        } else if (std::strcmp(argv[i], "--no-restarts") == 0) {
            options.restarts = false;
        } else if (std::strcmp(argv[i], "--minutes") == 0 && i + 1 < argc) {
            char* end = nullptr;
            options.minutes = std::strtod(argv[++i], &end);
            if (*end != '\0' || !(options.minutes >= 0 && options.minutes <= 24 * 60))
                return false;
        } else {
            return false;
        }
    }
    if (options.minutes < 0)
        options.minutes = options.quick ? 2 : 30;
    return true;
}

// The figures once what the library started for a moment has ended, or the last of a few looks.
ProcessFigures settled(const ProcessFigures& baseline)
{
    ProcessFigures now = processFigures();
    for (unsigned i = 0; i < kSettleTries && (now.fds > baseline.fds || now.threads > baseline.threads); ++i) {
        std::this_thread::sleep_for(200ms);
        now = processFigures();
    }
    return now;
}

void report(const char* when, const ProcessFigures& figures, long lent, const SoakTally& tally)
{
    std::printf("soak: %-5s rss %ld KiB, fds %ld, threads %ld, lent buffers %ld, cycles %lu, lost events %u, "
                "failed recoveries %u, failed calls %u\n",
                when, figures.rssKiB, figures.fds, figures.threads, lent, tally.cycles, tally.lostEvents,
                tally.failedRecoveries, tally.failedCalls);
    std::fflush(stdout);
}

void round(std::vector<std::unique_ptr<SoakCamera>>& cameras, unsigned index, bool restarts, SoakTally& tally)
{
    const std::size_t count = cameras.size();
    for (unsigned i = 0; i < kLivePerRound; ++i)
        cameras[(index + i) % count]->liveCycle(tally);
    for (unsigned i = 0; i < kSettingsPerRound; ++i)
        cameras[(index + i + 1) % count]->settingsRoundTrip(tally);
    if (index % kRecordEvery == 0)
        cameras[(index / kRecordEvery) % count]->recordAndDownload(tally);
    // Restart r is of camera r mod 4, beyond the give-up period in every other pass over the
    // cameras: each camera of each family is given up and back and restarted within the period.
    const unsigned restart = index / kRestartEvery;
    if (restarts && index % kRestartEvery == 1)
        cameras[restart % count]->restart(tally, (restart / count) % 2 == 0);
}

using Cameras = std::vector<std::unique_ptr<SoakCamera>>;

bool startCameras(SoakHost& host, const std::string& folder, Cameras& cameras)
{
    const char* models[] = {"hxsim qT", "hxsim qM"};
    for (uint32_t i = 0; i < 4; ++i) {
        const std::string log = folder + "/hxsim-" + std::to_string(i) + ".log";
        // 127.0.1.2, 127.0.2.2, ...: each camera's address is its own for the whole run.
        cameras.push_back(std::make_unique<SoakCamera>(host, HXSIM_PATH, 0x7F000102 + (i << 8), models[i % 2], log));
        if (!cameras.back()->begin()) {
            std::fprintf(stderr, "soak: camera %u did not start (messages in %s)\n", i, folder.c_str());
            return false;
        }
    }
    return true;
}

// Everything once on every camera before the first look, so the first tenth has seen it all; with
// restarts, also one camera of each family given up and back (its fresh control channel and
// receiver thread allocate once what every later return reuses).
void warmUp(Cameras& cameras, bool restarts, SoakTally& tally)
{
    for (auto& camera : cameras) {
        camera->liveCycle(tally);
        camera->settingsRoundTrip(tally);
        camera->recordAndDownload(tally);
    }
    if (!restarts)
        return;
    for (std::size_t i = 0; i < 2 && i < cameras.size(); ++i) {
        cameras[i]->restart(tally, true);
        cameras[i]->liveCycle(tally);
    }
}

// Runs every round in its time slot and reports each tenth; returns the figures after the warm-up.
ProcessFigures runRounds(Cameras& cameras, SoakHost& host, const Options& options, SoakTally& tally)
{
    const unsigned rounds = options.quick ? kRounds / 10 : kRounds;
    const auto slot = std::chrono::duration<double>(options.minutes * 60.0 / rounds);
    ProcessFigures baseline;
    const auto started = Clock::now();
    for (unsigned index = 0; index < rounds; ++index) {
        round(cameras, index, options.restarts, tally);
        // The rest of the round's slot passes idle, subscriptions open, as in a lab.
        std::this_thread::sleep_until(started + std::chrono::duration_cast<Clock::duration>(slot * (index + 1)));
        const unsigned done = index + 1;
        if ((done * 10) % rounds != 0)
            continue;
        // Each camera's last stream a live one, at every look alike.
        for (auto& camera : cameras)
            camera->liveCycle(tally);
        // The first tenth warms up: buffers, caches and the library's per-camera state settle.
        const ProcessFigures now = done * 10 == rounds ? processFigures() : settled(baseline);
        if (done * 10 == rounds)
            baseline = now;
        report((std::to_string(done * 100 / rounds) + "%").c_str(), now, host.lentBuffers(), tally);
    }
    return baseline;
}

bool verdict(const ProcessFigures& baseline, const ProcessFigures& last, const SoakTally& tally)
{
    const long rssGrowth = last.rssKiB - baseline.rssKiB;
    const long fdGrowth = last.fds - baseline.fds;
    const long threadGrowth = last.threads - baseline.threads;
    if (tally.failedCalls != 0)
        std::printf("soak: %u calls failed or answered wrongly (see above)\n", tally.failedCalls);
    std::printf("soak: cycles %lu, rss growth %ld KiB, fd growth %ld, thread growth %ld, lost events %u, "
                "failed recoveries %u\n",
                tally.cycles, rssGrowth, fdGrowth, threadGrowth, tally.lostEvents, tally.failedRecoveries);
    std::fflush(stdout);
    if (!kJudgeRss)
        std::printf("soak: rss growth reported, not judged, under AddressSanitizer\n");
    return (rssGrowth <= kRssSlackKiB || !kJudgeRss) && fdGrowth <= 0 && threadGrowth <= 0 && tally.lostEvents == 0 &&
           tally.failedRecoveries == 0 && tally.failedCalls == 0;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!parse(argc, argv, options)) {
        std::fprintf(stderr, "usage: soak [--quick] [--minutes M] [--no-restarts]\n");
        return 2;
    }
    std::string why;
    if (!enterPrivateNetwork(why)) {
        std::fprintf(stderr, "soak: refusing to run without a private network namespace (%s)\n", why.c_str());
        return 2;
    }
    // A lab's day compressed: requests age out after 500 ms, a silent camera is given up after 3 s.
    halvex::thread::setPeriodScale(0.1);
    const std::string folder = scratchFolder();
    // The library's log beside the stand-ins' messages: a restart makes it say a lot.
    if (folder.empty() || HX_logger_file((folder + "/library.log").c_str()) != HX_STATUS_OK) {
        std::fprintf(stderr, "soak: cannot write the library's log into %s\n", folder.c_str());
        return 1;
    }
    SoakHost host;
    if (!host.start()) {
        std::fprintf(stderr, "soak: could not register a client\n");
        return 1;
    }
    Cameras cameras;
    if (!startCameras(host, folder, cameras))
        return 1;
    SoakTally tally;
    report("start", processFigures(), host.lentBuffers(), tally);
    warmUp(cameras, options.restarts, tally);
    const ProcessFigures baseline = runRounds(cameras, host, options, tally);
    const ProcessFigures last = settled(baseline);
    for (auto& camera : cameras)
        camera->end();
    const bool passed = verdict(baseline, last, tally);
    host.stop();
    if (passed)
        removeFolder(folder);
    else
        std::fprintf(stderr, "soak: the stand-ins' messages are in %s\n", folder.c_str());
    return passed ? 0 : 1;
}
