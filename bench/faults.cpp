// Fault matrix: one stand-in camera per fault (control, event and stream channels dropping,
// duplicating, reordering, corrupting or delaying what they carry; a mute camera; a camera that
// vanishes for a while), driven through the library's C interface with settings round trips, a
// record/trigger/review cycle, a download and a live stream, for each camera family. Every call
// is bounded; every success is checked against the camera's own registers; every image against
// the frame the camera drew. Runs in a private network namespace of its own.
#include <arpa/inet.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

#include <fmt/format.h>
#include <hlv_thread/period_scale.h>

#include "fault_host.h"
#include "fault_run.h"
#include "private_network.h"
#include "sim/net/cluster.h"
#include "sim/program/options.h"

namespace {

using namespace fault_bench;

std::FILE* table = stdout;

enum class Silence { None, Mute, VanishBusy, VanishQuiet };

struct Fault {
    std::string name;
    std::string setting; // for hxsim::applyFault or the stream's kinds; empty for none
    double probability = 0;
    Silence silence = Silence::None;
    // Datagrams and segments of every channel dropped at random by the kernel, outside the
    // library and the camera, at `probability`.
    bool kernelLoss = false;
};

// Settings round trips in a loss row: enough to tell 99 % from 95 %.
constexpr unsigned kLossRoundTrips = 100;

// The kernel drops UDP datagrams and TCP segments on the namespace's input hook at random (every
// datagram on loopback passes it once, in either direction). nftables works inside the private
// user namespace; the row says so where nft is missing.
class KernelLoss {
public:
    explicit KernelLoss(double probability)
    {
        const long perHundredThousand = std::lround(probability * 100000);
        // bench/hxcam_loss writes the same drop rule in shell (UDP only, in per mille).
        const std::string rule =
            "nft add table inet hx_loss && "
            "nft add chain inet hx_loss in '{ type filter hook input priority 0; }' && "
            "nft add rule inet hx_loss in meta l4proto '{ udp, tcp }' numgen random mod 100000 lt " +
            std::to_string(perHundredThousand) + " drop";
        installed_ = std::system(("(" + rule + ") >/dev/null 2>&1").c_str()) == 0;
        if (!installed_)
            std::system("nft delete table inet hx_loss >/dev/null 2>&1");
    }
    ~KernelLoss()
    {
        if (installed_)
            std::system("nft delete table inet hx_loss >/dev/null 2>&1");
    }
    KernelLoss(const KernelLoss&) = delete;
    KernelLoss& operator=(const KernelLoss&) = delete;
    bool installed() const { return installed_; }

private:
    bool installed_ = false;
};

struct Family {
    const char* name;
    const char* model;
    uint32_t firstAddress;
};

constexpr Family kFamilies[] = {{"udp", "hxsim qT", 0x7F000102}, {"tcp", "hxsim qM", 0x7F000202}};
// Rows take their camera's address in turn from a few per family. The library keeps a camera's
// control channel (and its port) until it has given the camera up, and a host has ports for ten
// cameras; an address comes round again long after its last camera was given up, or else the new
// camera there is the old one restarted.
constexpr uint32_t kAddressesPerFamily = 3;

std::vector<Fault> matrix(bool quick, bool tcp)
{
    const std::vector<double> probabilities = quick ? std::vector<double>{0.05} : std::vector<double>{0.01, 0.05, 0.2};
    std::vector<Fault> faults{{"none", "", 0, Silence::None}};
    for (const char* channel : {"control", "events"}) {
        for (const char* kind : {"drop", "duplicate", "reorder", "corrupt", "delay"}) {
            for (double p : probabilities)
                faults.push_back({std::string(channel) + "." + kind, std::string(channel) + "." + kind, p});
        }
    }
    std::vector<const char*> streamKinds{"drop", "reorder", "truncate", "corrupt"};
    if (tcp)
        streamKinds.push_back("cut");
    for (const char* kind : streamKinds) {
        for (double p : probabilities)
            faults.push_back({std::string("stream.") + kind, kind, p});
    }
    const std::vector<double> losses = quick ? std::vector<double>{0.05} : std::vector<double>{0.001, 0.01, 0.05};
    for (double p : losses)
        faults.push_back({"random loss", "", p, Silence::None, true});
    faults.push_back({"mute", "", 0, Silence::Mute});
    faults.push_back({"vanish, calls", "", 0, Silence::VanishBusy});
    faults.push_back({"vanish, quiet", "", 0, Silence::VanishQuiet});
    return faults;
}

hxsim::CameraConfig cameraFor(const Family& family, const Fault& fault, uint32_t address, uint64_t seed)
{
    hxsim::CameraConfig config;
    config.model = family.model;
    config.address = address;
    config.memoryBytes = uint64_t{1} << 30;
    config.userName = "faults-" + std::to_string(address & 0xFF);
    config.serial = "HXF" + std::to_string(address & 0xFFFF);
    config.seed = seed;
    if (fault.name.rfind("stream.", 0) == 0)
        hxsim::applyStreamFault(config.faults.stream, fault.setting, fault.probability);
    else if (!fault.setting.empty())
        hxsim::applyFault(config.faults, fault.setting + "=" + std::to_string(fault.probability));
    config.faults.mute = fault.silence == Silence::Mute;
    if (fault.silence == Silence::VanishBusy || fault.silence == Silence::VanishQuiet) {
        config.faults.vanishAt = kVanishAt;
        config.faults.vanishFor = kVanishFor;
    }
    return config;
}

// The cameras given up so far at each address, counted when the last camera there went away.
std::map<uint32_t, unsigned> givenUp;

// A camera at an address where the library still holds the last one would be that camera
// restarted: the row waits (bounded) until the library has given the last one up.
void waitUntilGivenUp(uint32_t address)
{
    const auto found = givenUp.find(address);
    if (found == givenUp.end())
        return;
    const HX_CAMERA_HANDLE handle = htonl(address);
    if (!Host::instance().waitForEvent(handle, HX_END, found->second, Clock::now() + 8 * kAgeOut + 2s))
        std::fprintf(stderr, "faults: %s: the library still holds the last camera there\n",
                     hxsim::dotted(address).c_str());
}

// Whether a row's wrong frames count against the target. UDP can damage anything; over TCP the
// network corrupts, drops and reorders nothing, but a connection can be cut or a packet end short,
// and an image spanning the break must never come back whole.
bool wrongFramesCount(const Family& family, const Fault& fault)
{
    if (std::strcmp(family.name, "tcp") != 0 || fault.name.rfind("stream.", 0) != 0)
        return true;
    return fault.setting == "truncate" || fault.setting == "cut";
}

Tally runRow(const Family& family, const Fault& fault, uint32_t address, uint64_t seed)
{
    waitUntilGivenUp(address);
    hxsim::Cluster cluster({cameraFor(family, fault, address, seed)}, [](const std::string&) {});
    Run run(cluster[0], seed);
    if (run.add()) {
        switch (fault.silence) {
        case Silence::VanishBusy:
        case Silence::VanishQuiet: run.recovery(fault.silence == Silence::VanishBusy); break;
        case Silence::Mute:
        case Silence::None:
            run.settings(fault.kernelLoss ? kLossRoundTrips : kRoundTrips);
            if (run.record())
                run.download(fault.kernelLoss);
            run.live();
            break;
        }
    }
    run.finish();
    if (run.added())
        givenUp[address] = Host::instance().events(htonl(address), HX_END);
    else
        givenUp.erase(address);
    cluster.stop();
    return run.tally;
}

void printHeader()
{
    std::fprintf(table, "%-4s %-18s %5s | %5s %5s %5s %4s | %5s %5s %5s %5s %5s | %-22s | %s\n", "fam", "fault", "p",
                 "ok", "err", "false", "hung", "whole", "incmp", "flip", "wrong", "miss", "slowest/limit (s)",
                 "recovery");
}

std::string percent(double probability)
{
    char text[16];
    std::snprintf(text, sizeof text, "%g%%", probability * 100);
    return text;
}

double perCall(const Tally& t)
{
    return t.settingsCalls == 0 ? 0 : t.settingsSeconds / t.settingsCalls * 1000;
}

// Beneath a loss row: its settings calls and download against the family's clean row.
void printLoss(const Fault& fault, const Tally& t, const std::optional<Tally>& clean)
{
    const std::string cleanCall = clean ? fmt::format("{:.2f} ms", perCall(*clean)) : std::string("not run");
    const std::string cleanDownload = clean ? fmt::format("{:.2f} s", clean->downloadSeconds) : std::string("not run");
    std::fprintf(
        table,
        "     %s %s: settings %u of %u ok, %.2f ms per call (clean %s), slowest %.3f s; download %u of %u frames whole "
        "after %u pass%s in %.2f s (clean %s)\n",
        fault.name.c_str(), percent(fault.probability).c_str(), t.settingsCalls - t.settingsFailed, t.settingsCalls,
        perCall(t), cleanCall.c_str(), t.settingsSlowest, t.downloadWhole, kFrames, t.downloadPasses,
        t.downloadPasses == 1 ? "" : "es", t.downloadSeconds, cleanDownload.c_str());
    std::fflush(table);
}

void printRow(const char* family, const Fault& fault, const Tally& t)
{
    const std::string p = fault.probability > 0 ? percent(fault.probability) : "";
    std::fprintf(table, "%-4s %-18s %5s | %5u %5u %5u %4u | %5u %5u %5u %5u %5u | %5.2f/%5.2f %-10.10s | %s\n", family,
                 fault.name.c_str(), p.c_str(), t.succeeded, t.failed, t.falseSuccess, t.hung, t.complete, t.incomplete,
                 t.flipped, t.wrong, t.missing, t.slowest, std::chrono::duration<double>(kCallLimit).count(),
                 t.slowestCall.c_str(), t.recovery.c_str());
    std::fflush(table);
}

// Whether a row's "family fault" text contains one of the comma-separated texts (all rows for none).
bool selected(const std::string& only, const std::string& row)
{
    if (only.empty())
        return true;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = only.find(',', start);
        if (row.find(only.substr(start, comma - start)) != std::string::npos)
            return true;
        if (comma == std::string::npos)
            return false;
        start = comma + 1;
    }
}

struct Options {
    bool quick = false;
    uint64_t seed = 1;
    std::string only; // rows whose "family fault" contains one of these texts, comma-separated
    std::string log = "/dev/null";
};

bool parse(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--quick") {
            options.quick = true;
        } else if (arg == "--seed" && i + 1 < argc) {
            options.seed = std::strtoull(argv[++i], nullptr, 10);
        } else if (arg == "--only" && i + 1 < argc) {
            options.only = argv[++i];
        } else if (arg == "--log" && i + 1 < argc) {
            options.log = argv[++i];
        } else {
            std::fprintf(stderr, "usage: faults [--quick] [--seed N] [--only TEXT] [--log FILE]\n");
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!parse(argc, argv, options))
        return 2;
    std::string why;
    if (!hx_test::enterPrivateNetwork(why)) {
        std::fprintf(stderr, "refusing to run: the fault matrix needs a private network namespace (%s)\n", why.c_str());
        return 2;
    }
    halvex::thread::setPeriodScale(kPeriodScale);
    // The library logs to standard output: the table keeps the original one, the log goes to a file.
    table = fdopen(dup(STDOUT_FILENO), "w");
    if (table == nullptr || std::freopen(options.log.c_str(), "w", stdout) == nullptr) {
        std::fprintf(stderr, "faults: cannot write the log to %s\n", options.log.c_str());
        return 2;
    }
    Host& host = Host::instance();
    if (!host.start()) {
        std::fprintf(stderr, "faults: the library refused a client\n");
        return 2;
    }
    const auto start = Clock::now();
    std::fprintf(table,
                 "fault matrix%s, seed %llu: calls (ok, failed with an error, false successes, hung), images "
                 "(whole, flagged incomplete, bits flipped in the pixels, wrong, missing)\n",
                 options.quick ? " (quick)" : "", static_cast<unsigned long long>(options.seed));
    printHeader();
    Tally total;
    unsigned recoveries = 0;
    unsigned wrong = 0;
    for (const Family& family : kFamilies) {
        const bool tcp = std::strcmp(family.name, "tcp") == 0;
        const std::vector<Fault> faults = matrix(options.quick, tcp);
        std::optional<Tally> clean;
        for (std::size_t i = 0; i < faults.size(); ++i) {
            const std::string row = std::string(family.name) + " " + faults[i].name;
            if (!selected(options.only, row))
                continue;
            // A mark in the library's log, which is this program's standard output.
            std::printf("=== faults: %s %s %g\n", family.name, faults[i].name.c_str(), faults[i].probability);
            std::fflush(stdout);
            std::optional<KernelLoss> loss;
            if (faults[i].kernelLoss) {
                loss.emplace(faults[i].probability);
                if (!loss->installed()) {
                    std::fprintf(table,
                                 "%-4s %-18s %5s | skipped: nft (nftables) is missing or refused the drop rule\n",
                                 family.name, faults[i].name.c_str(), percent(faults[i].probability).c_str());
                    continue;
                }
            }
            const Tally tally =
                runRow(family, faults[i], family.firstAddress + static_cast<uint32_t>(i) % kAddressesPerFamily,
                       options.seed * 1000 + i);
            loss.reset();
            printRow(family.name, faults[i], tally);
            if (faults[i].name == "none")
                clean = tally;
            if (faults[i].kernelLoss)
                printLoss(faults[i], tally, clean);
            total.add(tally);
            recoveries += tally.recoveryFailed ? 1 : 0;
            wrong += wrongFramesCount(family, faults[i]) ? tally.wrong : 0;
        }
    }
    std::fprintf(table, "%.0f s\n", std::chrono::duration<double>(Clock::now() - start).count());
    std::fprintf(table,
                 "faults: %u hangs, %u false successes, %u wrong frames reported complete, %u failed recoveries\n",
                 total.hung, total.falseSuccess, wrong, recoveries);
    std::fflush(table);
    const bool met = total.hung == 0 && total.falseSuccess == 0 && wrong == 0 && recoveries == 0;
    if (total.hung != 0)
        _exit(met ? 0 : 1); // a call still runs inside the library: shutting down would wait for it
    HX_unregister(host.client());
    HX_shutdown();
    return met ? 0 : 1;
}
